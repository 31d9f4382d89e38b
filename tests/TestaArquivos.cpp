// Output files are replaced as a set: all of them, or none.
#include <gtest/gtest.h>

#include <set>

#include "import/ArquivoRetorno.h"
#include "tests/apoio/BancoTeste.h"
#include "util/Caminhos.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Substituicao.h"

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

// A return file is the same file when its lines are: whatever the encoding, the byte-order mark
// and the line ends that carry them. Its bytes' hash tells the copies apart, the lines' hash does
// not; one character changed, or a line more, is another file.
TEST(ArquivoDeRetorno, MesmasLinhasMesmoConteudo) {
    PastaTemporaria pasta;
    const std::vector<std::u16string> linhas = {u"HPREFEITURA", u"DJOSÉ DA CONCEIÇÃO 35 150.00",
                                                u"", u"T0000000002"};
    auto juntar = [&](const std::vector<std::u16string>& ls, std::string_view fim,
                      std::string (*codificar)(std::u16string_view)) {
        std::string r;
        for (const auto& l : ls) r += codificar(l) + std::string(fim);
        return r;
    };
    auto utf16 = [](std::u16string_view t) {
        std::string r;
        for (char16_t c : t) r += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        return r;
    };
    std::string lf16;
    for (const auto& l : linhas) lf16 += utf16(l) + std::string("\n\0", 2);
    auto conteudo = [&](const std::string& bytes) {
        const fs::path p = pasta.Caminho() / "retorno.txt";
        GravarArquivo(p, bytes);
        const ArquivoDeRetorno a(p);
        return std::pair(a.HashConteudo(), a.Hash());
    };
    const std::string base = juntar(linhas, "\r\n", ParaWindows1252);
    const auto [esperado, bytes] = conteudo(base);
    struct Caso {
        std::string nome, bytes;
    };
    for (const auto& c : std::vector<Caso>{
             {"LF", juntar(linhas, "\n", ParaWindows1252)},
             {"CR", juntar(linhas, "\r", ParaWindows1252)},
             {"sem quebra no fim", base.substr(0, base.size() - 2)},
             {"UTF-8 com marca", "\xEF\xBB\xBF" + juntar(linhas, "\r\n", ParaUtf8)},
             {"UTF-16 LE com marca", "\xFF\xFE" + lf16},
         }) {
        const auto [outro, outrosBytes] = conteudo(c.bytes);
        EXPECT_EQ(outro, esperado) << c.nome;
        EXPECT_NE(outrosBytes, bytes) << c.nome;
    }
    for (const auto& c : std::vector<Caso>{
             {"um caractere",
              juntar({linhas[0], u"DJOSE DA CONCEIÇÃO 35 150.00", linhas[2], linhas[3]}, "\r\n",
                     ParaWindows1252)},
             {"uma linha vazia a mais", base + "\r\n"},
             {"duas linhas numa",
              juntar({linhas[0] + linhas[1], linhas[2], linhas[3]}, "\r\n", ParaWindows1252)},
         })
        EXPECT_NE(conteudo(c.bytes).first, esperado) << c.nome;
}

// A file is cut when its last line has the record type of all its instalment lines.
TEST(ArquivoDeRetorno, CortadoQuandoAUltimaLinhaEUmaParcela) {
    PastaTemporaria pasta;
    struct Caso {
        std::string nome, bytes;
        bool cortado;
    };
    for (const auto& c : std::vector<Caso>{
             {"com rodapé", "H\r\nD1\r\nD2\r\nT2\r\n", false},
             {"última parcela no lugar do rodapé", "H\r\nD1\r\nD2\r\nD3 cortad", true},
             {"uma parcela só, cortada", "H\r\nD1\r\nD2", true},
             {"só cabeçalho e uma linha", "H\r\nD1", false},
             {"parcelas de tipos diferentes", "H\r\nD1\r\nX2\r\nD3", false},
             {"linhas em branco", "\r\n\r\n\r\n", false},
             {"tipo em branco", "H\r\n D1\r\n D2", false},
         }) {
        const fs::path p = pasta.Caminho() / "retorno.txt";
        GravarArquivo(p, c.bytes);
        EXPECT_EQ(ArquivoDeRetorno(p).Cortado(), c.cortado) << c.nome;
    }
}
