// The kavlo tool run as the separate program an operator runs: its exit code and what it printed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kavlo::teste {

struct Execucao {
    int codigo = -1;  // the exit code, or 1000 + the signal that ended it
    std::string saida, erro;
};

// One run of the tool, started at construction; standard output and error go to files in `pasta`.
class FerramentaEmExecucao {
  public:
    FerramentaEmExecucao(const std::vector<std::string>& argumentos,
                         const std::filesystem::path& pasta);
    ~FerramentaEmExecucao();
    FerramentaEmExecucao(const FerramentaEmExecucao&) = delete;
    FerramentaEmExecucao& operator=(const FerramentaEmExecucao&) = delete;

    void Sinalizar(int sinal) const;
    // Waits for it to end.
    Execucao Esperar();
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    std::filesystem::path saida_, erro_;
};

// kavlo importar of the demo's month (2/2024, MENSAL) from `retorno` into `banco`.
std::vector<std::string> ImportarDaDemo(const std::string& banco, const std::string& resultado,
                                        const std::string& retorno);

// Runs the tool with `argumentos` to its end; with `sinal`, sends that signal (SIGINT, SIGTERM,
// SIGKILL) `apos` after it started.
struct SinalApos {
    int sinal;
    std::chrono::milliseconds apos;
};
Execucao Kavlo(const std::vector<std::string>& argumentos, const std::filesystem::path& pasta,
               std::optional<SinalApos> sinal = {});

}  // namespace kavlo::teste
