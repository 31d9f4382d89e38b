// The kavlo tool as an operator uses it: its own process, its exit codes, what it prints, and
// what it leaves in the database and the folders.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "demonstracao/BancoDemo.h"
#include "entry/Conexao.h"
#include "import/ArquivoRetorno.h"
#include "tests/apoio/AcessoTeste.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/Ferramenta.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

class Ferramenta : public ::testing::Test {
  protected:
    void Demo(int servidores = 300) {
        demo::OpcoesDemo o;
        o.banco = Banco();
        o.retorno = Retorno();
        o.servidores = servidores;
        demo::CriarBancoDemo(o);
    }
    std::string Banco() const { return (pasta_.Caminho() / "folha.fdb").string(); }
    std::string Retorno() const { return (pasta_.Caminho() / "retorno.txt").string(); }
    std::string Resultado() const { return (pasta_.Caminho() / "resultado.txt").string(); }
    Execucao Importar(std::vector<std::string> extra = {}) {
        std::vector<std::string> a = {
            "importar",    "--mes",     "2",         "--ano",   "2024",     "--banco", Banco(),
            "--resultado", Resultado(), "--retorno", Retorno(), "--folhas", "MENSAL"};
        a.insert(a.end(), extra.begin(), extra.end());
        return Kavlo(a, pasta_.Caminho());
    }
    std::string Importacoes() {
        return Kavlo({"importacoes", "--banco", Banco()}, pasta_.Caminho()).saida;
    }
    // The month's table, every row and column.
    std::vector<std::vector<std::u16string>> Tabela(const std::string& banco) const {
        return BancoTesteExistente(fs::path(banco))
            .Linhas("select * from SFPDXX02FEV order by MATRICULA, SALARIO");
    }
    PastaTemporaria pasta_;
};

}  // namespace

TEST_F(Ferramenta, LinhaDeComandoEmPortugues) {
    struct Caso {
        std::vector<std::string> argumentos;
        std::string mensagem;
    };
    for (const auto& c : std::vector<Caso>{
             {{}, "Informe um subcomando"},
             {{"importar", "--mes", "13", "--ano", "2024", "--banco", "b", "--resultado", "r",
               "--retorno", "t"},
              "Valor inválido em --mes: 13 fora da faixa; informe um número de 1 a 12"},
             {{"importar", "--mes", "2", "--ano", "2024", "--banco", "b", "--retorno", "t"},
              "A opção --resultado é obrigatória"},
             {{"importar", "--mes", "2", "--ano", "2024", "--banco", "b", "--resultado", "r",
               "--retorno", "t", "--verifica-margem", "s"},
              "Valor inválido em --verifica-margem: 's' não é aceito; informe S ou N"},
             {{"gerar", "--mes", "2", "--mes-anterior", "1", "--ano", "2024", "--banco", "b",
               "--saida", "", "--filtro", "x"},
              "Valor inválido em --saida: o valor não pode ficar vazio"},
             {{"demo", "--banco", "x", "--servidores", "abc"},
              "'abc' não é um número; informe um número de 1 a 1000000"},
             {{"importar", "--mes", "2", "--ano", "2024", "--banco", "b", "--resultado", "r",
               "--retorno", "t", "demais"},
              "Argumentos não esperados: demais"},
         }) {
        const Execucao e = Kavlo(c.argumentos, pasta_.Caminho());
        EXPECT_EQ(e.codigo, 2) << e.erro;
        EXPECT_NE(e.erro.find(c.mensagem), std::string::npos) << e.erro;
        EXPECT_NE(e.erro.find("kavlo --help"), std::string::npos) << e.erro;
        EXPECT_EQ(e.saida, "");
    }
}

TEST_F(Ferramenta, DemoNaoSubstituiOQueNaoCriou) {
    Demo();
    const Execucao existe = Kavlo({"demo", "--banco", Banco()}, pasta_.Caminho());
    EXPECT_EQ(existe.codigo, 1);
    EXPECT_NE(existe.erro.find("já existe e não foi substituído"), std::string::npos)
        << existe.erro;
    // A payroll database that kavlo demo did not make is never replaced, --substituir or not.
    const std::string folha = (pasta_.Caminho() / "outra.fdb").string();
    {
        BancoTeste real("CREATE TABLE SFP003 (DESCRICAO VARCHAR(100))");
        fs::copy_file(real.Arquivo(), folha);
    }
    const auto bytes = LerArquivo(folha);
    const Execucao outra = Kavlo({"demo", "--banco", folha, "--substituir"}, pasta_.Caminho());
    EXPECT_EQ(outra.codigo, 1);
    EXPECT_NE(outra.erro.find("não é um banco de demonstração criado por kavlo demo"),
              std::string::npos)
        << outra.erro;
    EXPECT_NE(outra.erro.find("KAVLO_DEMO"), std::string::npos);
    EXPECT_EQ(LerArquivo(folha), bytes);
    // Nor a return file it did not write.
    GravarArquivo(pasta_.Caminho() / "meu.txt", "meu arquivo");
    const Execucao texto = Kavlo({"demo", "--banco", Banco(), "--retorno",
                                  (pasta_.Caminho() / "meu.txt").string(), "--substituir"},
                                 pasta_.Caminho());
    EXPECT_EQ(texto.codigo, 1);
    EXPECT_EQ(LerArquivo(pasta_.Caminho() / "meu.txt"), "meu arquivo");
    // Its own, it replaces when asked.
    const Execucao substitui = Kavlo(
        {"demo", "--banco", Banco(), "--retorno", Retorno(), "--substituir", "--servidores", "50"},
        pasta_.Caminho());
    EXPECT_EQ(substitui.codigo, 0) << substitui.erro;
}

TEST_F(Ferramenta, GerarComPastaSemBarraEResumoNaSaidaPadrao) {
    Demo();
    fs::create_directory(pasta_.Caminho() / "gs");
    const std::vector<std::string> base = {"gerar",
                                           "--ano",
                                           "2024",
                                           "--banco",
                                           Banco(),
                                           "--saida",
                                           (pasta_.Caminho() / "gs").string(),
                                           "--filtro",
                                           "select matricula from SFP001FEV"};
    auto com = [&](std::vector<std::string> meses) {
        meses.insert(meses.begin(), base.begin(), base.end());
        return Kavlo(meses, pasta_.Caminho());
    };
    const Execucao igual = com({"--mes", "2", "--mes-anterior", "2"});
    EXPECT_EQ(igual.codigo, 1);
    EXPECT_NE(igual.erro.find("é o próprio mês da folha"), std::string::npos) << igual.erro;
    const Execucao e = com({"--mes", "2", "--mes-anterior", "1"});
    ASSERT_EQ(e.codigo, 0) << e.erro;
    EXPECT_EQ(NomesNaPasta(pasta_.Caminho() / "gs"),
              (std::set<std::string>{"Margem.txt", "Pessoas.csv", "Transferidos.txt"}));
    EXPECT_NE(e.saida.find("Arquivos gerados em"), std::string::npos) << e.saida;
    EXPECT_NE(e.saida.find("margem total R$ "), std::string::npos) << e.saida;
}

TEST_F(Ferramenta, ImportarConfereOArquivoAntesDeLancar) {
    Demo();
    // Every instalment line one character longer: keys and amounts fall on other positions.
    const std::string original = LerArquivo(Retorno());
    std::string deslocado;
    size_t linha = 0;
    for (size_t i = 0, fim; (fim = original.find("\r\n", i)) != std::string::npos; i = fim + 2) {
        std::string l = original.substr(i, fim - i);
        if (linha++ > 0 && original.find("\r\n", fim + 2) != std::string::npos)
            l.insert(retorno::Nome.inicio - 1, " ");
        deslocado += l + "\r\n";
    }
    GravarArquivo(Retorno(), deslocado);
    const Execucao parado = Importar();
    EXPECT_EQ(parado.codigo, 3) << parado.erro;
    EXPECT_NE(parado.erro.find("Nada foi lançado"), std::string::npos) << parado.erro;
    EXPECT_NE(parado.erro.find("--forcar"), std::string::npos) << parado.erro;
    EXPECT_NE(Importacoes().find("Nenhuma importação"), std::string::npos);
    EXPECT_FALSE(fs::exists(Resultado()));

    const Execucao verificar = Kavlo(
        {"verificar", "--mes", "2", "--ano", "2024", "--banco", Banco(), "--retorno", Retorno()},
        pasta_.Caminho());
    EXPECT_EQ(verificar.codigo, 3);
    EXPECT_NE(verificar.saida.find("conferir antes de importar"), std::string::npos);

    GravarArquivo(Retorno(), original);
    const Execucao certo = Kavlo(
        {"verificar", "--mes", "2", "--ano", "2024", "--banco", Banco(), "--retorno", Retorno()},
        pasta_.Caminho());
    EXPECT_EQ(certo.codigo, 0) << certo.saida;
    EXPECT_NE(certo.saida.find("nada impede a importação"), std::string::npos) << certo.saida;

    // A simulation writes under its own names and words its summary as what would happen.
    const Execucao simulada = Importar({"--simular"});
    ASSERT_EQ(simulada.codigo, 0) << simulada.erro;
    EXPECT_NE(simulada.saida.find("Parcelas que seriam descontadas"), std::string::npos);
    EXPECT_NE(simulada.saida.find("Total que seria descontado"), std::string::npos);
    EXPECT_NE(simulada.saida.find("Margem verificada: sim"), std::string::npos);
    EXPECT_TRUE(fs::exists(pasta_.Caminho() / "resultado.SIMULACAO.txt"));
    EXPECT_TRUE(fs::exists(pasta_.Caminho() / "ServidoresSemMargem.SIMULACAO.txt"));
    EXPECT_FALSE(fs::exists(Resultado()));

    const Execucao real = Importar();
    ASSERT_EQ(real.codigo, 0) << real.erro;
    EXPECT_NE(real.saida.find("Importação 1 concluída."), std::string::npos) << real.saida;
    EXPECT_NE(real.saida.find("linha 2: "), std::string::npos) << real.saida;  // a key not found
    EXPECT_TRUE(fs::exists(pasta_.Caminho() / "resultado.VERIFICACAO.txt"));
    const Execucao duasVezes = Importar();
    EXPECT_EQ(duasVezes.codigo, 3);
    EXPECT_NE(duasVezes.erro.find("já foi importado"), std::string::npos) << duasVezes.erro;
    EXPECT_NE(Importacoes().find("    1  "), std::string::npos);

    const Execucao estorno =
        Kavlo({"estornar", "--banco", Banco(), "--importacao", "1"}, pasta_.Caminho());
    EXPECT_EQ(estorno.codigo, 0) << estorno.erro;
    EXPECT_NE(estorno.saida.find("Importação 1 estornada"), std::string::npos) << estorno.saida;
    EXPECT_NE(Importacoes().find("estornada em"), std::string::npos);
}

// SIGINT or SIGTERM at any moment of a command that writes: it is cancelled and rolled back (exit
// 128 + the signal, saying what it kept; the table, the journal and the earlier files as they were,
// no stray file), or it had finished (exit 0, all of it done). Never half, never a crash.
TEST_F(Ferramenta, InterrupcaoDeCadaComandoQueGrava) {
    Demo(20000);
    using Estado = std::vector<std::vector<std::u16string>>;
    using Relogio = std::chrono::steady_clock;
    const fs::path p = pasta_.Caminho();
    const fs::path modelo = p / "modelo.fdb", importado = p / "importado.fdb", saida = p / "saida";
    fs::copy_file(Banco(), modelo);
    fs::create_directory(saida);
    const char* const kGerados[] = {"Pessoas.csv", "Margem.txt", "Transferidos.txt"};
    // The month's table and the journal's word on import 1.
    auto banco = [&] {
        Estado e = Tabela(Banco());
        const std::string diario = Importacoes();
        e.push_back({diario.find("vigente") != std::string::npos ? u"vigente" : u"-"});
        return e;
    };
    auto arquivos = [&] {
        Estado e(1);
        for (const char* nome : kGerados)
            e[0].push_back(fs::exists(saida / nome) ? DeUtf8(LerArquivo(saida / nome)) : u"-");
        return e;
    };
    auto criado = [&] { return Estado{{fs::exists(p / "novo.fdb") ? u"novo.fdb" : u"-"}}; };
    struct Caso {
        std::string nome;
        std::vector<std::string> argumentos;
        std::function<void()> preparar;  // the state every run starts from
        std::function<Estado()> estado;
        std::string mantido;  // what the tool says an interrupted run kept
        Estado antes = {}, depois = {};
        std::chrono::duration<double> tempo = {};
    };
    auto inicio = [&](const fs::path& base) {
        return [&, base] {
            fs::copy_file(base, Banco(), fs::copy_options::overwrite_existing);
            for (const char* resto : {"resultado.txt", "resultado.VERIFICACAO.txt",
                                      "ServidoresSemMargem.txt", "novo.fdb", "novo.txt"})
                fs::remove(p / resto);
            for (const char* nome : kGerados) GravarArquivo(saida / nome, "anterior");
        };
    };
    std::vector<Caso> casos = {
        {"importar",
         {"importar", "--mes", "2", "--ano", "2024", "--banco", Banco(), "--resultado", Resultado(),
          "--retorno", Retorno(), "--folhas", "MENSAL"},
         inicio(modelo),
         banco,
         "nenhuma parcela foi lançada"},
        {"estornar",
         {"estornar", "--banco", Banco(), "--importacao", "1"},
         inicio(importado),
         banco,
         "nenhum lançamento foi desfeito"},
        {"gerar",
         {"gerar", "--mes", "2", "--mes-anterior", "1", "--ano", "2024", "--banco", Banco(),
          "--saida", saida.string(), "--filtro", "select matricula from SFP001FEV"},
         inicio(modelo),
         arquivos,
         "os arquivos anteriores foram mantidos"},
        {"demo",
         {"demo", "--banco", (p / "novo.fdb").string(), "--retorno", (p / "novo.txt").string(),
          "--servidores", "20000"},
         inicio(modelo),
         criado,
         "nada foi criado"},
    };
    // Each command run whole once: what it leaves, and how long it takes.
    for (Caso& c : casos) {
        if (c.nome == "estornar") fs::copy_file(Banco(), importado);  // the import's outcome
        c.preparar();
        c.antes = c.estado();
        const auto t0 = Relogio::now();
        const Execucao e = Kavlo(c.argumentos, p);
        c.tempo = Relogio::now() - t0;
        ASSERT_EQ(e.codigo, 0) << c.nome << ": " << e.erro;
        c.depois = c.estado();
        ASSERT_NE(c.depois, c.antes) << c.nome;
    }
    for (Caso& c : casos) {
        int canceladas = 0;
        for (const auto& [sinal, fracao] : {std::pair{SIGINT, 0.25}, std::pair{SIGTERM, 0.6}}) {
            const auto apos =
                std::chrono::duration_cast<std::chrono::milliseconds>(c.tempo * fracao);
            SCOPED_TRACE(c.nome + (sinal == SIGINT ? " SIGINT " : " SIGTERM ") +
                         std::to_string(apos.count()) + " ms");
            c.preparar();
            const Execucao e = Kavlo(c.argumentos, p, SinalApos{sinal, apos});
            if (e.codigo == 128 + sinal) {
                ++canceladas;
                EXPECT_NE(e.erro.find("a operação foi cancelada e " + c.mantido), std::string::npos)
                    << e.erro;
                EXPECT_EQ(c.estado(), c.antes);
                EXPECT_EQ(NomesNaPasta(p),
                          (std::set<std::string>{"folha.fdb", "importado.fdb", "modelo.fdb",
                                                 "retorno.txt", "saida"}));
                EXPECT_EQ(NomesNaPasta(saida),
                          (std::set<std::string>{std::begin(kGerados), std::end(kGerados)}));
            } else {
                EXPECT_EQ(e.codigo, 0) << e.erro;
                EXPECT_EQ(c.estado(), c.depois);
            }
        }
        EXPECT_GE(canceladas, 1) << c.nome;
    }
}

// The file where the tool keeps the check's findings (<resultado>.VERIFICACAO<ext>) is one of the
// files it writes: it may not be the return file, nor the database. A host, which never writes
// that file, is not refused for it.
TEST_F(Ferramenta, ArquivoDeVerificacaoNaoSobrescreveOutro) {
    Demo();
    const fs::path p = pasta_.Caminho();
    const std::string r = (p / "r.txt").string();
    struct Caso {
        std::string nome, banco, retorno;
        std::vector<std::string> extra;
        std::string papel;
    };
    fs::copy_file(Banco(), p / "r.VERIFICACAO.txt");
    fs::copy_file(Retorno(), p / "t.VERIFICACAO.txt");
    fs::copy_file(Retorno(), p / "t.SIMULACAO.VERIFICACAO.txt");
    for (const auto& c : std::vector<Caso>{
             {"o retorno", Banco(), (p / "r.VERIFICACAO.txt").string(), {}, "arquivo de retorno ("},
             {"o banco",
              (p / "r.VERIFICACAO.txt").string(),
              Retorno(),
              {},
              "banco de dados da folha"},
             {"o retorno de uma simulação",
              Banco(),
              (p / "t.SIMULACAO.VERIFICACAO.txt").string(),
              {"--simular"},
              "arquivo de retorno ("},
         }) {
        SCOPED_TRACE(c.nome);
        const std::string resultado = c.extra.empty() ? r : (p / "t.txt").string();
        // A simulation's result is t.SIMULACAO.txt, its findings t.SIMULACAO.VERIFICACAO.txt.
        const auto tabela = Tabela(c.banco);
        const std::string retorno = LerArquivo(c.retorno);
        std::vector<std::string> a = {"importar", "--mes",    "2",           "--ano",   "2024",
                                      "--banco",  c.banco,    "--resultado", resultado, "--retorno",
                                      c.retorno,  "--folhas", "MENSAL"};
        a.insert(a.end(), c.extra.begin(), c.extra.end());
        const Execucao e = Kavlo(a, p);
        EXPECT_EQ(e.codigo, 1) << e.erro;
        EXPECT_NE(e.erro.find("arquivo de verificação do retorno"), std::string::npos) << e.erro;
        EXPECT_NE(e.erro.find(c.papel), std::string::npos) << e.erro;
        EXPECT_NE(e.erro.find("informe caminhos diferentes"), std::string::npos) << e.erro;
        EXPECT_EQ(LerArquivo(c.retorno), retorno);
        EXPECT_EQ(Tabela(c.banco), tabela);
        EXPECT_FALSE(fs::exists(r));
        EXPECT_FALSE(fs::exists(p / "t.SIMULACAO.txt"));
    }
    // The host writes the result and the report only: the same names are fine for it.
    const auto tabela = Tabela(Banco());
    CadeiaHost mes(u"2"), ano(u"2024"), banco(DeUtf8(Banco())), res(DeUtf8(r)),
        load(DeUtf8((p / "r.VERIFICACAO.txt").string())), folhas(u"MENSAL"), s(u"S");
    GravarArquivo(p / "r.VERIFICACAO.txt", LerArquivo(Retorno()));
    EXPECT_EQ(MensagemDeErro([&] { ImportarArquivo(mes, ano, banco, res, load, folhas, s); }), "");
    dmConexao().fdConexao.Fechar();
    EXPECT_NE(Tabela(Banco()), tabela);
    EXPECT_EQ(LerArquivo(p / "r.VERIFICACAO.txt"), LerArquivo(Retorno()));
}

// The summary is what the call did, by the id it took: a return file changed between the commit and
// the summary (here the moment the result file is put in place) changes nothing of it.
TEST_F(Ferramenta, ResumoDaImportacaoFeitaMesmoComORetornoAlteradoDepois) {
    Demo();
    const int avisos = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(avisos, 0);
    ASSERT_GE(::inotify_add_watch(avisos, pasta_.Caminho().c_str(), IN_MOVED_TO), 0);
    std::thread alterar([&] {
        alignas(inotify_event) char buf[4096];
        pollfd p{avisos, POLLIN, 0};
        while (::poll(&p, 1, 60000) > 0) {
            const ssize_t n = ::read(avisos, buf, sizeof buf);
            for (ssize_t i = 0; i < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + i);
                if (e->len && std::string(e->name) == "resultado.txt") {
                    GravarArquivo(Retorno(), LerArquivo(Retorno()) + "\r\n");
                    return;
                }
                i += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
    });
    const Execucao e = Importar();
    alterar.join();
    ::close(avisos);
    EXPECT_EQ(e.codigo, 0) << e.erro;
    EXPECT_NE(e.saida.find("Importação 1 concluída."), std::string::npos) << e.saida;
    EXPECT_NE(e.saida.find("Total descontado: R$ "), std::string::npos) << e.saida;
    EXPECT_NE(Importacoes().find("    1  "), std::string::npos);
}
