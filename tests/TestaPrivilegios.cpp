// Generation cannot write. Embedded databases.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "CadeiaHost.h"
#include "dao/BancoFolha.h"
#include "dao/Firebird.h"
#include "demonstracao/BancoDemo.h"
#include "entry/Chamadas.h"
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
