// kavlo importar and kavlo verificar on return files that would post twice, to somebody else, or
// lose an instalment: the tool run as a program on a demo payroll, the month's table read before
// and after each run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <functional>
#include <optional>
#include <set>

#include "demonstracao/BancoDemo.h"
#include "import/ArquivoRetorno.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/LinhaRetorno.h"
#include "util/Codificacao.h"

extern char** environ;

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

struct Saida {
    int codigo = -1;
    std::string saida, erro;
};

std::vector<std::string> Linhas(const std::string& bytes) {
    std::vector<std::string> r;
    for (size_t i = 0, fim; (fim = bytes.find("\r\n", i)) != std::string::npos; i = fim + 2)
        r.push_back(bytes.substr(i, fim - i));
    return r;
}

std::string Juntar(const std::vector<std::string>& linhas) {
    std::string r;
    for (const auto& l : linhas) r += l + "\r\n";
    return r;
}

class FerramentaVerifica : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        modelo_ = new PastaTemporaria;
        demo::OpcoesDemo o;
        o.banco = (modelo_->Caminho() / "folha.fdb").string();
        o.retorno = (modelo_->Caminho() / "retorno.txt").string();
        o.servidores = 300;
        demo::CriarBancoDemo(o);
    }
    static void TearDownTestSuite() {
        delete modelo_;
        modelo_ = nullptr;
    }
    // A fresh copy of the demo payroll, without any import.
    void NovoBanco() {
        fs::copy_file(modelo_->Caminho() / "folha.fdb", Banco(),
                      fs::copy_options::overwrite_existing);
    }
    static std::string Original() { return LerArquivo(modelo_->Caminho() / "retorno.txt"); }

    std::string Banco() const { return (pasta_.Caminho() / "folha.fdb").string(); }
    std::string Retorno() const { return (pasta_.Caminho() / "retorno.txt").string(); }

    Saida Kavlo(const std::vector<std::string>& argumentos) const {
        const fs::path saida = pasta_.Caminho() / "stdout.txt",
                       erro = pasta_.Caminho() / "stderr.txt";
        posix_spawn_file_actions_t acoes;
        posix_spawn_file_actions_init(&acoes);
        posix_spawn_file_actions_addopen(&acoes, 1, saida.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&acoes, 2, erro.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<char*> argv{const_cast<char*>(KAVLO_FERRAMENTA)};
        for (const auto& a : argumentos) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_t filho = -1;
        Saida r;
        if (posix_spawn(&filho, KAVLO_FERRAMENTA, &acoes, nullptr, argv.data(), environ) == 0) {
            int estado = 0;
            ::waitpid(filho, &estado, 0);
            r.codigo = WIFEXITED(estado) ? WEXITSTATUS(estado) : 1000 + WTERMSIG(estado);
        }
        posix_spawn_file_actions_destroy(&acoes);
        r.saida = LerArquivo(saida);
        r.erro = LerArquivo(erro);
        return r;
    }
    Saida Importar(const std::vector<std::string>& extra = {}, const std::string& ano = "2024",
                   const std::string& mes = "2") const {
        std::vector<std::string> a = {
            "importar",  "--mes",       mes,
            "--ano",     ano,           "--banco",
            Banco(),     "--resultado", (pasta_.Caminho() / "resultado.txt").string(),
            "--retorno", Retorno(),     "--folhas",
            "MENSAL"};
        a.insert(a.end(), extra.begin(), extra.end());
        return Kavlo(a);
    }
    Saida Verificar(const std::string& ano = "2024", const std::string& mes = "2") const {
        return Kavlo(
            {"verificar", "--mes", mes, "--ano", ano, "--banco", Banco(), "--retorno", Retorno()});
    }
    // The month's table, every row and column, and how many imports the journal holds.
    std::vector<std::vector<std::u16string>> Tabela() const {
        return BancoTesteExistente(fs::path(Banco()))
            .Linhas("select * from SFPDXX02FEV order by MATRICULA, SALARIO");
    }
    std::u16string Importacoes() const {
        const auto r = BancoTesteExistente(fs::path(Banco()))
                           .Linhas(
                               "select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = "
                               "'KAVLO_IMPORTACAO'");
        if (r[0][0] == u"0") return u"0";
        return BancoTesteExistente(fs::path(Banco()))
            .Linhas("select count(*) from KAVLO_IMPORTACAO where ESTORNO_QUANDO is null")[0][0];
    }

    static PastaTemporaria* modelo_;
    PastaTemporaria pasta_;
};
PastaTemporaria* FerramentaVerifica::modelo_ = nullptr;

}  // namespace

// The same lines imported again however the file came: another year, the month written "02",
// other line ends, another encoding. Stopped by the check before the library is called, with the
// import it repeats and both ways on.
TEST_F(FerramentaVerifica, MesmoArquivoDeOutroJeitoEParado) {
    NovoBanco();
    const std::string original = Original();
    GravarArquivo(Retorno(), original);
    const Saida primeira = Importar();
    ASSERT_EQ(primeira.codigo, 0) << primeira.erro;
    const auto depois = Tabela();
    std::string lf = original;
    std::erase(lf, '\r');
    struct Caso {
        std::string nome, bytes, ano = "2024", mes = "2";
    };
    for (const auto& c : std::vector<Caso>{
             {"outro ano", original, "2023"},
             {"mês escrito com zero", original, "2024", "02"},
             {"quebras de linha LF", lf},
             {"UTF-8 com marca", "\xEF\xBB\xBF" + ParaUtf8(DeWindows1252(original))},
         }) {
        SCOPED_TRACE(c.nome);
        GravarArquivo(Retorno(), c.bytes);
        const Saida v = Verificar(c.ano, c.mes);
        EXPECT_EQ(v.codigo, 3) << v.saida;
        EXPECT_NE(v.saida.find("já foi importado na tabela SFPDXX02FEV"), std::string::npos)
            << v.saida;
        for (const std::vector<std::string>& extra :
             {std::vector<std::string>{}, std::vector<std::string>{"--forcar"}}) {
            const Saida e = Importar(extra, c.ano, c.mes);
            EXPECT_EQ(e.codigo, 3) << e.erro;
            for (const char* trecho :
                 {"Nada foi lançado", "já foi importado na tabela SFPDXX02FEV", "importação 1 de ",
                  "para 02/2024", "kavlo estornar --importacao 1", "kavlo importar --reimportar"})
                EXPECT_NE(e.erro.find(trecho), std::string::npos) << trecho << "\n" << e.erro;
        }
        EXPECT_EQ(Tabela(), depois);
        EXPECT_EQ(Importacoes(), u"1");
    }
    // On purpose it goes in.
    GravarArquivo(Retorno(), lf);
    const Saida de = Importar({"--reimportar", "--forcar"});
    EXPECT_EQ(de.codigo, 0) << de.erro;
    EXPECT_EQ(Importacoes(), u"2");
}

// Files the check stops, each on a fresh payroll: what it says, and whether --forcar or
// --reimportar lets it through. What the library itself refuses, nothing lets through.
TEST_F(FerramentaVerifica, ArquivosQueOImportarPara) {
    const std::vector<std::string> linhas = Linhas(Original());
    const auto com = [&](size_t i, Posicao p, std::string_view texto) {
        auto l = linhas;
        Por(l[i], p, texto);
        return Juntar(l);
    };
    // Instalment lines shifted right by one column, each kept 200 wide: keys, CPFs, names and
    // amounts fall on their neighbours' positions. One line in seven, and every line whose key
    // then reads as another servant's of the payroll (as most do in a large payroll).
    std::set<std::u16string> cadastrados;
    for (const auto& l : BancoTesteExistente(modelo_->Caminho() / "folha.fdb")
                             .Linhas("select MATRICULA from SFP001FEV"))
        cadastrados.insert(l[0]);
    size_t deOutros = 0;
    const auto umaEmSete = [&] {
        auto l = linhas;
        for (size_t i = 1; i + 1 < l.size(); ++i) {
            std::string d = l[i];
            d.insert(1, " ");
            d.pop_back();
            const bool deOutro = cadastrados.contains(ChaveServidor(DeWindows1252(d)));
            if (i % 7 != 1 && !deOutro) continue;
            l[i] = d;
            deOutros += deOutro;
        }
        return Juntar(l);
    };
    struct Caso {
        std::string nome;
        std::function<std::string()> arquivo;
        std::vector<std::string> trechos;
        std::optional<std::vector<std::string>> passaCom;  // nothing: nothing lets it through
        bool importarAntes = false;
    };
    const std::vector<Caso> casos = {
        {"uma linha em sete deslocada",
         umaEmSete,
         {"não são os do servidor", "a importação recusa o arquivo"},
         std::nullopt},
        {"cortado dentro da última parcela",
         [&] {
             auto l = std::vector<std::string>(linhas.begin(), linhas.end() - 1);
             l.back().resize(120);
             return Juntar(l);
         },
         {"o arquivo foi cortado"},
         std::nullopt},
        {"vazio", [] { return std::string(); }, {"o arquivo está vazio"}, std::nullopt},
        {"só o cabeçalho",
         [&] { return Juntar({linhas[0]}); },
         {"nenhuma parcela"},
         std::vector<std::string>{"--forcar"}},
        {"parcela repetida",
         [&] {
             auto l = linhas;
             l.insert(l.begin() + 3, l[2]);
             char quantidade[16];
             std::snprintf(quantidade, sizeof quantidade, "%010zu", l.size() - 2);
             Por(l.back(), retorno::RodQuantidade, quantidade);
             return Juntar(l);
         },
         {"a mesma parcela da linha 3", "seria descontada duas vezes", "--forcar"},
         std::vector<std::string>{"--forcar"}},
        {"cabeçalho de março",
         [&] {
             return com(0, Posicao{82, 5}, "03202");
         },
         {"o cabeçalho indica 03/2024; foi informado 02/2024"},
         std::vector<std::string>{"--forcar"}},
        {"valor com expoente",
         [&] { return com(2, retorno::Parcela, "000000000001E05"); },
         {"'000000000001E05'", "R$ 100.000,00"},
         std::vector<std::string>{"--forcar"}},
        {"contador negativo",
         [&] { return com(2, retorno::ContadorQuant, "-60"); },
         {"contador de parcelas negativo '-60'"},
         std::vector<std::string>{"--forcar"}},
        {"valor zero",
         [&] { return com(2, retorno::Parcela, "000000000000.00"); },
         {"parcela de valor zero"},
         std::vector<std::string>{"--forcar"}},
        {"parcelas já lançadas por outra importação",
         [&] { return com(0, retorno::CabTexto, "OUTRO CABECALHO"); },
         {"já foi lançada nesta tabela pela importação 1, linha ", "--reimportar"},
         std::vector<std::string>{"--reimportar"},
         true},
    };
    umaEmSete();
    ASSERT_GT(deOutros, 0u);
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        NovoBanco();
        if (c.importarAntes) {
            GravarArquivo(Retorno(), Original());
            ASSERT_EQ(Importar().codigo, 0);
        }
        GravarArquivo(Retorno(), c.arquivo());
        const auto antes = Tabela();
        const std::u16string importacoes = Importacoes();
        const Saida v = Verificar();
        EXPECT_EQ(v.codigo, 3) << v.saida;
        for (const auto& t : c.trechos) {
            if (t.starts_with("--")) continue;  // how to go on is the import's to say
            EXPECT_NE(v.saida.find(t), std::string::npos) << t << "\n" << v.saida;
        }
        const Saida e = Importar();
        EXPECT_EQ(e.codigo, 3) << e.erro;
        EXPECT_NE(e.erro.find("Nada foi lançado"), std::string::npos) << e.erro;
        for (const auto& t : c.trechos)
            EXPECT_NE(e.erro.find(t), std::string::npos) << t << "\n" << e.erro;
        EXPECT_EQ(Tabela(), antes);
        EXPECT_EQ(Importacoes(), importacoes);
        if (!c.passaCom) {
            const Saida forcado = Importar({"--forcar", "--reimportar"});
            EXPECT_NE(forcado.codigo, 0) << forcado.saida;
            EXPECT_EQ(Tabela(), antes);
            EXPECT_EQ(Importacoes(), importacoes);
            continue;
        }
        // The other switch is no way through.
        const std::string outra = c.passaCom->front() == "--forcar" ? "--reimportar" : "--forcar";
        EXPECT_EQ(Importar({outra}).codigo, 3);
        const Saida passa = Importar(*c.passaCom);
        EXPECT_EQ(passa.codigo, 0) << passa.erro;
        EXPECT_NE(Importacoes(), importacoes);
    }
}
