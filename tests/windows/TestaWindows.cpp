// What only the Windows build does differently: the code page conversion through the system,
// wide paths, the return file's sharing and replacing a finished file.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "util/Arquivos.h"
#include "util/Codificacao.h"
#include "util/Erros.h"

using namespace kavlo;

namespace {

// A folder of its own under the temporary folder, with accented letters in its name.
class PastaAcentuada {
  public:
    PastaAcentuada() {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        caminho_ = std::filesystem::path(base) /
                   (L"Folha São João " + std::to_wstring(GetCurrentProcessId()));
        std::filesystem::remove_all(caminho_);
        std::filesystem::create_directories(caminho_ / L"Ação");
    }
    ~PastaAcentuada() {
        std::error_code ec;
        std::filesystem::remove_all(caminho_, ec);
    }
    std::filesystem::path operator/(const wchar_t* nome) const { return caminho_ / L"Ação" / nome; }

  private:
    std::filesystem::path caminho_;
};

std::string Bytes(const std::filesystem::path& arquivo) {
    std::ifstream f(arquivo, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Another program holding the file open with the given access and sharing.
class Aberto {
  public:
    Aberto(const std::filesystem::path& arquivo, DWORD acesso, DWORD compartilha)
        : h_(CreateFileW(arquivo.c_str(), acesso, compartilha, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~Aberto() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    bool Valido() const { return h_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE h_;
};

}  // namespace

TEST(Windows, CodePage1252SemAproximacao) {
    // Best-fit mapping would write "A", "l", "L", "8" and "-" for these; a character the code
    // page lacks must become "?" whatever the machine's ANSI code page is.
    EXPECT_EQ(ParaWindows1252(u"\u0100\u0142\u0141\u221E\u2010"), "?????");
    EXPECT_EQ(ParaWindows1252(u"Conceição – Œ €"), "Concei\xE7\xE3o \x96 \x8C \x80");
    EXPECT_EQ(DeWindows1252("Concei\xE7\xE3o \x96 \x8C \x80"), u"Conceição – Œ €");
    // One "?" per code unit, as on Linux, so fitted fields keep their width in bytes.
    EXPECT_EQ(ParaWindows1252(u"x\U0001F600y"), "x??y");
    EXPECT_EQ(ParaWindows1252(std::u16string(u"a") + char16_t(0xDC00) + u"b"), "a?b");
}

TEST(Windows, GravaELeEmPastaAcentuada) {
    PastaAcentuada pasta;
    const auto destino = pasta / L"Resultado Março.txt";
    for (const char16_t* nome : {u"José", u"Inês"}) {  // the second write replaces the first
        ArquivoTemporario arquivo(destino);
        arquivo.EscreverLinha(nome);
        arquivo.EscreverLinha(u"Ação ✓");
        arquivo.Confirmar();
    }
    EXPECT_EQ(Bytes(destino), "In\xEAs\r\nA\xE7\xE3o ?\r\n");
    EXPECT_EQ(LerLinhas(destino), (std::vector<std::u16string>{u"Inês", u"Ação ?"}));
    // Only the destination is left: no temporary file beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(destino.parent_path()), {}), 1);

    // A path given as the host's UTF-16 text reaches the same file.
    const std::wstring w = destino.wstring();
    EXPECT_EQ(LerLinhas(CaminhoDe(std::u16string(w.begin(), w.end()))).size(), 2u);
}

TEST(Windows, ArquivoDeRetornoNaoAceitaEscritorAberto) {
    PastaAcentuada pasta;
    const auto retorno = pasta / L"Retorno.txt";
    std::ofstream(retorno, std::ios::binary) << "H\xE9\r\nT\r\n";
    {
        // Another reader does not stand in the way.
        Aberto leitor(retorno, GENERIC_READ, FILE_SHARE_READ);
        ASSERT_TRUE(leitor.Valido());
        EXPECT_EQ(LerLinhas(retorno), (std::vector<std::u16string>{u"Hé", u"T"}));
    }
    {
        // A program writing the file could change it under the import: the read is refused.
        Aberto escritor(retorno, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
        ASSERT_TRUE(escritor.Valido());
        try {
            LerLinhas(retorno);
            ADD_FAILURE() << "lido com um escritor aberto";
        } catch (const ErroArquivo& e) {
            EXPECT_NE(std::string(e.what()).find("Retorno.txt"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("Ação"), std::string::npos) << e.what();
        }
    }
}
