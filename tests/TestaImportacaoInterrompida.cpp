// An import whose process dies between putting its result file and report in place and knowing
// how its commit went: the next import (of any file, into any database) settles those files from
// the journal of the dead import's database, tells the operator, and never deletes the earlier
// result. The dead process is a real one (kavlo_importacao_interrompida), ended at the chosen
// moment; the next import is the host's call.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "demonstracao/BancoDemo.h"
#include "entry/Conexao.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/Ferramenta.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

// Runs the import that dies at `momento` ("antes" or "depois" of its commit); its exit code.
int ImportarEMorrer(const std::string& momento, const fs::path& banco, const fs::path& resultado,
                    const fs::path& retorno) {
    const pid_t filho = ::fork();
    if (filho == 0) {
        ::execl(KAVLO_IMPORTACAO_INTERROMPIDA, KAVLO_IMPORTACAO_INTERROMPIDA, momento.c_str(), "2",
                "2024", banco.c_str(), resultado.c_str(), retorno.c_str(), "MENSAL", "S",
                static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    int estado = 0;
    ::waitpid(filho, &estado, 0);
    return WIFEXITED(estado) ? WEXITSTATUS(estado) : -1;
}

class ImportacaoInterrompida : public ::testing::Test {
  protected:
    void SetUp() override {
        demo::OpcoesDemo o;
        o.banco = (pasta_.Caminho() / "modelo.fdb").string();
        o.retorno = Retorno().string();
        o.servidores = 300;
        demo::CriarBancoDemo(o);
        fs::create_directory(pasta_.Caminho() / "outra");
    }
    void TearDown() override { dmConexao().fdConexao.Fechar(); }

    fs::path Banco() const { return pasta_.Caminho() / "folha.fdb"; }
    fs::path OutroBanco() const { return pasta_.Caminho() / "outra" / "folha.fdb"; }
    fs::path Retorno() const { return pasta_.Caminho() / "retorno.txt"; }
    fs::path Resultado() const { return pasta_.Caminho() / "resultado.txt"; }
    fs::path Relatorio() const { return pasta_.Caminho() / "ServidoresSemMargem.txt"; }
    fs::path Copia() const { return pasta_.Caminho() / "resultado.SemMargem.txt"; }
    fs::path Recusadas() const { return pasta_.Caminho() / "resultado.Recusadas.txt"; }

    // The host's import; its error ("" on success) and what it said on standard error.
    std::pair<std::string, std::string> Importar(const fs::path& banco, const fs::path& resultado) {
        CadeiaHost mes(u"2"), ano(u"2024"), b(DeUtf8(banco.string())),
            res(DeUtf8(resultado.string())), load(DeUtf8(Retorno().string())), folhas(u"MENSAL"),
            s(u"S");
        testing::internal::CaptureStderr();
        const std::string erro =
            MensagemDeErro([&] { ImportarArquivo(mes, ano, b, res, load, folhas, s); });
        dmConexao().fdConexao.Fechar();
        return {erro, testing::internal::GetCapturedStderr()};
    }
    static std::vector<std::vector<std::u16string>> Tabela(const fs::path& banco) {
        return BancoTesteExistente(banco).Linhas(
            "select * from SFPDXX02FEV order by MATRICULA, SALARIO");
    }
    static std::u16string Diario(const fs::path& banco) {
        std::u16string r;
        for (const auto& l : BancoTesteExistente(banco).Linhas(
                 "select ID from KAVLO_IMPORTACAO where ESTORNO_QUANDO is null order by ID"))
            r += l[0] + u";";
        return r;
    }
    static std::string Conteudo(const fs::path& p) { return fs::exists(p) ? LerArquivo(p) : "-"; }

    PastaTemporaria pasta_;
};

}  // namespace

TEST_F(ImportacaoInterrompida, ProximaImportacaoAcertaPeloDiario) {
    struct Caso {
        std::string nome;
        std::string momento;  // when the first import's process died
        bool anteriores;      // a result file and a report were there before it
        bool outroBanco;      // the next import is into another database and result file
        bool escondido;       // the first database cannot be reached when the next import runs
        std::string aviso;    // what the next import says of the first
        bool lancada;         // the first import's postings are in the table
    };
    const std::string kFoi = "A importação 1 do banco '" + Banco().string() + "' foi interrompida";
    for (const auto& c : std::vector<Caso>{
             {"antes do commit, outro banco e outro resultado", "antes", true, true, false,
              kFoi + " antes de gravar (não consta do diário)", false},
             {"antes do commit, sem arquivos anteriores", "antes", false, true, false,
              kFoi + " antes de gravar", false},
             {"antes do commit, o mesmo arquivo de novo", "antes", true, false, false,
              kFoi + " antes de gravar", false},
             {"depois do commit, o mesmo arquivo de novo", "depois", true, false, false,
              kFoi + " depois de gravada (consta do diário)", true},
             {"antes do commit, o diário inacessível", "antes", true, true, true,
              kFoi + ", e não foi possível saber se ela foi gravada", false},
         }) {
        SCOPED_TRACE(c.nome);
        fs::copy_file(pasta_.Caminho() / "modelo.fdb", Banco(),
                      fs::copy_options::overwrite_existing);
        fs::copy_file(pasta_.Caminho() / "modelo.fdb", OutroBanco(),
                      fs::copy_options::overwrite_existing);
        for (const fs::path& p : {Resultado(), Relatorio(), Copia(), Recusadas()}) fs::remove(p);
        // The earlier lines not posted are not there: a place that was empty is emptied again.
        if (c.anteriores) {
            GravarArquivo(Resultado(), "resultado anterior\r\n");
            GravarArquivo(Relatorio(), "relatório anterior\r\n");
            GravarArquivo(Copia(), "cópia anterior\r\n");
        }
        const auto antes = Tabela(Banco());
        ASSERT_EQ(ImportarEMorrer(c.momento, Banco(), Resultado(), Retorno()), 9);
        // Its files are in place, the earlier ones kept aside, whatever the commit did.
        EXPECT_NE(Conteudo(Resultado()), "resultado anterior\r\n");
        const auto depois = Tabela(Banco());
        EXPECT_EQ(depois != antes, c.lancada);
        EXPECT_EQ(Diario(Banco()), c.lancada ? u"1;" : u"");

        const fs::path escondido = pasta_.Caminho() / "escondido.fdb";
        if (c.escondido) fs::rename(Banco(), escondido);
        const auto [erro, avisos] =
            c.outroBanco ? Importar(OutroBanco(), pasta_.Caminho() / "outra" / "r.txt")
                         : Importar(Banco(), Resultado());
        EXPECT_NE(avisos.find("Aviso: " + c.aviso), std::string::npos) << avisos;
        if (c.escondido) {
            // Nothing decided, nothing lost: the run after it settles.
            EXPECT_EQ(erro, "");
            EXPECT_NE(avisos.find("kavlo importacoes --banco"), std::string::npos) << avisos;
            EXPECT_NE(Conteudo(Resultado()), "resultado anterior\r\n");
            const auto nomes = NomesNaPasta(pasta_.Caminho());
            EXPECT_EQ(std::count_if(nomes.begin(), nomes.end(),
                                    [](const std::string& n) {
                                        return n.find(".anterior") != std::string::npos;
                                    }),
                      3);
            fs::rename(escondido, Banco());
            const auto [erro2, avisos2] =
                Importar(OutroBanco(), pasta_.Caminho() / "outra" / "r.txt");
            EXPECT_NE(avisos2.find("antes de gravar (não consta do diário)"), std::string::npos)
                << avisos2;
        }
        if (c.outroBanco) {
            // Settled back to the earlier files, or to none; the first database as it was.
            EXPECT_EQ(Conteudo(Resultado()), c.anteriores ? "resultado anterior\r\n" : "-");
            EXPECT_EQ(Conteudo(Relatorio()), c.anteriores ? "relatório anterior\r\n" : "-");
            EXPECT_EQ(Conteudo(Copia()), c.anteriores ? "cópia anterior\r\n" : "-");
            EXPECT_EQ(Conteudo(Recusadas()), "-");
            EXPECT_EQ(Tabela(Banco()), antes);
        } else if (c.lancada) {
            // The same file again is refused: posted once, and the dead import's files stand.
            EXPECT_NE(erro.find("já foi importado"), std::string::npos) << erro;
            EXPECT_EQ(Tabela(Banco()), depois);
            EXPECT_NE(Conteudo(Resultado()), "resultado anterior\r\n");
        } else {
            // Posted now, once.
            EXPECT_EQ(erro, "");
            EXPECT_EQ(Diario(Banco()), u"2;");
            EXPECT_NE(Tabela(Banco()), antes);
        }
        // Nothing left aside, nothing waiting.
        for (const auto& n : NomesNaPasta(pasta_.Caminho()))
            EXPECT_TRUE(n.find(".anterior") == std::string::npos &&
                        n.find(".pendente") == std::string::npos &&
                        n.find(".tmp") == std::string::npos)
                << n;
    }
}

// kavlo importar says it too, before its own summary.
TEST_F(ImportacaoInterrompida, FerramentaDizOQueAcertou) {
    fs::copy_file(pasta_.Caminho() / "modelo.fdb", Banco());
    GravarArquivo(Resultado(), "resultado anterior\r\n");
    const auto antes = Tabela(Banco());
    ASSERT_EQ(ImportarEMorrer("antes", Banco(), Resultado(), Retorno()), 9);
    const Execucao e =
        Kavlo(ImportarDaDemo(Banco().string(), Resultado().string(), Retorno().string()),
              pasta_.Caminho());
    EXPECT_EQ(e.codigo, 0) << e.erro;
    EXPECT_NE(e.erro.find("Aviso: A importação 1 do banco '" + Banco().string() +
                          "' foi interrompida antes de gravar"),
              std::string::npos)
        << e.erro;
    EXPECT_NE(e.saida.find("Importação 2 concluída."), std::string::npos) << e.saida;
    EXPECT_NE(Tabela(Banco()), antes);
    EXPECT_EQ(Diario(Banco()), u"2;");
}
