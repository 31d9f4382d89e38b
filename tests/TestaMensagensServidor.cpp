// What the tool says when the database is reached through the local server: a row another
// program keeps locked, a file the server may not open. In Portuguese, the engine's text only with
// --detalhes.
#include <gtest/gtest.h>

#include <optional>

#include "dao/BancoFolha.h"
#include "dao/firebird/Firebird.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/Ferramenta.h"
#include "tests/apoio/ServidorTeste.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

TEST(MensagensServidor, BloqueioAcessoEArquivoDoServidorEmPortugues) {
    PastaDoServidor servidor;
    if (const std::string motivo = SemServidor(servidor); !motivo.empty()) GTEST_SKIP() << motivo;
    PastaTemporaria pasta;
    const fs::path feito = pasta.Caminho() / "folha.fdb";
    const std::string retorno = (pasta.Caminho() / "retorno.txt").string();
    ASSERT_EQ(Kavlo({"demo", "--banco", feito.string(), "--retorno", retorno, "--servidores", "100",
                     "--mes", "2", "--ano", "2024"},
                    pasta.Caminho())
                  .codigo,
              0);
    servidor.Receber(feito, "folha.fdb");
    const std::string local = ParaUtf8(servidor.Local("folha.fdb"));
    const Execucao importada =
        Kavlo(ImportarDaDemo(local, (pasta.Caminho() / "resultado.txt").string(), retorno),
              pasta.Caminho());
    ASSERT_EQ(importada.codigo, 0) << importada.erro;

    // Another program changes a row the import posted to, and keeps its transaction open.
    fb::Conexao outro;
    AbrirBancoDaFolha(outro, servidor.Local("folha.fdb"));
    std::optional<fb::Transacao> bloqueio(std::in_place, outro, fb::ModoTransacao::Escrita);
    fb::Comando(*bloqueio,
                std::string_view("update SFPDXX02FEV set MCVALOR = MCVALOR where MATRICULA = "
                                 "(select first 1 MATRICULA from KAVLO_LANCAMENTO)"),
                "bloquear uma linha")
        .Executar();

    struct Caso {
        std::string nome;
        std::vector<std::string> argumentos;
        std::vector<std::string> mensagem;
        std::string ingles;  // the engine's text, only with --detalhes
    };
    for (const Caso& c : std::vector<Caso>{
             {"linha bloqueada por outro programa",
              {"estornar", "--banco", local, "--importacao", "1"},
              {"outro programa alterou ou está alterando os mesmos dados",
               "espere que ele termine e repita"},
              "lock"},
             {"arquivo que o servidor não pode abrir",
              {"importacoes", "--banco", "localhost:" + feito.string()},
              {"o sistema negou acesso ao arquivo do banco de dados",
               "o usuário do serviço Firebird"},
              "Permission denied"},
         }) {
        SCOPED_TRACE(c.nome);
        const Execucao sem = Kavlo(c.argumentos, pasta.Caminho());
        EXPECT_EQ(sem.codigo, 1) << sem.erro;
        for (const std::string& m : c.mensagem)
            EXPECT_NE(sem.erro.find(m), std::string::npos) << m << "\n" << sem.erro;
        EXPECT_EQ(sem.erro.find(c.ingles), std::string::npos) << sem.erro;
        std::vector<std::string> detalhado = {"--detalhes"};
        detalhado.insert(detalhado.end(), c.argumentos.begin(), c.argumentos.end());
        const Execucao com = Kavlo(detalhado, pasta.Caminho());
        EXPECT_EQ(com.codigo, 1) << com.erro;
        EXPECT_NE(com.erro.find("\nFirebird: "), std::string::npos) << com.erro;
        EXPECT_NE(com.erro.find(c.ingles), std::string::npos) << com.erro;
    }
    // Once the other program ends, the undo goes through.
    bloqueio->Rollback();
    bloqueio.reset();
    outro.Fechar();
    const Execucao estorno =
        Kavlo({"estornar", "--banco", local, "--importacao", "1"}, pasta.Caminho());
    EXPECT_EQ(estorno.codigo, 0) << estorno.erro;
}
