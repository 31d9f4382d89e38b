#include "bench/Lancador.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>

#include "util/LeitorDeLinhas.h"

namespace kavlo::bench {
namespace {

using Relogio = std::chrono::steady_clock;

bool Enviar(int fd, const void* dados, size_t n) {
    const auto* p = static_cast<const char*>(dados);
    while (n > 0) {
        const ssize_t k = ::write(fd, p, n);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

bool Receber(int fd, void* dados, size_t n) {
    auto* p = static_cast<char*>(dados);
    while (n > 0) {
        const ssize_t k = ::read(fd, p, n);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

struct Desfecho {
    int estado = 0;
    long picoKiB = 0;
    double segundos = 0, cpu = 0;
};

double Segundos(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double CpuDoProcesso() {
    rusage uso{};
    ::getrusage(RUSAGE_SELF, &uso);
    return Segundos(uso.ru_utime) + Segundos(uso.ru_stime);
}

}  // namespace

Processo Cronometrar(const std::function<void()>& f) {
    const auto inicio = Relogio::now();
    const double cpu = CpuDoProcesso();
    f();
    return {std::chrono::duration<double>(Relogio::now() - inicio).count(), CpuDoProcesso() - cpu,
            0};
}

Lancador::Lancador() {
    int pedidos[2], respostas[2];
    if (::pipe(pedidos) != 0 || ::pipe(respostas) != 0)
        throw std::runtime_error("não foi possível criar os canais do lançador");
    pid_ = ::fork();
    if (pid_ < 0) {
        for (int fd : {pedidos[0], pedidos[1], respostas[0], respostas[1]}) ::close(fd);
        throw std::runtime_error("não foi possível iniciar o lançador");
    }
    if (pid_ == 0) {
        ::close(pedidos[1]);
        ::close(respostas[0]);
        Servir(pedidos[0], respostas[1]);
    }
    ::close(pedidos[0]);
    ::close(respostas[1]);
    pedidos_ = pedidos[1];
    respostas_ = respostas[0];
}

Lancador::~Lancador() {
    ::close(pedidos_);
    ::close(respostas_);
    ::waitpid(pid_, nullptr, 0);
}

Processo Lancador::Rodar(std::vector<std::string> argumentos,
                         const std::filesystem::path& erros) const {
    argumentos.push_back(erros.string());
    const auto n = static_cast<uint32_t>(argumentos.size());
    bool ok = Enviar(pedidos_, &n, sizeof n);
    for (const auto& a : argumentos) {
        const auto tamanho = static_cast<uint32_t>(a.size());
        ok = ok && Enviar(pedidos_, &tamanho, sizeof tamanho) &&
             Enviar(pedidos_, a.data(), a.size());
    }
    Desfecho d;
    if (!ok || !Receber(respostas_, &d, sizeof d))
        throw std::runtime_error("o lançador do kavlo parou");
    if (!WIFEXITED(d.estado) || WEXITSTATUS(d.estado) != 0) {
        std::string mensagem;
        try {
            mensagem = LerBytes(erros);
        } catch (const std::exception&) {
        }
        throw std::runtime_error(
            argumentos[0] + " " + argumentos[1] + " falhou: " +
            mensagem.substr(mensagem.size() - std::min<size_t>(mensagem.size(), 2000)));
    }
    return {d.segundos, d.cpu, d.picoKiB / 1024};
}

// The launcher's loop: a request is the count of texts, then each text's length and bytes; the
// last text names the file for standard error. Ends when the benchmark closes the channel.
void Lancador::Servir(int pedidos, int respostas) {
    for (;;) {
        uint32_t n = 0;
        if (!Receber(pedidos, &n, sizeof n)) ::_exit(0);
        std::vector<std::string> textos(n);
        for (auto& t : textos) {
            uint32_t tamanho = 0;
            if (!Receber(pedidos, &tamanho, sizeof tamanho)) ::_exit(1);
            t.resize(tamanho);
            if (!Receber(pedidos, t.data(), tamanho)) ::_exit(1);
        }
        const std::string erros = textos.back();
        textos.pop_back();
        std::vector<char*> argv;
        for (auto& t : textos) argv.push_back(t.data());
        argv.push_back(nullptr);
        const auto inicio = Relogio::now();
        const pid_t filho = ::fork();
        if (filho == 0) {
            const int saida = ::open("/dev/null", O_WRONLY);
            const int erro = ::open(erros.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (saida < 0 || erro < 0 || ::dup2(saida, STDOUT_FILENO) < 0 ||
                ::dup2(erro, STDERR_FILENO) < 0)
                ::_exit(127);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        Desfecho d;
        rusage uso{};
        if (filho < 0 || ::wait4(filho, &d.estado, 0, &uso) < 0) d.estado = 127 << 8;
        d.segundos = std::chrono::duration<double>(Relogio::now() - inicio).count();
        d.picoKiB = uso.ru_maxrss;
        d.cpu = Segundos(uso.ru_utime) + Segundos(uso.ru_stime);
        if (!Enviar(respostas, &d, sizeof d)) ::_exit(1);
    }
}

}  // namespace kavlo::bench
