// Output files are replaced as a set: all of them, or none.
#include <gtest/gtest.h>

#include <set>

#include "tests/BancoTeste.h"
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
