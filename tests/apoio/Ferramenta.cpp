#include "tests/apoio/Ferramenta.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tests/apoio/BancoTeste.h"

namespace kavlo::teste {

namespace fs = std::filesystem;

FerramentaEmExecucao::FerramentaEmExecucao(const std::vector<std::string>& argumentos,
                                           const fs::path& pasta)
    : FerramentaEmExecucao(KAVLO_FERRAMENTA, argumentos, pasta) {}

FerramentaEmExecucao::FerramentaEmExecucao(const fs::path& programa,
                                           const std::vector<std::string>& argumentos,
                                           const fs::path& pasta, const std::string& entrada) {
    static std::atomic<int> sequencia{0};
    const std::string sufixo = std::to_string(::getpid()) + "-" + std::to_string(++sequencia);
    entrada_ = pasta / ("stdin-" + sufixo + ".txt");
    GravarArquivo(entrada_, entrada);
    saida_ = pasta / ("stdout-" + sufixo + ".txt");
    erro_ = pasta / ("stderr-" + sufixo + ".txt");
    // What this process still has buffered would be written again by the child.
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        if (!std::freopen(entrada_.c_str(), "r", stdin) ||
            !std::freopen(saida_.c_str(), "w", stdout) || !std::freopen(erro_.c_str(), "w", stderr))
            std::_Exit(127);
        std::vector<char*> argv{const_cast<char*>(programa.c_str())};
        for (const auto& a : argumentos) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(programa.c_str(), argv.data());
        std::_Exit(127);
    }
}

FerramentaEmExecucao::~FerramentaEmExecucao() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    fs::remove(entrada_, ec);
    fs::remove(saida_, ec);
    fs::remove(erro_, ec);
}

void FerramentaEmExecucao::Sinalizar(int sinal) const {
    if (pid_ > 0) ::kill(pid_, sinal);
}

Execucao FerramentaEmExecucao::Esperar() {
    int estado = 0;
    ::waitpid(pid_, &estado, 0);
    pid_ = -1;
    Execucao r;
    r.codigo = WIFEXITED(estado) ? WEXITSTATUS(estado) : 1000 + WTERMSIG(estado);
    r.saida = LerArquivo(saida_);
    r.erro = LerArquivo(erro_);
    return r;
}

std::vector<std::string> ImportarDaDemo(const std::string& banco, const std::string& resultado,
                                        const std::string& retorno) {
    return {"importar",    "--mes",   "2",         "--ano", "2024",     "--banco", banco,
            "--resultado", resultado, "--retorno", retorno, "--folhas", "MENSAL"};
}

std::vector<std::string> GerarDaDemo(const std::string& banco, const std::string& saida,
                                     const std::string& filtro) {
    return {"gerar", "--mes",   "2",   "--mes-anterior", "1",   "--ano", "2024", "--banco",
            banco,   "--saida", saida, "--filtro",       filtro};
}

Execucao Kavlo(const std::vector<std::string>& argumentos, const fs::path& pasta,
               std::optional<SinalApos> sinal) {
    return ExecutarPrograma(KAVLO_FERRAMENTA, argumentos, pasta, {}, sinal);
}

Execucao ExecutarPrograma(const fs::path& programa, const std::vector<std::string>& argumentos,
                          const fs::path& pasta, const std::string& entrada,
                          std::optional<SinalApos> sinal) {
    FerramentaEmExecucao f(programa, argumentos, pasta, entrada);
    if (sinal) {
        std::this_thread::sleep_for(sinal->apos);
        f.Sinalizar(sinal->sinal);
    }
    return f.Esperar();
}

}  // namespace kavlo::teste
