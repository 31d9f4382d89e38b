// Test fixtures: a throwaway folder and a real dialect-1 WIN1252 Firebird database built from a
// small SQL script, opened embedded.
#pragma once

#include <exception>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kavlo::teste {

class PastaTemporaria {
  public:
    PastaTemporaria();
    ~PastaTemporaria();
    PastaTemporaria(const PastaTemporaria&) = delete;
    PastaTemporaria& operator=(const PastaTemporaria&) = delete;
    const std::filesystem::path& Caminho() const { return caminho_; }
    // The folder with a closing separator, as the host passes output folders.
    std::u16string ComBarra() const;

  private:
    std::filesystem::path caminho_;
};

class BancoTeste {
  public:
    // Creates payroll.fdb in a new temporary folder and runs `script` on it.
    explicit BancoTeste(std::string_view script = {});

    const std::filesystem::path& Pasta() const { return pasta_.Caminho(); }
    std::filesystem::path Arquivo() const { return Pasta() / "payroll.fdb"; }
    std::u16string Caminho() const;

    // Runs statements separated by ";" (DDL is committed one by one, the rest together).
    void Executar(std::string_view script) const;
    // Every row of a select, each column read as text (NULL as "<null>").
    std::vector<std::vector<std::u16string>> Linhas(std::string_view select) const;
    std::u16string Valor(std::string_view select) const;

    // The same through a connection in the UTF8 character set made with the Firebird client
    // alone, as a tool that speaks UTF-8 would: the script's literals go to the server as the
    // UTF-8 they are written in (each statement committed), and a select gives each text column
    // as the server's UTF-8 (the bytes themselves for NONE and OCTETS columns). It shows what the
    // database holds without this library's own reading.
    void ExecutarUtf8(std::string_view script) const;
    std::vector<std::vector<std::string>> LinhasUtf8(std::string_view select) const;

  private:
    PastaTemporaria pasta_;
};

// An existing database, read for checks: a file opened embedded, or any location the client takes
// ("localhost:" + path).
class BancoTesteExistente {
  public:
    explicit BancoTesteExistente(const std::filesystem::path& arquivo);
    explicit BancoTesteExistente(std::u16string local) : local_(std::move(local)) {}
    std::vector<std::vector<std::u16string>> Linhas(std::string_view select) const;

  private:
    std::u16string local_;
};

std::string LerArquivo(const std::filesystem::path& caminho);
// The names of what a folder holds.
std::set<std::string> NomesNaPasta(const std::filesystem::path& pasta);

// The message of what `f` throws, or "" when it returns normally.
inline std::string MensagemDeErro(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}
void GravarArquivo(const std::filesystem::path& caminho, std::string_view bytes);

}  // namespace kavlo::teste
