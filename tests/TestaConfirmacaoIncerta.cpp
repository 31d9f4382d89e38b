// A commit whose answer never comes back: the connection is lost just before the commit reaches
// the server, or just after the server committed. The import asks the database again (its journal
// row tells) instead of guessing: the files stay and the call succeeds when the postings are there,
// the files are taken back and the call fails when they are not. Either way a second run of the
// same file cannot post twice.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "dao/BancoFolha.h"
#include "demonstracao/EsquemaFolha.h"
#include "entry/Chamadas.h"
#include "entry/Conexao.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/ServidorTeste.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

class ConfirmacaoIncerta : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string motivo = SemServidor(servidor_); !motivo.empty())
            GTEST_SKIP() << motivo;
        BancoTeste banco(demo::EsquemaFixo() + demo::EsquemaDoMes("JAN") +
                         "INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES ('123456-7', "
                         "'T', 100);"
                         "INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES ('200000-1', "
                         "'T', 5)");
        servidor_.Receber(banco.Arquivo(), "payroll.fdb");
        GravarArquivo(Retorno(), "H\r\n" + LinhaDeParcela("123456-7", "000000000060.00") + "\r\n" +
                                     LinhaDeParcela("200000-1", "000000000010.00") + "\r\nT\r\n");
        // Earlier files of the same names, to see them kept or replaced as one set.
        GravarArquivo(Resultado(), "resultado anterior\r\n");
        GravarArquivo(Relatorio(), "relatorio anterior\r\n");
    }
    void TearDown() override { dmConexao().fdConexao.Fechar(); }

    fs::path Retorno() const { return saida_.Caminho() / "retorno.txt"; }
    fs::path Resultado() const { return saida_.Caminho() / "resultado.txt"; }
    // The location names a server, so the report goes beside the result file.
    fs::path Relatorio() const { return saida_.Caminho() / "ServidoresSemMargem.txt"; }

    // Imports through the relay; returns the call's error, "" on success.
    std::string Importar(const std::function<void()>& antesDoCommit, ResumoImportacao& resumo) {
        OpcoesImportacao o;
        o.antesDoCommit = antesDoCommit;
        try {
            resumo = ImportarRetorno(
                {u"1", u"2024", proxy_.Local(servidor_, "payroll.fdb"),
                 DeUtf8(Resultado().string()), DeUtf8(Retorno().string()), u"", u"S"},
                o);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }

    // Postings and journal rows, read directly from the server.
    std::string Estado() const {
        fb::Conexao c;
        AbrirBancoDaFolha(c, servidor_.Local("payroll.fdb"));
        fb::Transacao t(c, fb::ModoTransacao::Leitura);
        fb::Comando q(t,
                      std::string_view("select (select count(*) from SFPDXX02JAN where COD1 = "
                                       "'35'), (select count(*) from KAVLO_IMPORTACAO) from "
                                       "RDB$DATABASE"),
                      "conferir o banco");
        fb::Cursor r = q.Abrir();
        r.Proximo();
        return ParaUtf8(r.Texto(0u)) + " lançadas, " + ParaUtf8(r.Texto(1u)) + " no diário";
    }

    std::set<std::string> Nomes() const {
        std::set<std::string> r;
        for (const auto& e : fs::directory_iterator(saida_.Caminho()))
            r.insert(e.path().filename().string());
        return r;
    }

    PastaDoServidor servidor_;
    PastaTemporaria saida_;
    ProxyTcp proxy_;
};

}  // namespace

TEST_F(ConfirmacaoIncerta, ConexaoPerdidaAntesDoCommit) {
    ResumoImportacao r;
    const std::string erro = Importar([&] { proxy_.Cortar(); }, r);
    EXPECT_NE(erro.find("Nenhuma parcela foi lançada (a importação 1 não consta do diário)"),
              std::string::npos)
        << erro;
    EXPECT_EQ(Estado(), "0 lançadas, 0 no diário");
    // The earlier files are back, and nothing else is left.
    EXPECT_EQ(LerArquivo(Resultado()), "resultado anterior\r\n");
    EXPECT_EQ(LerArquivo(Relatorio()), "relatorio anterior\r\n");
    EXPECT_EQ(Nomes(),
              (std::set<std::string>{"retorno.txt", "resultado.txt", "ServidoresSemMargem.txt"}));
    // The natural rerun posts once.
    EXPECT_EQ(Importar({}, r), "");
    EXPECT_EQ(Estado(), "1 lançadas, 1 no diário");
}

TEST_F(ConfirmacaoIncerta, RespostaDoCommitPerdida) {
    ResumoImportacao r;
    const std::string erro =
        Importar([&] { proxy_.EngolirRespostas(std::chrono::milliseconds(1500)); }, r);
    EXPECT_EQ(erro, "");
    EXPECT_NE(r.aviso.find("o diário mostra que ela foi gravada"), std::string::npos) << r.aviso;
    EXPECT_EQ(Estado(), "1 lançadas, 1 no diário");
    EXPECT_EQ(LerArquivo(Resultado()).size(), 95u + 2 + 2 * (260 + 2) + 23 + 2);
    EXPECT_NE(LerArquivo(Relatorio()).find("200000-1"), std::string::npos);
    // The natural rerun is refused: the journal holds the import.
    const std::string denovo = Importar({}, r);
    EXPECT_NE(denovo.find("já foi importado"), std::string::npos) << denovo;
    EXPECT_EQ(Estado(), "1 lançadas, 1 no diário");
}
