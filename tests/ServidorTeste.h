// A local Firebird server for the tests that reach a database as "localhost:" + path. Those tests
// are skipped when no server answers (scripts/servidor-firebird.sh installs and starts one).
#pragma once

#include <filesystem>
#include <string>

namespace kavlo::teste {

bool ServidorFirebirdResponde();

// A folder of its own inside the server's, readable and writable by the firebird user, removed at
// the end. Valida() is false when it could not be made.
class PastaDoServidor {
  public:
    PastaDoServidor();
    ~PastaDoServidor();
    PastaDoServidor(const PastaDoServidor&) = delete;
    PastaDoServidor& operator=(const PastaDoServidor&) = delete;
    bool Valida() const { return !caminho_.empty(); }
    const std::filesystem::path& Caminho() const { return caminho_; }
    // "localhost:" + the path of `arquivo` inside the folder.
    std::u16string Local(const std::string& arquivo) const;
    // Copies a database built embedded elsewhere into the folder, for the server to open.
    void Receber(const std::filesystem::path& banco, const std::string& arquivo) const;

  private:
    std::filesystem::path caminho_;
};

// Kills the server outright (fbguard and its firebird process, as a crash would) and starts it
// again with scripts/servidor-firebird.sh. Needs root.
void DerrubarServidorFirebird();
void IniciarServidorFirebird();

}  // namespace kavlo::teste
