#include "cli/Interrupcao.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "dao/firebird/Firebird.h"

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
        // attachment, and end what it has open then, once. What it opens afterwards (the journal
        // asked whether a commit went through) is left to finish.
        while (!terminou && !encerrar) {
            if (fb::AbortarAnexos() > 0) return;
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
