// The return file a loan-management party would send back for the demo payroll: a header, about
// one instalment for 60% of the active servants and a second for 10%, some above the margin, a few
// for inactive servants and for keys the payroll does not have, and the trailer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "demonstracao/Servidores.h"

namespace kavlo::demo {

struct Retorno {
    std::vector<std::u16string> linhas;  // header, details, trailer
    int detalhes = 0, desconhecidas = 0, inativos = 0;
};

// The lines of the file, laid out as import/ArquivoRetorno.h declares them, each as wide as an
// instalment line. A value that does not fill its field exactly is a fault of this builder
// (kavlo::Erro).
Retorno MontarRetorno(uint32_t semente, const std::vector<Servidor>& servidores,
                      const Competencia& c);

}  // namespace kavlo::demo
