#include "cli/Interrupcao.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "dao/BancoFolha.h"
#include "util/Codificacao.h"

namespace kavlo::cli {
namespace {

std::atomic<int> recebido{0};
std::atomic<bool> terminou{false};
std::atomic<bool> cancelou{false};
std::atomic<bool> encerrar{false};
std::thread espera;

sigset_t Sinais() {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGINT);
    sigaddset(&s, SIGTERM);
    sigaddset(&s, SIGUSR1);  // only to wake the waiting thread when the tool ends
    return s;
}

// Removes every attachment of this process to `banco` but the one asking; how many it removed.
int CancelarAnexos(const std::string& banco) {
    fb::Conexao c;
    AbrirBancoDaFolha(c, DeUtf8(banco));
    fb::Transacao t(c, fb::ModoTransacao::Escrita);
    // Embedded, the engine runs in this process; through a server, the client does.
    const auto n = fb::Comando(t,
                               std::string_view("delete from MON$ATTACHMENTS where "
                                                "MON$ATTACHMENT_ID <> current_connection and "
                                                "((MON$REMOTE_PROTOCOL is null and "
                                                "MON$SERVER_PID = ?) or MON$REMOTE_PID = ?)"),
                               "cancelar a operação em andamento")
                       .Executar({int64_t{::getpid()}, int64_t{::getpid()}});
    t.Commit();
    return static_cast<int>(n);
}

void RemoverTemporarios(const std::string& prefixo) {
    namespace fs = std::filesystem;
    const fs::path p(prefixo);
    std::error_code ec;
    for (const auto& e :
         fs::directory_iterator(p.parent_path().empty() ? "." : p.parent_path(), ec))
        if (e.path().filename().string().starts_with(p.filename().string()))
            fs::remove(e.path(), ec);
}

}  // namespace

void Interrupcao::Bloquear() {
    const sigset_t s = Sinais();
    pthread_sigmask(SIG_BLOCK, &s, nullptr);
}

void Interrupcao::Esperar(const std::string& banco, const std::string& temporarios) {
    espera = std::thread([banco, temporarios] {
        const sigset_t s = Sinais();
        int sinal = 0;
        if (sigwait(&s, &sinal) != 0 || sinal == SIGUSR1) return;
        recebido = sinal;
        const char* nome = sinal == SIGINT ? "SIGINT" : "SIGTERM";
        if (terminou) return;
        cancelou = true;
        if (banco.empty()) {
            if (!temporarios.empty()) RemoverTemporarios(temporarios);
            std::fprintf(stderr, "\nInterrompido (%s): nada foi criado.\n", nome);
            std::fflush(stderr);
            ::_exit(128 + sinal);
        }
        std::fprintf(stderr, "\nInterrompido (%s): cancelando a operação...\n", nome);
        // The call may not have reached the database yet: keep looking until its attachment
        // is there, and remove it once.
        while (!terminou && !encerrar) {
            try {
                if (CancelarAnexos(banco) > 0) return;
            } catch (const std::exception&) {
                // The database may not open yet (a server restarting); look again.
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
}

int Interrupcao::Recebido() {
    return recebido;
}

bool Interrupcao::Cancelou() {
    return cancelou;
}

void Interrupcao::Conferir() {
    if (cancelou) throw std::runtime_error("interrompido pelo operador");
}

void Interrupcao::Terminou() {
    terminou = true;
}

void Interrupcao::Encerrar() {
    if (!espera.joinable()) return;
    encerrar = true;
    pthread_kill(espera.native_handle(), SIGUSR1);
    espera.join();
}

}  // namespace kavlo::cli
