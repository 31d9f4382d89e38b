// Generation cannot write, and the library takes its login from the settings file beside its own
// file. Embedded databases: the engine checks no password, but it applies the user's rights.
// Through a server, with passwords and the role: TestaMenorPrivilegio.cpp.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "CadeiaHost.h"
#include "dao/BancoFolha.h"
#include "dao/firebird/Firebird.h"
#include "demonstracao/BancoDemo.h"
#include "entry/Chamadas.h"
#include "tests/apoio/AcessoTeste.h"
#include "tests/apoio/BancoTeste.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

// A 60-servant demo payroll of February 2024, in a folder of its own.
class Folha : public ::testing::Test {
  protected:
    void SetUp() override {
        demo::OpcoesDemo o;
        o.banco = Banco().string();
        o.retorno = (pasta_.Caminho() / "retorno.txt").string();
        o.servidores = 60;
        demo::CriarBancoDemo(o);
        fs::create_directory(Saida());
    }
    fs::path Banco() const { return pasta_.Caminho() / "folha.fdb"; }
    fs::path Saida() const { return pasta_.Caminho() / "saida"; }
    std::vector<std::vector<std::u16string>> Linhas(std::string_view select) const {
        return BancoTesteExistente(Banco()).Linhas(select);
    }
    PastaTemporaria pasta_;
};

}  // namespace

// The host's filter runs in generation's read-only snapshot: one that calls a procedure that
// writes is refused, said so, and nothing is written, neither in the database nor in the folder.
TEST_F(Folha, FiltroQueGravaERecusadoENadaMuda) {
    const std::string ddl =
        "CREATE TABLE ANOTACOES (QUANDO TIMESTAMP);"
        "CREATE PROCEDURE ANOTA RETURNS (MATRICULA VARCHAR(8)) AS BEGIN "
        "INSERT INTO ANOTACOES VALUES (CURRENT_TIMESTAMP); "
        "FOR SELECT MATRICULA FROM SFP001FEV INTO :MATRICULA DO SUSPEND; END;";
    {
        fb::Conexao c;
        AbrirBancoDaFolha(c, DeUtf8(Banco().string()));
        for (size_t inicio = 0, fim; (fim = ddl.find(';', inicio)) != std::string::npos;
             inicio = fim + 1) {
            // The procedure's body holds ";" of its own: its statement runs to the last "END".
            const bool procedimento = ddl.compare(inicio, 16, "CREATE PROCEDURE") == 0;
            if (procedimento) fim = ddl.rfind("END;") + 3;
            fb::Transacao t(c, fb::ModoTransacao::Escrita);
            fb::Comando(t, DeUtf8(ddl.substr(inicio, fim - inicio)), "preparar o teste").Executar();
            t.Commit();
        }
    }
    for (const char* filtro : {"select matricula from ANOTA",
                               "select matricula from SFP001FEV where matricula in "
                               "(select matricula from ANOTA)"}) {
        SCOPED_TRACE(filtro);
        const std::string m = MensagemDeErro([&] {
            GerarArquivos({u"2", u"1", u"2024", DeUtf8(Banco().string()),
                           DeUtf8(Saida().string() + "/"), DeUtf8(filtro)});
        });
        EXPECT_NE(m.find("O filtro de servidores tentou gravar no banco de dados: a geração só lê "
                         "a folha, numa transação somente de leitura, e nada foi gravado"),
                  std::string::npos)
            << m;
        EXPECT_EQ(Linhas("select count(*) from ANOTACOES"),
                  (std::vector<std::vector<std::u16string>>{{u"0"}}));
        EXPECT_TRUE(fs::is_empty(Saida()));
    }
}

// The settings file beside a copy of the library: missing, well formed (the user it names is the
// one the engine applies rights to), readable by others (a warning), malformed (refused before
// anything is done).
TEST_F(Folha, ArquivoDeConfiguracaoAoLadoDaBiblioteca) {
    PastaTemporaria pastaDaBiblioteca;
    BibliotecaCopiada biblioteca(KAVLO_BIBLIOTECA, pastaDaBiblioteca.Caminho());
    const fs::path conf = pastaDaBiblioteca.Caminho() / "DllKavlo.conf";
    CadeiaHost mes(u"2"), anterior(u"1"), ano(u"2024"), banco(DeUtf8(Banco().string())),
        saida(DeUtf8(Saida().string() + "/")), filtro(u"select matricula from SFP001FEV");
    auto gerar = [&] {
        std::string mensagem;
        const std::string erro = ErroPadraoDurante([&] {
            mensagem = MensagemDeErro(
                [&] { biblioteca.Gerar()(mes, anterior, ano, banco, saida, filtro); });
        });
        return std::pair{mensagem, erro};
    };
    struct Caso {
        std::string nome;
        std::optional<std::string> conteudo;
        mode_t modo;
        std::string mensagem, aviso;  // empty: none
    };
    const std::string segredo = "n40-d1g4-a-n1ngu3m";
    for (const Caso& c : std::vector<Caso>{
             {"sem arquivo: o login de fábrica", std::nullopt, 0600, "", ""},
             {"só a senha: ainda o SYSDBA", "senha = " + segredo + "\n", 0600, "", ""},
             {"legível por outros", "senha = " + segredo + "\n", 0644, "",
              "Aviso: o arquivo de configuração '" + conf.string() +
                  "' guarda a senha do banco de dados e pode ser lido por outros usuários além do "
                  "seu dono; restrinja-o (chmod 600 '" +
                  conf.string() + "')."},
             // Embedded, the engine applies ANA's rights, which she has not.
             {"outro usuário", "usuario = ana\nsenha = " + segredo + "\n", 0600,
              "o usuário do banco de dados não tem o direito de ler (SELECT) a tabela SFP001FEV",
              ""},
             {"papel que não lhe foi dado",
              "usuario = ana\nsenha = " + segredo + "\npapel = KAVLO_OPERADOR\n", 0600,
              "O papel KAVLO_OPERADOR não foi concedido ao usuário ana neste banco de dados", ""},
             {"mal formado", "usuario = ana\n" + segredo + "\n", 0600,
              "Arquivo de configuração '" + conf.string() + "', linha 2: a linha não tem '='", ""},
         }) {
        SCOPED_TRACE(c.nome);
        fs::remove(conf);
        if (c.conteudo) {
            GravarArquivo(conf, *c.conteudo);
            ASSERT_EQ(::chmod(conf.c_str(), c.modo), 0);
        }
        for (const auto& e : fs::directory_iterator(Saida())) fs::remove(e.path());
        const auto [mensagem, erro] = gerar();
        if (c.mensagem.empty()) {
            EXPECT_EQ(mensagem, "");
            EXPECT_TRUE(fs::exists(Saida() / "Margem.txt"));
        } else {
            EXPECT_NE(mensagem.find(c.mensagem), std::string::npos) << mensagem;
            EXPECT_TRUE(fs::is_empty(Saida()));
        }
        if (c.aviso.empty())
            EXPECT_EQ(erro, "");
        else
            EXPECT_NE(erro.find(c.aviso), std::string::npos) << erro;
        EXPECT_EQ(mensagem.find(segredo), std::string::npos);
        EXPECT_EQ(erro.find(segredo), std::string::npos);
    }
}
