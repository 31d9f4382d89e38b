// No handle is left behind: a batch of failing calls leaves the process's open files and the
// database's attachments as one call leaves them.
#include <gtest/gtest.h>

#include <filesystem>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "demonstracao/BancoDemo.h"
#include "entry/Conexao.h"
#include "tests/apoio/BancoTeste.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;

namespace {

size_t ArquivosAbertos() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

}  // namespace

TEST(Recursos, ChamadasQueFalhamNaoDeixamArquivosNemConexoes) {
    BancoTeste banco;
    PastaTemporaria saida;
    const auto retorno = saida.Caminho() / "retorno.txt";
    GravarArquivo(retorno, "H\r\nT\r\n");
    CadeiaHost mesRuim(u"treze"), ano(u"2024"), caminho(banco.Caminho()), pasta(saida.ComBarra());
    CadeiaHost falta(DeUtf8((saida.Caminho() / "falta.fdb").string()));
    CadeiaHost load(DeUtf8(retorno.string())),
        semLoad(DeUtf8((saida.Caminho() / "falta.txt").string()));
    CadeiaHost resultado(DeUtf8((saida.Caminho() / "resultado.txt").string())), s(u"S");
    auto lote = [&] {
        EXPECT_ANY_THROW(GerarArquivo(mesRuim, mesRuim, ano, caminho, pasta, s));
        EXPECT_ANY_THROW(GerarArquivo(mesRuim, mesRuim, ano, falta, pasta, s));
        EXPECT_ANY_THROW(ImportarArquivo(mesRuim, ano, caminho, resultado, load, s, s));
        EXPECT_ANY_THROW(ImportarArquivo(mesRuim, ano, caminho, resultado, semLoad, s, s));
        EXPECT_ANY_THROW(ImportarArquivo(mesRuim, ano, falta, resultado, load, s, s));
    };
    lote();  // the first calls load the client and the engine
    const size_t antes = ArquivosAbertos();
    for (int i = 0; i < 10; ++i) lote();
    EXPECT_EQ(ArquivosAbertos(), antes);

    // Between calls the library keeps at most its one connection, and no file was left behind.
    EXPECT_ANY_THROW(GerarArquivo(mesRuim, mesRuim, ano, caminho, pasta, s));
    EXPECT_EQ(
        banco.Valor(
            "select count(*) from mon$attachments where mon$attachment_id <> current_connection"
            " and mon$system_flag = 0"),
        u"1");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(saida.Caminho()), {}), 1);
}
