// The kavlo tool as an operator uses it: its own process, its exit codes, what it prints, and
// what it leaves in the database and the folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "dao/BancoFolha.h"
#include "dao/firebird/Firebird.h"
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
             // A mistyped name is answered with the nearest valid one, before the required
             // option it left out.
             {{"gerr", "--mes", "2"}, "Subcomando desconhecido: gerr; quis dizer gerar?"},
             {{"importacao", "--banco", "b"},
              "Subcomando desconhecido: importacao; quis dizer importacoes?"},
             {{"apagar"},
              "Subcomando desconhecido: apagar; os subcomandos são gerar, importar, verificar"},
             {{"gerar", "--mess", "2", "--mes-anterior", "1", "--ano", "2024", "--banco", "b",
               "--saida", "s", "--filtro", "x"},
              "Opção desconhecida: --mess; quis dizer --mes?"},
             {{"importar", "--mes", "2", "--ano", "2024", "--banco", "b", "--resultado", "r",
               "--retorno", "t", "--verifica-margen=S"},
              "Opção desconhecida: --verifica-margen; quis dizer --verifica-margem?"},
             {{"estornar", "--banco", "b", "--importacao", "1", "--tudo"},
              "Opção desconhecida: --tudo\n"},
             // Every mistake of the command line exits 2, those the tool checks itself too, and
             // is told before any database is opened.
             {{"gerar", "--mes", "2", "--mes-anterior", "2", "--ano", "2024", "--banco", "b",
               "--saida", "s", "--filtro", "x"},
              "Valor inválido em --mes-anterior: 2 é o próprio mês da folha (--mes): nenhum "
              "servidor apareceria como transferido; informe o mês que antecede 2."},
             {{"demo", "--banco", "x", "--ano", "20244"},
              "Valor inválido em --ano: 20244 fora da faixa; informe um número de 1901 a 9998"},
             {{"estornar", "--banco", "b", "--importacao", "sete"},
              "Valor inválido em --importacao: 'sete'"},
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
    // Its summary on standard output, as every command's.
    EXPECT_TRUE(substitui.saida.starts_with("Banco de demonstração criado em")) << substitui.saida;
    EXPECT_EQ(substitui.erro, "");
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
    EXPECT_EQ(igual.codigo, 2);
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
            for (const char* resto :
                 {"resultado.txt", "resultado.VERIFICACAO.txt", "ServidoresSemMargem.txt",
                  "resultado.SemMargem.txt", "resultado.Recusadas.txt", "novo.fdb", "novo.txt"})
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

namespace {

// The lines of a file split at CR LF, as the demo and the library write them.
std::vector<std::string> LinhasCrLf(const std::string& bytes) {
    std::vector<std::string> r;
    for (size_t i = 0, fim; (fim = bytes.find("\r\n", i)) != std::string::npos; i = fim + 2)
        r.push_back(bytes.substr(i, fim - i));
    return r;
}

std::string Chave(const std::string& linha) {
    return ParaUtf8(ChaveServidor(DeWindows1252(linha)));
}

// One statement on a database file, committed.
void Alterar(const fs::path& banco, const std::string& sql) {
    fb::Conexao c;
    AbrirBancoDaFolha(c, DeUtf8(banco.string()));
    fb::Transacao t(c, fb::ModoTransacao::Escrita);
    fb::Comando(t, DeUtf8(sql), "alterar o banco de teste").Executar();
    t.Commit();
}

// A folder in which no file can be created while this lives, root included: immutable where the
// file system allows it, and without write permission. Valida() is false when neither holds.
class PastaSemEscrita {
  public:
    explicit PastaSemEscrita(fs::path pasta) : pasta_(std::move(pasta)) {
        fs::permissions(pasta_, fs::perms::owner_write, fs::perm_options::remove);
        if (!Gravavel()) return;
        descritor_ = ::open(pasta_.c_str(), O_RDONLY | O_DIRECTORY);
        int marcas = 0;
        if (descritor_ >= 0 && ::ioctl(descritor_, FS_IOC_GETFLAGS, &marcas) == 0) {
            marcas |= FS_IMMUTABLE_FL;
            imutavel_ = ::ioctl(descritor_, FS_IOC_SETFLAGS, &marcas) == 0;
        }
    }
    ~PastaSemEscrita() {
        int marcas = 0;
        if (imutavel_ && ::ioctl(descritor_, FS_IOC_GETFLAGS, &marcas) == 0) {
            marcas &= ~FS_IMMUTABLE_FL;
            ::ioctl(descritor_, FS_IOC_SETFLAGS, &marcas);
        }
        if (descritor_ >= 0) ::close(descritor_);
        fs::permissions(pasta_, fs::perms::owner_write, fs::perm_options::add);
    }
    PastaSemEscrita(const PastaSemEscrita&) = delete;
    PastaSemEscrita& operator=(const PastaSemEscrita&) = delete;
    bool Valida() const { return !Gravavel(); }

  private:
    bool Gravavel() const {
        const fs::path sonda = pasta_ / ".sonda";
        const int f = ::open(sonda.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
        if (f < 0) return false;
        ::close(f);
        fs::remove(sonda);
        return true;
    }
    fs::path pasta_;
    int descritor_ = -1;
    bool imutavel_ = false;
};

}  // namespace

// The report lives in the database's folder, where a host looks for it, and beside the result
// under the result's name: an import of another database into the same folder replaces the first,
// never the second. A database folder that cannot be written leaves the copy, and the tool says so.
TEST_F(Ferramenta, RelatorioAoLadoDoResultadoNuncaSePerde) {
    Demo();
    const fs::path p = pasta_.Caminho(), saida = p / "saida";
    fs::create_directory(saida);
    fs::copy_file(Banco(), p / "outra.fdb");
    fs::copy_file(Banco(), p / "modelo.fdb");
    // Another database of the same folder, with a margin that covers nothing: a report of its own.
    Alterar(p / "outra.fdb", "update SFPDXX02FEV set MCVALOR = 0");
    auto importar = [&](const fs::path& banco, const std::string& resultado) {
        return Kavlo(ImportarDaDemo(banco.string(), (saida / resultado).string(), Retorno()), p);
    };
    const Execucao primeira = importar(Banco(), "r1.txt");
    ASSERT_EQ(primeira.codigo, 0) << primeira.erro;
    const std::string relatorio = LerArquivo(p / "ServidoresSemMargem.txt");
    EXPECT_EQ(LerArquivo(saida / "r1.SemMargem.txt"), relatorio);
    EXPECT_NE(primeira.saida.find("Cópia do relatório, ao lado do resultado: " +
                                  (saida / "r1.SemMargem.txt").string()),
              std::string::npos)
        << primeira.saida;
    const Execucao segunda = importar(p / "outra.fdb", "r2.txt");
    ASSERT_EQ(segunda.codigo, 0) << segunda.erro;
    EXPECT_NE(LerArquivo(p / "ServidoresSemMargem.txt"), relatorio);
    EXPECT_EQ(LerArquivo(saida / "r2.SemMargem.txt"), LerArquivo(p / "ServidoresSemMargem.txt"));
    EXPECT_EQ(LerArquivo(saida / "r1.SemMargem.txt"), relatorio);

    // The database's folder cannot be written: the import goes on and says where the report is.
    fs::remove(p / "ServidoresSemMargem.txt");
    const auto antes = Tabela((p / "modelo.fdb").string());
    PastaSemEscrita trancada(p);
    if (!trancada.Valida())
        GTEST_SKIP() << "a pasta do banco não pôde ser protegida contra escrita";
    const Execucao sem = Kavlo(
        ImportarDaDemo((p / "modelo.fdb").string(), (saida / "r4.txt").string(), Retorno()), saida);
    ASSERT_EQ(sem.codigo, 0) << sem.erro;
    EXPECT_NE(sem.saida.find("Aviso: o relatório de servidores sem margem não pôde ser gravado na "
                             "pasta do banco de dados"),
              std::string::npos)
        << sem.saida;
    EXPECT_NE(sem.saida.find("ele está em '" + (saida / "r4.SemMargem.txt").string() +
                             "', ao lado do arquivo de resultado"),
              std::string::npos)
        << sem.saida;
    EXPECT_FALSE(fs::exists(p / "ServidoresSemMargem.txt"));
    EXPECT_NE(LerArquivo(saida / "r4.SemMargem.txt"), "");
    EXPECT_NE(Tabela((p / "modelo.fdb").string()), antes);  // posted
}

// The lines an import did not post go back as a return file of their own: re-imported into the
// month after the first import, once a margin was raised and a slot freed, it passes the check as
// it stands and posts exactly the lines of those two servants; the rest are refused again.
TEST_F(Ferramenta, LinhasRecusadasReimportadasLancamSoOQueFicouLancavel) {
    Demo();
    const fs::path p = pasta_.Caminho();
    const Execucao primeira = Importar();
    ASSERT_EQ(primeira.codigo, 0) << primeira.erro;
    const std::string recusadas = LerArquivo(p / "resultado.Recusadas.txt");
    const std::vector<std::string> linhas = LinhasCrLf(recusadas);
    ASSERT_GE(linhas.size(), 4u);
    EXPECT_EQ(linhas.front(), LinhasCrLf(LerArquivo(Retorno())).front());
    EXPECT_NE(
        primeira.saida.find("Linhas recusadas (" + std::to_string(linhas.size() - 2) + ", R$ "),
        std::string::npos)
        << primeira.saida;

    // Every line refused is a return line as it was, and each has a reason in the result file or
    // the summary: the keys of the report (no margin), of a result line marked as not posted.
    std::multiset<std::string> recusadasPorChave, semMargem;
    for (size_t i = 1; i + 1 < linhas.size(); ++i) recusadasPorChave.insert(Chave(linhas[i]));
    for (const std::string& l : LinhasCrLf(LerArquivo(p / "resultado.SemMargem.txt")))
        semMargem.insert(l.substr(0, l.find(" - ")));
    std::set<std::string> semSlot;
    for (const std::string& l : LinhasCrLf(LerArquivo(Resultado())))
        if (l.size() == 260 && l.substr(124, 15) == " N\xC3O DESCONTADO" &&
            !semMargem.count(Chave(l)))
            semSlot.insert(Chave(l));
    std::string comMargem, comSlot;
    for (const std::string& chave : recusadasPorChave)
        if (recusadasPorChave.count(chave) == 1) {
            if (comMargem.empty() && semMargem.count(chave) == 1) comMargem = chave;
            if (comSlot.empty() && semSlot.count(chave)) comSlot = chave;
        }
    ASSERT_NE(comMargem, "");
    ASSERT_NE(comSlot, "");

    // A copy of the month as the import left it, a margin raised and a slot freed.
    const fs::path copia = p / "copia.fdb";
    fs::copy_file(Banco(), copia);
    Alterar(copia, "update SFPDXX02FEV set MCVALOR = 1000000 where MATRICULA in ('" + comMargem +
                       "', '" + comSlot + "')");
    Alterar(copia,
            "update SFPDXX02FEV set COD1 = NULL, VALOR1 = NULL, QUANT1 = NULL, PERC1 = "
            "NULL, TEMPO1 = NULL where MATRICULA = '" +
                comSlot + "'");
    const Execucao segunda = Kavlo(ImportarDaDemo(copia.string(), (p / "segunda.txt").string(),
                                                  (p / "resultado.Recusadas.txt").string()),
                                   p);
    ASSERT_EQ(segunda.codigo, 0) << segunda.erro;
    EXPECT_EQ(segunda.erro, "");
    EXPECT_NE(segunda.saida.find("Importação 2 concluída."), std::string::npos) << segunda.saida;
    EXPECT_NE(segunda.saida.find("Parcelas descontadas integralmente: 2\n"), std::string::npos)
        << segunda.saida;
    std::set<std::u16string> lancadas;
    for (const auto& l : BancoTesteExistente(copia).Linhas(
             "select MATRICULA from KAVLO_LANCAMENTO where ID_IMPORTACAO = 2"))
        lancadas.insert(l[0]);
    EXPECT_EQ(lancadas, (std::set<std::u16string>{DeUtf8(comMargem), DeUtf8(comSlot)}));

    // What is still refused: the same lines but those two, under the same header, and a trailer
    // that the check finds right.
    std::vector<std::string> restantes = {linhas.front()};
    for (size_t i = 1; i + 1 < linhas.size(); ++i)
        if (Chave(linhas[i]) != comMargem && Chave(linhas[i]) != comSlot)
            restantes.push_back(linhas[i]);
    const std::vector<std::string> denovo = LinhasCrLf(LerArquivo(p / "segunda.Recusadas.txt"));
    ASSERT_EQ(denovo.size(), restantes.size() + 1);
    EXPECT_TRUE(std::equal(restantes.begin(), restantes.end(), denovo.begin()));
    const std::string quantas = std::to_string(restantes.size() - 1);
    EXPECT_EQ(denovo.back().substr(0, 11), "T" + std::string(10 - quantas.size(), '0') + quantas);
    const Execucao verificar =
        Kavlo({"verificar", "--mes", "2", "--ano", "2024", "--banco", copia.string(), "--retorno",
               (p / "segunda.Recusadas.txt").string()},
              p);
    EXPECT_EQ(verificar.codigo, 0) << verificar.saida;
    EXPECT_NE(verificar.saida.find("nada impede a importação"), std::string::npos)
        << verificar.saida;
}

// kavlo linha takes one line apart by the library's own layouts.
TEST_F(Ferramenta, LinhaMostraOsCamposComoABibliotecaLe) {
    Demo();
    const fs::path p = pasta_.Caminho();
    ASSERT_EQ(Importar().codigo, 0);
    const fs::path gs = p / "gs";
    fs::create_directory(gs);
    ASSERT_EQ(
        Kavlo({"gerar", "--mes", "2", "--mes-anterior", "1", "--ano", "2024", "--banco", Banco(),
               "--saida", gs.string(), "--filtro", "select matricula from SFP001FEV"},
              p)
            .codigo,
        0);
    const std::vector<std::string> retorno = LinhasCrLf(LerArquivo(Retorno()));
    const std::string parcela = retorno[2];
    struct Caso {
        std::vector<std::string> argumentos;
        int codigo;
        std::vector<std::string> trechos;  // on standard output, or on standard error on failure
    };
    const std::string nrRet = std::to_string(retorno.size());
    for (const auto& c : std::vector<Caso>{
             {{"--retorno", Retorno(), "--linha", "3"},
              0,
              {"Arquivo de retorno '" + Retorno() + "', linha 3 de " + nrRet +
                   ": parcela, 200 caracteres\n",
               "  Campo          Posições  Valor",
               "  NomeServidor   2-41      '" + ParaUtf8(DeWindows1252(parcela.substr(1, 40))) +
                   "'",
               "  Matricula      53-67     '" + parcela.substr(52, 15) + "'",
               "servidor " + Chave(parcela),
               "  ValorParcela   140-154   '" + parcela.substr(139, 15) + "'",
               "  Reservado3     198-200"}},
             {{"--retorno", Retorno(), "--linha", "1"},
              0,
              {"linha 1 de " + nrRet + ": cabeçalho", "  Competencia   82-87",
               "  Data          87-94"}},
             {{"--retorno", Retorno(), "--linha", nrRet},
              0,
              {": rodapé, 200 caracteres", "  Quantidade    2-11", "  Total         15-26"}},
             {{"--resultado", Resultado(), "--linha", "2"},
              0,
              {"Arquivo de resultado", "resultado de uma parcela, 260 caracteres",
               "  DescricaoSituacao  216-245"}},
             {{"--margem", (gs / "Margem.txt").string(), "--linha", "2"},
              0,
              {"margem de um servidor", "  ValorMargem", "177-191"}},
             {{"--pessoas", (gs / "Pessoas.csv").string(), "--linha", "2"},
              0,
              {"dados de um servidor", "  CPF", "nº 2 (", "  Formacao", "nº 34"}},
             {{"--transferidos", (gs / "Transferidos.txt").string(), "--linha", "1"},
              0,
              {"cabeçalho", "  HLayout"}},
             {{"--retorno", Retorno(), "--linha", "99999"},
              1,
              {"Erro: Arquivo de retorno '" + Retorno() + "': o arquivo tem " + nrRet +
               " linhas, não há linha 99999. Informe um número de 1 a " + nrRet + "."}},
             {{"--margem", (p / "falta.txt").string(), "--linha", "1"},
              1,
              {"Erro: Não foi possível abrir o arquivo '" + (p / "falta.txt").string() + "'"}},
             {{"--linha", "1"}, 2, {"Informe um arquivo, e só um"}},
             {{"--retorno", Retorno(), "--margem", Retorno(), "--linha", "1"},
              2,
              {"Informe um arquivo, e só um"}},
             {{"--retorno", Retorno(), "--linha", "0"}, 2, {"Valor inválido em --linha"}},
         }) {
        std::vector<std::string> a = {"linha"};
        a.insert(a.end(), c.argumentos.begin(), c.argumentos.end());
        SCOPED_TRACE(a[1] + " " + a.back());
        const Execucao e = Kavlo(a, p);
        EXPECT_EQ(e.codigo, c.codigo) << e.erro;
        for (const std::string& t : c.trechos)
            EXPECT_NE((c.codigo == 0 ? e.saida : e.erro).find(t), std::string::npos)
                << t << "\n"
                << e.saida << e.erro;
        if (c.codigo == 0) {
            EXPECT_EQ(e.erro, "");
        }
    }
}

// A filter that selects nobody writes the three files as asked, and says they hold no servant.
TEST_F(Ferramenta, FiltroQueNaoSelecionaNinguemAvisa) {
    Demo(50);
    const fs::path p = pasta_.Caminho();
    struct Caso {
        std::string filtro;
        bool aviso;
    };
    for (const auto& c : std::vector<Caso>{{"select matricula from SFP001FEV where 1 = 0", true},
                                           {"select matricula from SFP001JAN where 1 = 0", true},
                                           {"select matricula from SFP001FEV", false}}) {
        SCOPED_TRACE(c.filtro);
        const Execucao e = Kavlo({"gerar", "--mes", "2", "--mes-anterior", "1", "--ano", "2024",
                                  "--banco", Banco(), "--saida", p.string(), "--filtro", c.filtro},
                                 p);
        EXPECT_EQ(e.codigo, 0) << e.erro;
        EXPECT_EQ(e.erro.find("Aviso: os três arquivos foram gravados sem nenhum servidor: o "
                              "filtro não selecionou nenhum servidor da folha de 2/2024"),
                  c.aviso ? 0u : std::string::npos)
            << e.erro;
        EXPECT_EQ(e.saida.find("  Pessoas.csv       0 servidores") != std::string::npos, c.aviso)
            << e.saida;
        for (const char* nome : {"Pessoas.csv", "Margem.txt", "Transferidos.txt"})
            EXPECT_TRUE(fs::exists(p / nome)) << nome;
    }
}

namespace {

// Columns a UTF-8 text takes on a terminal.
size_t Colunas(std::string_view texto) {
    return static_cast<size_t>(std::count_if(texto.begin(), texto.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::vector<std::string> Linhas(const std::string& texto) {
    std::vector<std::string> r;
    for (size_t i = 0, fim; i < texto.size(); i = fim + 1) {
        fim = texto.find('\n', i);
        if (fim == std::string::npos) fim = texto.size();
        r.push_back(texto.substr(i, fim - i));
    }
    return r;
}

// A command line as a shell splits it: blanks apart, "..." kept whole.
std::vector<std::string> Palavras(const std::string& linha) {
    std::vector<std::string> r;
    std::string atual;
    bool aspas = false, algo = false;
    for (char c : linha) {
        if (c == '"') {
            aspas = !aspas;
            algo = true;
        } else if (c == ' ' && !aspas) {
            if (algo) r.push_back(atual);
            atual.clear();
            algo = false;
        } else {
            atual += c;
            algo = true;
        }
    }
    if (algo) r.push_back(atual);
    return r;
}

// The examples of a help text ("  kavlo ..." lines under "Exemplos:", continued by a final \),
// without the program's name.
std::vector<std::vector<std::string>> Exemplos(const std::string& ajuda) {
    std::vector<std::vector<std::string>> r;
    std::string comando;
    bool nosExemplos = false;
    for (const std::string& l : Linhas(ajuda)) {
        if (l == "Exemplos:") {
            nosExemplos = true;
            continue;
        }
        if (!nosExemplos) continue;
        std::string parte = l.substr(std::min(l.find_first_not_of(' '), l.size()));
        if (comando.empty() && !parte.starts_with("kavlo ")) continue;
        const bool continua = parte.ends_with("\\");
        if (continua) parte.pop_back();
        comando += parte + " ";
        if (continua) continue;
        auto palavras = Palavras(comando);
        palavras.erase(palavras.begin());
        r.push_back(palavras);
        comando.clear();
    }
    return r;
}

}  // namespace

TEST_F(Ferramenta, AjudaVersaoEDetalhes) {
    const Execucao versao = Kavlo({"--version"}, pasta_.Caminho());
    EXPECT_EQ(versao.codigo, 0) << versao.erro;
    EXPECT_EQ(versao.saida, std::string("kavlo ") + KAVLO_VERSAO + "\n");

    // Every help: the descriptions of options and subcommands start in one column, counted in
    // letters (the labels hold Ç, Õ, Ó, Ú), wrap under themselves within 100 columns, and one or
    // two examples follow that the tool takes as they are written: run against paths that do not
    // exist, each fails for the missing file (1), never for its command line (2).
    const fs::path inexistente = pasta_.Caminho() / "inexistente";
    for (const std::string sub :
         {"", "gerar", "importar", "verificar", "importacoes", "estornar", "demo", "preparar"}) {
        std::vector<std::string> argumentos = {"--help"};
        if (!sub.empty()) argumentos.insert(argumentos.begin(), sub);
        const Execucao ajuda = Kavlo(argumentos, pasta_.Caminho());
        ASSERT_EQ(ajuda.codigo, 0) << sub << ajuda.erro;
        std::set<size_t> colunas;
        bool emExemplos = false;
        for (const std::string& l : Linhas(ajuda.saida)) {
            emExemplos |= l == "Exemplos:";
            if (!emExemplos) {
                EXPECT_LE(Colunas(l), 100u) << sub << ": " << l;
            }
            if (!l.starts_with("  ") || emExemplos) continue;
            const size_t nome = l.find_first_not_of(' ');
            const size_t vao = l.find("  ", nome);
            if (nome == 2 && vao != std::string::npos)
                colunas.insert(Colunas(l.substr(0, l.find_first_not_of(' ', vao))));
            else if (nome > 2)
                colunas.insert(nome);  // a description wrapped under itself
        }
        EXPECT_EQ(colunas, (std::set<size_t>{34})) << sub << ":\n" << ajuda.saida;
        const auto exemplos = Exemplos(ajuda.saida);
        EXPECT_GE(exemplos.size(), 1u) << sub << ":\n" << ajuda.saida;
        EXPECT_LE(exemplos.size(), 2u) << sub;
        for (auto exemplo : exemplos) {
            if (!sub.empty()) {
                EXPECT_EQ(exemplo.front(), sub);
            }
            for (auto& a : exemplo)
                for (const std::string pasta : {"/dados/", "/tmp/"})
                    if (const size_t p = a.find(pasta); p != std::string::npos)
                        a.replace(p, pasta.size(), inexistente.string() + "/");
            const Execucao e = Kavlo(exemplo, pasta_.Caminho());
            EXPECT_TRUE(e.codigo == 0 || e.codigo == 1) << e.codigo << e.erro;
            EXPECT_EQ(e.erro.find("kavlo --help"), std::string::npos) << e.erro;
        }
    }
    // What --folhas and --verifica-margem change, said in the help (read across its wrapping).
    std::string importar = Kavlo({"importar", "--help"}, pasta_.Caminho()).saida;
    for (size_t q; (q = importar.find("\n ")) != std::string::npos;) {
        const size_t fim = importar.find_first_not_of(' ', q + 1);
        importar.replace(q, fim - q, " ");
    }
    EXPECT_NE(importar.find("com ABONO no texto, uma demissão não conta"), std::string::npos)
        << importar;
    EXPECT_NE(importar.find("N desconta todas, mesmo sem margem"), std::string::npos);

    // --detalhes before the subcommand or after it: the same run, the same words.
    Demo(30);
    const std::vector<std::string> gerar = GerarDaDemo(
        Banco(), pasta_.Caminho().string(), "select matricula from TABELA_QUE_NAO_EXISTE");
    auto com = [&](std::vector<std::string> antes, std::vector<std::string> depois) {
        antes.insert(antes.end(), gerar.begin(), gerar.end());
        antes.insert(antes.end(), depois.begin(), depois.end());
        return Kavlo(antes, pasta_.Caminho());
    };
    const Execucao sem = com({}, {}), antes = com({"--detalhes"}, {}),
                   depois = com({}, {"--detalhes"});
    EXPECT_EQ(sem.codigo, 1) << sem.erro;
    EXPECT_EQ(antes.codigo, 1) << antes.erro;
    EXPECT_EQ(depois.codigo, 1) << depois.erro;
    EXPECT_EQ(antes.erro, depois.erro);
    EXPECT_NE(antes.erro, sem.erro);
}

namespace {

// The one JSON object a --json run printed: a single line, nothing else on standard output.
nlohmann::json UmObjeto(const Execucao& e) {
    EXPECT_FALSE(e.saida.empty());
    EXPECT_EQ(e.saida.find('\n'), e.saida.size() - 1) << e.saida;
    nlohmann::json j = nlohmann::json::parse(e.saida);
    EXPECT_TRUE(j.is_object());
    return j;
}

// The number after `rotulo` in a text summary ("Parcelas sem slot de desconto livre: 3").
int64_t NumeroApos(const std::string& texto, const std::string& rotulo) {
    const size_t p = texto.find(rotulo);
    if (p == std::string::npos) {
        ADD_FAILURE() << "sem \"" << rotulo << "\" em:\n" << texto;
        return -1;
    }
    return std::stoll(texto.substr(p + rotulo.size()));
}

// The text after `rotulo`, to the end of its line.
std::string TextoApos(const std::string& texto, const std::string& rotulo) {
    const size_t p = texto.find(rotulo);
    if (p == std::string::npos) {
        ADD_FAILURE() << "sem \"" << rotulo << "\" em:\n" << texto;
        return {};
    }
    return texto.substr(p + rotulo.size(), texto.find('\n', p) - p - rotulo.size());
}

}  // namespace

// Each summary a program reads says what the text summary says: the same run, with and without
// --json, on the same state (a copy of the database where the run writes).
TEST_F(Ferramenta, ResumosEmJsonDizemOQueOTextoDiz) {
    Demo();
    const fs::path p = pasta_.Caminho();
    const std::string copia = (p / "copia.fdb").string();
    fs::copy_file(Banco(), copia);

    fs::create_directory(p / "texto");
    fs::create_directory(p / "json");
    auto gerar = [&](const std::string& pasta, std::vector<std::string> extra) {
        std::vector<std::string> a = GerarDaDemo(Banco(), pasta, "select matricula from SFP001FEV");
        a.insert(a.end(), extra.begin(), extra.end());
        return Kavlo(a, p);
    };
    const Execucao gt = gerar((p / "texto").string(), {});
    const Execucao gj = gerar((p / "json/").string(), {"--json"});
    ASSERT_EQ(gt.codigo, 0) << gt.erro;
    ASSERT_EQ(gj.codigo, 0) << gj.erro;
    const auto g = UmObjeto(gj);
    EXPECT_EQ(g["comando"], "gerar");
    EXPECT_EQ(g["mes"], 2);
    ASSERT_EQ(g["arquivos"].size(), 3u);
    for (const auto& a : g["arquivos"]) {
        const std::string nome = a["arquivo"];
        EXPECT_EQ(a["caminho"], (p / "json" / nome).string());
        EXPECT_EQ(LerArquivo(a["caminho"].get<std::string>()), LerArquivo(p / "texto" / nome));
        EXPECT_EQ(a["servidores"], NumeroApos(gt.saida, nome)) << nome;
    }
    EXPECT_EQ("R$ " + g["arquivos"][1]["margem_total"].get<std::string>(),
              TextoApos(gt.saida, "margem total "));
    EXPECT_GT(g["arquivos"][1]["margem_total_centavos"].get<int64_t>(), 0);

    const std::vector<std::string> verificar = {"verificar", "--mes",   "2",     "--ano",
                                                "2024",      "--banco", Banco(), "--retorno",
                                                Retorno(),   "--todas"};
    auto comJson = [](std::vector<std::string> a) {
        a.push_back("--json");
        return a;
    };
    const Execucao vt = Kavlo(verificar, p), vj = Kavlo(comJson(verificar), p);
    EXPECT_EQ(vj.codigo, vt.codigo);
    const auto v = UmObjeto(vj);
    EXPECT_EQ(v["linhas"], NumeroApos(vt.saida, "Linhas: "));
    EXPECT_EQ(v["parcelas"], NumeroApos(vt.saida, "Linhas: " + v["linhas"].dump() + " ("));
    EXPECT_EQ(v["descontadas"], NumeroApos(vt.saida, "seriam descontadas "));
    EXPECT_EQ(
        "R$ " + v["total"].get<std::string>() + ")",
        TextoApos(vt.saida, "parcelas (").substr(0, v["total"].get<std::string>().size() + 4));
    EXPECT_EQ(v["contagem"]["aviso"], NumeroApos(vt.saida, "  aviso: "));
    EXPECT_EQ(v["achados"].size(), v["contagem"]["aviso"].get<size_t>() +
                                       v["contagem"]["impede"].get<size_t>() +
                                       v["contagem"]["suspeita"].get<size_t>());
    ASSERT_FALSE(v["achados"].empty());
    for (const auto& a : v["achados"])
        EXPECT_NE(
            vt.saida.find("linha " + a["linha"].dump() + ": " + a["texto"].get<std::string>()),
            std::string::npos)
            << a;

    // The import into each copy: the same file, the same id, the same figures.
    const Execucao it = Importar();
    const std::string resultadoJson = (p / "resultado-json.txt").string();
    const Execucao ij = Kavlo(comJson(ImportarDaDemo(copia, resultadoJson, Retorno())), p);
    ASSERT_EQ(it.codigo, 0) << it.erro;
    ASSERT_EQ(ij.codigo, 0) << ij.erro;
    const auto i = UmObjeto(ij);
    EXPECT_EQ(i["importado"], true);
    EXPECT_EQ(i["importacao"], NumeroApos(it.saida, "Importação "));
    EXPECT_EQ(i["linhas"], NumeroApos(it.saida, "Linhas lidas do arquivo de retorno: "));
    EXPECT_EQ(i["descontadas_integralmente"],
              NumeroApos(it.saida, "Parcelas descontadas integralmente: "));
    EXPECT_EQ(i["nao_descontadas"], NumeroApos(it.saida, "por falta de margem: "));
    EXPECT_EQ(i["sem_slot"], NumeroApos(it.saida, "sem slot de desconto livre: "));
    EXPECT_EQ(i["nao_encontradas"]["total"],
              NumeroApos(it.saida, "servidor não encontrado no mês: "));
    EXPECT_EQ(i["inativas"]["total"], NumeroApos(it.saida, "servidor inativo no mês: "));
    EXPECT_EQ("R$ " + i["total"].get<std::string>(), TextoApos(it.saida, "Total descontado: "));
    EXPECT_EQ(i["arquivos"]["resultado"], resultadoJson);
    EXPECT_TRUE(fs::exists(i["arquivos"]["relatorio"].get<std::string>()));
    EXPECT_TRUE(fs::exists(i["arquivos"]["verificacao"].get<std::string>()));
    for (const auto& l : i["nao_encontradas"]["primeiras"])
        EXPECT_NE(
            it.saida.find("linha " + l["linha"].dump() + ": " + l["chave"].get<std::string>()),
            std::string::npos);
    // Refused by the check: nothing posted, and a program learns why on standard output.
    const Execucao recusada = Kavlo(comJson(ImportarDaDemo(copia, resultadoJson, Retorno())), p);
    EXPECT_EQ(recusada.codigo, 3);
    const auto r = UmObjeto(recusada);
    EXPECT_EQ(r["importado"], false);
    EXPECT_GE(r["verificacao"]["contagem"]["impede"].get<int>(), 1);

    const Execucao lt = Kavlo({"importacoes", "--banco", Banco()}, p);
    const auto l = UmObjeto(Kavlo({"importacoes", "--banco", copia, "--json"}, p));
    ASSERT_EQ(l["importacoes"].size(), 1u);
    const auto& registro = l["importacoes"][0];
    EXPECT_EQ(registro["importacao"], 1);
    EXPECT_EQ(registro["descontadas"], i["descontadas_integralmente"]);
    EXPECT_EQ(registro["estornada"], false);
    EXPECT_NE(lt.saida.find("total R$ " + registro["total"].get<std::string>() + "; vigente"),
              std::string::npos)
        << lt.saida;

    for (const bool simular : {true, false}) {
        std::vector<std::string> estornar = {"estornar", "--importacao", "1", "--banco"};
        if (simular) estornar.push_back("--simular");
        estornar.insert(estornar.begin() + 4, Banco());
        std::vector<std::string> naCopia = estornar;
        naCopia[4] = copia;
        const Execucao texto = Kavlo(estornar, p), json = Kavlo(comJson(naCopia), p);
        ASSERT_EQ(texto.codigo, 0) << texto.erro;
        ASSERT_EQ(json.codigo, 0) << json.erro;
        const auto e = UmObjeto(json);
        EXPECT_EQ(e["simulacao"], simular);
        EXPECT_EQ(e["lancamentos"], NumeroApos(texto.saida, ": "));
        EXPECT_EQ(e["linhas"], NumeroApos(texto.saida, "lançamentos em "));
        EXPECT_EQ("R$ " + e["total"].get<std::string>() + ").", TextoApos(texto.saida, "(total "));
    }
    EXPECT_EQ(UmObjeto(Kavlo({"importacoes", "--banco", copia, "--json"},
                             p))["importacoes"][0]["estornada"],
              true);
}

namespace {

// The tool run with its standard error on a terminal (a pseudo-terminal this test reads), as an
// operator runs it; standard output goes to a file. Returns the exit code and what the terminal
// showed.
std::pair<int, std::string> KavloNoTerminal(const std::vector<std::string>& argumentos,
                                            const fs::path& pasta) {
    int mestre = -1, escravo = -1;
    if (::openpty(&mestre, &escravo, nullptr, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "openpty";
        return {-1, {}};
    }
    const fs::path saida = pasta / "stdout-terminal.txt";
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(mestre);
        if (!std::freopen("/dev/null", "r", stdin) || !std::freopen(saida.c_str(), "w", stdout) ||
            ::dup2(escravo, STDERR_FILENO) < 0)
            std::_Exit(127);
        std::vector<char*> argv{const_cast<char*>(KAVLO_FERRAMENTA)};
        for (const auto& a : argumentos) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(KAVLO_FERRAMENTA, argv.data());
        std::_Exit(127);
    }
    ::close(escravo);
    // Read while it runs: a terminal holds little before its writer blocks. EIO: every writer
    // has closed it.
    std::string tela;
    char buf[4096];
    for (ssize_t n; (n = ::read(mestre, buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        tela.append(buf, static_cast<size_t>(n));
    }
    ::close(mestre);
    int estado = 0;
    ::waitpid(pid, &estado, 0);
    return {WIFEXITED(estado) ? WEXITSTATUS(estado) : 1000, tela};
}

}  // namespace

// On a terminal a step whose size is known says how far it is; elsewhere (a file, a pipe) nothing
// of it is written, so that logs and programs read only the summary and the errors.
TEST_F(Ferramenta, ProgressoComTotalSoNoTerminal) {
    Demo();
    const auto [codigo, tela] = KavloNoTerminal(
        {"importar", "--mes", "2", "--ano", "2024", "--banco", Banco(), "--resultado", Resultado(),
         "--retorno", Retorno(), "--folhas", "MENSAL", "--simular"},
        pasta_.Caminho());
    ASSERT_EQ(codigo, 0) << tela;
    const std::string retorno = LerArquivo(Retorno());
    // Fewer than a thousand lines: no thousands' separator.
    const std::string linhas = std::to_string(std::count(retorno.begin(), retorno.end(), '\n'));
    EXPECT_NE(tela.find("Importando parcelas... 0 de " + linhas + " (0 %)"), std::string::npos)
        << tela;
    EXPECT_NE(tela.find("Importando parcelas... " + linhas + " de " + linhas + " (100 %)"),
              std::string::npos)
        << tela;
    const Execucao semTerminal = Importar({"--simular"});
    ASSERT_EQ(semTerminal.codigo, 0) << semTerminal.erro;
    EXPECT_EQ(semTerminal.erro.find("Importando parcelas"), std::string::npos) << semTerminal.erro;
    EXPECT_EQ(semTerminal.erro.find("%)"), std::string::npos) << semTerminal.erro;
}

namespace {

// One `$ kavlo ...` of the README: its words, the exit code it shows ("# exit 3"; 0 when none), and
// the output lines shown under it.
struct ComandoDoReadme {
    std::vector<std::string> palavras;
    int saida = 0;
    std::vector<std::string> linhas;
};

std::vector<ComandoDoReadme> ComandosDoReadme(const std::string& readme) {
    std::vector<ComandoDoReadme> r;
    bool bloco = false, continua = false;
    std::string comando;
    for (const std::string& l : Linhas(readme)) {
        if (!bloco) {
            bloco = l == "```console";
            continue;
        }
        if (l == "```") {
            bloco = false;
            continue;
        }
        if (continua || l.starts_with("$ kavlo ")) {
            std::string parte = continua ? l : l.substr(2);
            if (!continua) r.emplace_back();
            if (const size_t p = parte.find("# exit "); p != std::string::npos) {
                r.back().saida = std::stoi(parte.substr(p + 7));
                parte.erase(p);
            }
            while (!parte.empty() && parte.back() == ' ') parte.pop_back();
            continua = parte.ends_with("\\");
            if (continua) parte.pop_back();
            comando += parte + " ";
            if (!continua) {
                r.back().palavras = Palavras(comando);
                r.back().palavras.erase(r.back().palavras.begin());
                comando.clear();
            }
        } else if (!r.empty() && l != "...") {
            r.back().linhas.push_back(l);
        }
    }
    return r;
}

// A line shown in the README is in the output when one line of it holds the shown line's pieces
// between its "…" in order, the first at its start.
bool Mostrada(const std::string& saida, const std::string& mostrada) {
    std::vector<std::string> pedacos;
    for (size_t i = 0, fim;; i = fim + std::string("…").size()) {
        fim = mostrada.find("…", i);
        pedacos.push_back(mostrada.substr(i, fim == std::string::npos ? fim : fim - i));
        if (fim == std::string::npos) break;
    }
    for (const std::string& linha : Linhas(saida)) {
        size_t p = 0;
        bool todos = linha.starts_with(pedacos.front());
        for (const auto& pedaco : pedacos) {
            if (!todos) break;
            p = linha.find(pedaco, p);
            todos = p != std::string::npos;
            if (todos) p += pedaco.size();
        }
        if (todos && (pedacos.size() > 1 || linha == mostrada)) return true;
    }
    return false;
}

// The README's object against the one printed: the same fields in the same order, object by
// object; the same whole numbers, truth values and texts (but the moment and who ran it); an
// array's shown elements, the first of the printed ones.
void MesmoObjeto(const nlohmann::ordered_json& readme, const nlohmann::ordered_json& real,
                 const std::string& onde) {
    static const std::set<std::string> variam = {"quando", "usuario", "maquina", "estorno_quando",
                                                 "estorno_usuario"};
    if (readme.is_object()) {
        ASSERT_TRUE(real.is_object()) << onde;
        std::vector<std::string> a, b;
        for (const auto& [k, v] : readme.items()) a.push_back(k);
        for (const auto& [k, v] : real.items()) b.push_back(k);
        EXPECT_EQ(a, b) << onde;
        for (const auto& [k, v] : readme.items())
            if (real.contains(k) && !variam.count(k)) MesmoObjeto(v, real[k], onde + "." + k);
    } else if (readme.is_array()) {
        ASSERT_TRUE(real.is_array()) << onde;
        ASSERT_LE(readme.size(), real.size()) << onde;
        for (size_t i = 0; i < readme.size(); ++i)
            MesmoObjeto(readme[i], real[i], onde + "[" + std::to_string(i) + "]");
    } else if (!readme.is_number_float()) {
        EXPECT_EQ(readme, real) << onde;
    }
}

}  // namespace

// The README's walkthrough and its --json examples, run as they are written: what it shows is
// what the tool prints.
TEST_F(Ferramenta, CicloDoMesDoReadme) {
    const std::string readme =
        LerArquivo(fs::path(__FILE__).parent_path().parent_path() / "README.md");
    const auto comandos = ComandosDoReadme(readme);
    ASSERT_GE(comandos.size(), 14u);  // the walkthrough and the --json examples
    const std::string pasta = pasta_.Caminho().string();
    auto trocar = [&](std::string texto) {
        // The temporary folder may itself begin with /tmp/kavlo: search on after what went in.
        for (size_t p = 0; (p = texto.find("/tmp/kavlo", p)) != std::string::npos;
             p += pasta.size())
            texto.replace(p, 10, pasta);
        return texto;
    };
    for (const auto& c : comandos) {
        std::vector<std::string> argumentos;
        std::string linha = "kavlo";
        for (const auto& p : c.palavras) {
            argumentos.push_back(trocar(p));
            linha += " " + p;
        }
        const Execucao e = Kavlo(argumentos, pasta_.Caminho());
        EXPECT_EQ(e.codigo, c.saida) << linha << "\n" << e.erro;
        if (std::find(c.palavras.begin(), c.palavras.end(), "--json") != c.palavras.end()) {
            std::string objeto;
            for (const auto& l : c.linhas) objeto += trocar(l) + "\n";
            MesmoObjeto(nlohmann::ordered_json::parse(objeto),
                        nlohmann::ordered_json::parse(e.saida), linha);
            continue;
        }
        for (const auto& mostrada : c.linhas)
            EXPECT_TRUE(Mostrada(e.saida + e.erro, trocar(mostrada)))
                << linha << "\nsem: " << mostrada << "\nem:\n"
                << e.saida << e.erro;
    }
}
