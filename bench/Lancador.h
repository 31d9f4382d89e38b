// Runs the `kavlo` tool (or another program) in a process of its own and measures it: wall time
// and peak resident memory.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kavlo::bench {

// Wall time, CPU time (user and system) and peak resident memory of one run. Embedded, the
// database engine runs inside the process, and its CPU time says how much work the run was when
// the machine is shared and the wall time is not.
struct Processo {
    double segundos = 0, cpu = 0;
    long picoMiB = 0;
};

// Runs `f` in this process: its wall time and this process's CPU time meanwhile, all threads.
Processo Cronometrar(const std::function<void()>& f);

// Runs programs from a process of its own, forked first thing while the benchmark is still small.
// A process's peak memory starts from what it was forked from (Linux counts the resident pages of
// the parent at the fork, and the parent's own peak when they share memory until the exec), and the
// benchmark holds the database engine and the return file's keys: forked from it, the tool would be
// charged for them.
class Lancador {
  public:
    Lancador();
    ~Lancador();
    Lancador(const Lancador&) = delete;
    Lancador& operator=(const Lancador&) = delete;

    // Runs `argumentos` (the program first) and returns what it took.
    // Its standard error goes to `erros`, whose end a failure quotes.
    Processo Rodar(std::vector<std::string> argumentos, const std::filesystem::path& erros) const;

  private:
    [[noreturn]] static void Servir(int pedidos, int respostas);

    int pedidos_ = -1, respostas_ = -1;
    pid_t pid_ = -1;
};

}  // namespace kavlo::bench
