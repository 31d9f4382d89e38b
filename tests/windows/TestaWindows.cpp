// What only the Windows build does differently, or must do as the system does: the code page
// conversion held to the system's own, wide paths, the return file's sharing and replacing a
// finished file. (Composition through the system's NormalizeString is held to the same table as
// ICU's by TestaUtils.cpp, which runs here too.)
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "util/ArquivoTemporario.h"
#include "util/Caminhos.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/LeitorDeLinhas.h"

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

// The map every build writes its files with gives, for every UTF-16 code unit, surrogate halves
// included, the byte the system's own conversion to code page 1252 gives for that unit alone
// (default flags: Windows' best fit), whatever the machine's ANSI code page is.
TEST(Windows, MelhorAjusteIgualAoDoSistema) {
    std::u16string unidades;
    std::string sistema;
    for (unsigned u = 0; u <= 0xFFFF; ++u) {
        const auto unidade = static_cast<wchar_t>(u);
        char bytes[8];
        const int n =
            WideCharToMultiByte(1252, 0, &unidade, 1, bytes, sizeof bytes, nullptr, nullptr);
        ASSERT_EQ(n, 1) << "U+" << std::hex << u;
        unidades += static_cast<char16_t>(u);
        sistema += bytes[0];
    }
    const std::string biblioteca = ParaWindows1252MelhorAjuste(unidades);
    ASSERT_EQ(biblioteca.size(), sistema.size());
    int diferencas = 0;
    for (size_t u = 0; u < sistema.size(); ++u)
        if (biblioteca[u] != sistema[u] && ++diferencas <= 20)
            ADD_FAILURE() << "U+" << std::hex << std::uppercase << u << ": biblioteca 0x"
                          << (biblioteca[u] & 0xFF) << ", sistema 0x" << (sistema[u] & 0xFF);
    EXPECT_EQ(diferencas, 0);
    // Exact where the code page has the character; "?" per code unit of an emoji, as on Linux.
    EXPECT_EQ(ParaWindows1252MelhorAjuste(u"Conceição – Œ € Ł"),
              "Concei\xE7\xE3o \x96 \x8C \x80 L");
    EXPECT_EQ(ParaWindows1252MelhorAjuste(u"x\U0001F600y"), "x??y");
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
