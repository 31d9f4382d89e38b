// Reading a return file must cost about what reading its bytes costs, whatever the bytes are: a
// binary file chosen by mistake is refused or read in one pass, never converted byte by byte in
// quadratic time. Each case reads a file of random bytes of KAVLO_BENCH_MIB MiB (50 by default);
// "LerBytes" is the reference: the same file read without decoding.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "bench/PastaDoBench.h"
#include "util/Erros.h"
#include "util/LeitorDeLinhas.h"

namespace {

namespace fs = std::filesystem;

size_t Tamanho() {
    const char* env = std::getenv("KAVLO_BENCH_MIB");
    return static_cast<size_t>(env && *env ? std::stod(env) * 1024 * 1024 : 50.0 * 1024 * 1024);
}

enum class Conteudo {
    Aleatorio,    // random bytes: a NUL comes early, followed by more bytes
    SemNul,       // random bytes with every NUL made 0x01: all of it is decoded
    Utf8SemNul,   // the same behind a UTF-8 byte-order mark: invalid sequences everywhere
    Indefinidos,  // only the five bytes Windows-1252 leaves undefined, and line ends
};

// A file per content, written once.
const fs::path& Arquivo(Conteudo conteudo) {
    static const fs::path pasta = kavlo::bench::PastaDoBench();
    static fs::path arquivos[4];
    fs::path& arquivo = arquivos[static_cast<int>(conteudo)];
    if (!arquivo.empty()) return arquivo;
    std::mt19937_64 gerador(12);
    std::string bytes(Tamanho(), '\0');
    for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        const uint64_t v = gerador();
        for (size_t k = 0; k < 8; ++k) bytes[i + k] = static_cast<char>(v >> (8 * k));
    }
    static constexpr unsigned char kIndefinidos[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D, '\r', '\n'};
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (conteudo == Conteudo::Indefinidos)
            bytes[i] = static_cast<char>(kIndefinidos[static_cast<unsigned char>(bytes[i]) % 7]);
        else if (conteudo != Conteudo::Aleatorio && bytes[i] == '\0')
            bytes[i] = '\x01';
    }
    if (conteudo == Conteudo::Utf8SemNul) bytes.replace(0, 3, "\xEF\xBB\xBF");
    arquivo = pasta / ("retorno-" + std::to_string(static_cast<int>(conteudo)) + ".txt");
    std::FILE* f = std::fopen(arquivo.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
    return arquivo;
}

void Contar(benchmark::State& estado) {
    estado.SetBytesProcessed(static_cast<int64_t>(estado.iterations() * Tamanho()));
    estado.counters["MiB"] = static_cast<double>(Tamanho()) / (1024.0 * 1024.0);
}

void LerBytes(benchmark::State& estado) {
    const fs::path& arquivo = Arquivo(Conteudo::SemNul);
    for (auto _ : estado) benchmark::DoNotOptimize(kavlo::LerBytes(arquivo));
    Contar(estado);
}

void LerLinhas(benchmark::State& estado) {
    const fs::path& arquivo = Arquivo(static_cast<Conteudo>(estado.range(0)));
    size_t linhas = 0;
    bool recusado = false;
    for (auto _ : estado) {
        try {
            linhas = kavlo::LerLinhas(arquivo).size();
        } catch (const kavlo::ErroArquivo&) {
            recusado = true;
        }
    }
    estado.counters["linhas"] = static_cast<double>(linhas);
    estado.counters["recusado"] = recusado ? 1 : 0;
    Contar(estado);
}

BENCHMARK(LerBytes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LerLinhas)
    ->ArgName("conteudo")
    ->Arg(static_cast<int>(Conteudo::Aleatorio))
    ->Arg(static_cast<int>(Conteudo::SemNul))
    ->Arg(static_cast<int>(Conteudo::Utf8SemNul))
    ->Arg(static_cast<int>(Conteudo::Indefinidos))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
