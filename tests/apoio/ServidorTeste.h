// A local Firebird server for the tests that reach a database as "localhost:" + path. Those tests
// are skipped when no server answers (scripts/servidor-firebird.sh installs and starts one).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kavlo::teste {

bool ServidorFirebirdResponde();

// A return-file instalment line for ANA with code 35 and counters 001/012.
std::string LinhaDeParcela(std::string_view matricula, std::string_view valor);

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

// Why a test that needs the local server and a folder of it cannot run; "" when it can.
std::string SemServidor(const PastaDoServidor& pasta);

// Kills the server outright (fbguard and its firebird process, as a crash would) and starts it
// again with scripts/servidor-firebird.sh. Needs root.
void DerrubarServidorFirebird();
void IniciarServidorFirebird();

// A TCP relay between the client and the local server, to lose a connection at a chosen moment:
// the library reaches the database as "localhost/<Porta()>:" + path. Connections opened after a
// cut pass normally.
class ProxyTcp {
  public:
    ProxyTcp();  // relays to localhost:3050
    ~ProxyTcp();
    ProxyTcp(const ProxyTcp&) = delete;
    ProxyTcp& operator=(const ProxyTcp&) = delete;

    uint16_t Porta() const { return porta_; }
    // "localhost/<porta>:" + the path of `arquivo` in `pasta`.
    std::u16string Local(const PastaDoServidor& pasta, const std::string& arquivo) const;

    // Closes every open connection now, before anything more reaches the server.
    void Cortar();
    // From now on what the server answers on the open connections is dropped, what the client
    // sends still reaches the server; after `depois` those connections are closed.
    void EngolirRespostas(std::chrono::milliseconds depois);

  private:
    struct Par {
        int cliente, servidor;
        bool engolir = false;
        std::chrono::steady_clock::time_point fecharEm =
            std::chrono::steady_clock::time_point::max();
    };
    void Laco();
    void Acordar();
    int escuta_ = -1;
    int sinal_[2] = {-1, -1};
    uint16_t porta_ = 0;
    std::atomic<bool> fim_{false};
    std::mutex mutex_;
    std::vector<Par> pares_;
    std::thread thread_;
};

}  // namespace kavlo::teste
