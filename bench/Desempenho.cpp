// kavlo_desempenho: generation and import on demo payrolls of growing size, embedded and through
// a local server, beside raw references measured in the same run (bench/Referencias.h), against
// the targets a state-sized payroll inside a 32-bit host needs (printed with the table):
// - generation (`kavlo gerar`, with a host filter that leaves out about 1,400 registrations by a
//   literal list) within 1.1x of its reference, read on a WIN1252 connection;
// - the exported import (ImportarArquivo from a host of its own, strict mode) within 1.1x of its
//   reference, which writes the same journal rows in the same kind of batches;
// - `kavlo importar`, which checks the return file before it imports, within 1.25x of the exported
//   import, and `kavlo estornar` of the import just measured no slower than it;
// - peak resident memory within 100 MiB up to 100,000 servants and 256 MiB beyond (1,000,000),
//   and time growing at most 11x from 100,000 to 1,000,000 servants.
//   kavlo_desempenho [sizes...]        (default 100000 1000000)
// Each program runs in a process of its own (bench/Lancador.h), so its peak memory is its own.
// Every time is the best of three runs; whatever changes the database runs on a fresh copy.
// Progress goes to standard error, the table to standard output. Server figures need a server on
// localhost (scripts/servidor-firebird.sh).
#include <fmt/core.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "bench/Ambiente.h"
#include "bench/Execucoes.h"
#include "bench/Lancador.h"
#include "bench/Resultados.h"
#include "demonstracao/BancoDemo.h"

namespace fs = std::filesystem;
using namespace kavlo;
using namespace kavlo::bench;

namespace {

void Medir(const Lancador& lancador, const std::vector<int>& tamanhos) {
    const Ambiente ambiente = PrepararAmbiente();
    Medidas medidas;
    for (int n : tamanhos) {
        const Folha folha = CriarFolha(ambiente, n);
        for (const bool viaServidor : {false, true}) {
            if (viaServidor && !ambiente.servidor) continue;
            Execucoes execucoes(lancador, ambiente, folha, viaServidor, medidas[{n, viaServidor}]);
            execucoes.Geracao();
            execucoes.Importacao();
        }
        fs::remove(folha.modelo);
    }
    Imprimir(medidas, tamanhos, kFiltroTrivial);
}

int Uso() {
    fmt::print(stderr,
               "Uso: kavlo_desempenho [--repeticoes N] [servidores...]   (de 1 a {}; padrão: "
               "100000 1000000; cada figura é a melhor de N execuções, padrão 3)\n",
               demo::kMaximoServidores);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> tamanhos;
    for (int i = 1; i < argc; ++i) {
        const bool repeticoes = std::string_view(argv[i]) == "--repeticoes";
        if (repeticoes && ++i == argc) return Uso();
        char* fim = nullptr;
        const long n = std::strtol(argv[i], &fim, 10);
        if (repeticoes) {
            if (*fim != '\0' || n < 1 || n > 9) return Uso();
            DefinirRepeticoes(static_cast<int>(n));
            continue;
        }
        if (*fim != '\0' || n < 1 || n > demo::kMaximoServidores) return Uso();
        tamanhos.push_back(static_cast<int>(n));
    }
    if (tamanhos.empty()) tamanhos = {100000, 1000000};
    std::sort(tamanhos.begin(), tamanhos.end());
    tamanhos.erase(std::unique(tamanhos.begin(), tamanhos.end()), tamanhos.end());
    try {
        const Lancador lancador;  // first of all, while this process is small
        Medir(lancador, tamanhos);
        return 0;
    } catch (const std::exception& e) {
        fmt::print(stderr, "A medição falhou: {}\n", e.what());
        return 1;
    }
}
