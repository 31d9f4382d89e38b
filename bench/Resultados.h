// What kavlo_desempenho measured, and the table it prints against the targets.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench/Lancador.h"

namespace kavlo::bench {

// How many times each figure is measured, the best one counting: three, unless the command line
// asks fewer for a long run.
int Repeticoes();
void DefinirRepeticoes(int n);
// Registrations the host's filter leaves out.
inline constexpr size_t kExcluidasPeloFiltro = 1400;

// One operation over its runs: the best wall and CPU times, the largest peak.
struct Figura {
    double segundos = 1e9, cpu = 1e9;
    long picoMiB = 0;
    void Incluir(const Processo& p);
};

struct Medida {
    Figura referenciaGeracao, geracao, geracaoTrivial;
    Figura referenciaImportacao, importacao, importar, estorno;
};

// By size and access (true: through the local server).
using Medidas = std::map<std::pair<int, bool>, Medida>;

// The table, the growth from the smallest size to the largest and the targets, to standard output.
void Imprimir(const Medidas& medidas, const std::vector<int>& tamanhos,
              const std::u16string& filtroTrivial);

// A number as an operator reads it, with a decimal comma.
std::string Decimal(double valor, int casas);

}  // namespace kavlo::bench
