// The return file a loan-management party would send back for the demo payroll: a header, about
// one instalment for 60% of the active servants and a second for 10%, some above the margin, a few
// for inactive servants and for keys the payroll does not have, and the trailer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "demonstracao/Servidores.h"

namespace kavlo::demo {

// The file is drawn servant by servant, in the order of their indexes, so that it never has to be
// held whole. Lines are laid out as import/ArquivoRetorno.h declares them, each as wide as an
// instalment line; a value that does not fill its field exactly is a fault of this builder
// (kavlo::Erro).
class RetornoDemo {
  public:
    // `servidores`: how many the payroll holds, so that no line meant to be unknown names one.
    RetornoDemo(uint32_t semente, const Competencia& c, int servidores);
    std::u16string Cabecalho() const;
    // Appends the detail lines of servant `v`, the next by index.
    void Detalhes(const Servidor& v, std::vector<std::u16string>& linhas);
    // The trailer, with the count and the sum of every detail line so far.
    std::u16string Rodape() const;

    int detalhes = 0, desconhecidas = 0, inativos = 0;

  private:
    uint32_t semente_;
    Competencia c_;
    int servidores_;
    Sorteio desconhecidos_;
    int64_t total_ = 0;
};

}  // namespace kavlo::demo
