#include "cli/Interrupcao.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "dao/BancoFolha.h"

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

// Removes every attachment of this process to the database at `local` but the one asking; how
// many it removed.
int CancelarAnexos(const std::u16string& local) {
    fb::Conexao c;
    AbrirBancoDaFolha(c, local);
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

}  // namespace

void Interrupcao::Bloquear() {
    const sigset_t s = Sinais();
    pthread_sigmask(SIG_BLOCK, &s, nullptr);
}

void Interrupcao::Esperar() {
    espera = std::thread([] {
        const sigset_t s = Sinais();
        int sinal = 0;
        if (sigwait(&s, &sinal) != 0 || sinal == SIGUSR1) return;
        recebido = sinal;
        if (terminou) return;
        cancelou = true;
        std::fprintf(stderr, "\nInterrompido (%s): cancelando a operação...\n",
                     sinal == SIGINT ? "SIGINT" : "SIGTERM");
        // The command may not have reached a database yet: keep looking until it has an
        // attachment, and remove what it has open then, once. What it opens afterwards (the
        // journal asked whether a commit went through) is left to finish.
        while (!terminou && !encerrar) {
            int removidos = 0;
            for (const std::u16string& local : fb::LocaisAbertos()) {
                try {
                    removidos += CancelarAnexos(local);
                } catch (const std::exception&) {
                    // The database may not open yet (a server restarting); look again.
                }
            }
            if (removidos > 0) return;
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
