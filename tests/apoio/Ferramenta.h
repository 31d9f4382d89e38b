// A program run as the separate process an operator runs (the kavlo tool unless named): its exit
// code and what it printed.
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

// One run, started at construction; `entrada` is its standard input (not a terminal), standard
// output and error go to files in `pasta`.
class FerramentaEmExecucao {
  public:
    FerramentaEmExecucao(const std::vector<std::string>& argumentos,
                         const std::filesystem::path& pasta);
    FerramentaEmExecucao(const std::filesystem::path& programa,
                         const std::vector<std::string>& argumentos,
                         const std::filesystem::path& pasta, const std::string& entrada = {});
    ~FerramentaEmExecucao();
    FerramentaEmExecucao(const FerramentaEmExecucao&) = delete;
    FerramentaEmExecucao& operator=(const FerramentaEmExecucao&) = delete;

    void Sinalizar(int sinal) const;
    // Waits for it to end.
    Execucao Esperar();
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    std::filesystem::path entrada_, saida_, erro_;
};

// kavlo importar of the demo's month (2/2024, MENSAL) from `retorno` into `banco`.
std::vector<std::string> ImportarDaDemo(const std::string& banco, const std::string& resultado,
                                        const std::string& retorno);
// kavlo gerar of the demo's month (2/2024, previous month 1) from `banco` into `saida`.
std::vector<std::string> GerarDaDemo(const std::string& banco, const std::string& saida,
                                     const std::string& filtro);

// kavlo gerar of the demo's month (2/2024, previous month 1) from `banco` into `saida` with
// `filtro`.
std::vector<std::string> GerarDaDemo(const std::string& banco, const std::string& saida,
                                     const std::string& filtro);

// Runs the tool with `argumentos` to its end; with `sinal`, sends that signal (SIGINT, SIGTERM,
// SIGKILL) `apos` after it started.
struct SinalApos {
    int sinal;
    std::chrono::milliseconds apos;
};
Execucao Kavlo(const std::vector<std::string>& argumentos, const std::filesystem::path& pasta,
               std::optional<SinalApos> sinal = {});
// The same for any program, with `entrada` as its standard input.
Execucao ExecutarPrograma(const std::filesystem::path& programa,
                          const std::vector<std::string>& argumentos,
                          const std::filesystem::path& pasta, const std::string& entrada = {},
                          std::optional<SinalApos> sinal = {});

}  // namespace kavlo::teste
