// GerarArquivo on demo payrolls of growing size: the time per servant must stay flat (nothing
// asked per row of the database, nothing quadratic), and the peak memory is reported.
//   KAVLO_BENCH_SERVIDORES=25000,100000 (default) chooses the sizes.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "bench/PastaDoBench.h"
#include "demonstracao/BancoDemo.h"
#include "util/Codificacao.h"

namespace {

namespace fs = std::filesystem;

fs::path Pasta() {
    return kavlo::bench::PastaDoBench();
}

// Built in a child process, so the builder's own memory does not count in the peak below.
fs::path Banco(int servidores) {
    static std::map<int, fs::path> prontos;
    if (auto it = prontos.find(servidores); it != prontos.end()) return it->second;
    const fs::path banco = Pasta() / ("folha-" + std::to_string(servidores) + ".fdb");
    const pid_t filho = ::fork();
    if (filho == 0) {
        kavlo::demo::OpcoesDemo o;
        o.banco = banco.string();
        o.servidores = servidores;
        o.mes = 2;
        o.ano = 2024;
        try {
            kavlo::demo::CriarBancoDemo(o);
        } catch (...) {
            std::_Exit(1);
        }
        std::_Exit(0);
    }
    int estado = 0;
    ::waitpid(filho, &estado, 0);
    if (!WIFEXITED(estado) || WEXITSTATUS(estado) != 0) return {};
    return prontos[servidores] = banco;
}

double PicoMemoriaMiB() {
    rusage uso{};
    ::getrusage(RUSAGE_SELF, &uso);
    return static_cast<double>(uso.ru_maxrss) / 1024.0;  // KiB on Linux
}

void GerarArquivoDemo(benchmark::State& estado) {
    const int servidores = static_cast<int>(estado.range(0));
    const fs::path banco = Banco(servidores);
    if (banco.empty()) {
        estado.SkipWithError("não foi possível criar o banco de demonstração");
        return;
    }
    const fs::path saida = Pasta() / ("saida-" + std::to_string(servidores));
    fs::create_directories(saida);
    using kavlo::CadeiaHost;
    CadeiaHost mes(u"2"), mesAnt(u"1"), ano(u"2024"), caminho(kavlo::DeUtf8(banco.string())),
        pasta(kavlo::DeUtf8(saida.string() + "/")), filtro(u"select matricula from SFP001FEV");
    for (auto _ : estado) GerarArquivo(mes, mesAnt, ano, caminho, pasta, filtro);
    estado.counters["servidores"] = servidores;
    estado.counters["servidores_por_s"] = benchmark::Counter(
        static_cast<double>(servidores), benchmark::Counter::kIsIterationInvariantRate);
    estado.counters["pico_memoria_MiB"] = PicoMemoriaMiB();
    estado.counters["margem_MiB"] =
        static_cast<double>(fs::file_size(saida / "Margem.txt")) / (1024.0 * 1024.0);
}

void Tamanhos(benchmark::internal::Benchmark* b) {
    const char* env = std::getenv("KAVLO_BENCH_SERVIDORES");
    std::stringstream lista(env && *env ? env : "25000,100000");
    for (std::string item; std::getline(lista, item, ',');) b->Arg(std::stoi(item));
}

BENCHMARK(GerarArquivoDemo)
    ->Apply(Tamanhos)
    ->Unit(benchmark::kSecond)
    ->Iterations(2)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
