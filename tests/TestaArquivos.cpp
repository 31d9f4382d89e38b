// Output files are replaced as a set: all of them, or none.
#include <gtest/gtest.h>

#include <set>

#include "tests/apoio/BancoTeste.h"
#include "util/Arquivos.h"
#include "util/Erros.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

std::set<std::string> Nomes(const fs::path& pasta) {
    std::set<std::string> r;
    for (const auto& e : fs::directory_iterator(pasta)) r.insert(e.path().filename().string());
    return r;
}

}  // namespace

TEST(Substituicao, FalhaNoTerceiroDevolveOsTresAnteriores) {
    PastaTemporaria pasta;
    const fs::path a = pasta.Caminho() / "a.txt", b = pasta.Caminho() / "b.txt",
                   c = pasta.Caminho() / "c.txt";
    GravarArquivo(a, "a antigo");
    GravarArquivo(c, "c antigo");  // b is new
    {
        ArquivoTemporario na(a), nb(b), nc(c);
        na.EscreverLinha(u"a novo");
        nb.EscreverLinha(u"b novo");
        nc.EscreverLinha(u"c novo");
        na.Fechar();
        nb.Fechar();
        nc.Fechar();
        fs::remove(nc.Temporario());  // the third cannot be put in place
        Substituicao s;
        s.Colocar(na);
        s.Colocar(nb);
        EXPECT_EQ(LerArquivo(a), "a novo\r\n");
        EXPECT_THROW(s.Colocar(nc), ErroArquivo);
    }
    EXPECT_EQ(LerArquivo(a), "a antigo");
    EXPECT_EQ(LerArquivo(c), "c antigo");
    EXPECT_EQ(Nomes(pasta.Caminho()), (std::set<std::string>{"a.txt", "c.txt"}));
}

TEST(Substituicao, SemConcluirDesfazEConcluidaLimpaOsAnteriores) {
    PastaTemporaria pasta;
    const fs::path a = pasta.Caminho() / "a.txt";
    GravarArquivo(a, "antigo");
    {
        ArquivoTemporario novo(a);
        novo.Escrever("novo");
        Substituicao s;
        s.Colocar(novo);
        EXPECT_EQ(LerArquivo(a), "novo");
    }  // a commit that failed after the files were in place
    EXPECT_EQ(LerArquivo(a), "antigo");
    EXPECT_EQ(Nomes(pasta.Caminho()), std::set<std::string>{"a.txt"});
    {
        ArquivoTemporario novo(a);
        novo.Escrever("novo");
        Substituicao s;
        s.Colocar(novo);
        s.Concluir();
    }
    EXPECT_EQ(LerArquivo(a), "novo");
    EXPECT_EQ(Nomes(pasta.Caminho()), std::set<std::string>{"a.txt"});
}

// What a process killed outright left for a destination is cleared by the next run for it: its
// own temporary files nobody holds, and an earlier file kept aside is put back where it is missing.
// Files of other names, and those a live writer holds, stay.
TEST(ArquivoTemporario, ProximaExecucaoLimpaORestoDeUmProcessoMorto) {
    PastaTemporaria pasta;
    const fs::path p = pasta.Caminho();
    GravarArquivo(p / "resultado.txt.tmp123456", "meio resultado");
    GravarArquivo(p / "resultado.txt.anterior42", "resultado da execução anterior");
    GravarArquivo(p / "relatorio.txt.tmp777", "de outro destino");
    GravarArquivo(p / "resultado.txt.tmpABC", "nome que a biblioteca não usa");
    GravarArquivo(p / "resultado.txt.bak", "do usuário");
    {
        ArquivoTemporario vivo(p / "outro.txt");  // a writer still at work
        const std::string nomeVivo = vivo.Temporario().filename().string();
        ArquivoTemporario novo(p / "resultado.txt");
        // The kept-aside file had no place: it is back, and the half-written one is gone.
        EXPECT_EQ(LerArquivo(p / "resultado.txt"), "resultado da execução anterior");
        EXPECT_FALSE(fs::exists(p / "resultado.txt.tmp123456"));
        EXPECT_TRUE(fs::exists(p / "relatorio.txt.tmp777"));
        EXPECT_TRUE(fs::exists(p / "resultado.txt.tmpABC"));
        EXPECT_TRUE(fs::exists(p / "resultado.txt.bak"));
        // A second writer of "outro.txt" leaves the first one's file alone while it is held.
        ArquivoTemporario outro(p / "outro.txt");
        EXPECT_TRUE(fs::exists(p / nomeVivo));
        novo.Escrever("novo");
        novo.Confirmar();
    }
    EXPECT_EQ(LerArquivo(p / "resultado.txt"), "novo");
    // With its destination in place, an abandoned kept-aside file is simply removed.
    GravarArquivo(p / "resultado.txt.anterior7", "sobra");
    { ArquivoTemporario novo(p / "resultado.txt"); }
    EXPECT_FALSE(fs::exists(p / "resultado.txt.anterior7"));
    EXPECT_EQ(LerArquivo(p / "resultado.txt"), "novo");
}
