// The generation pass: turns the payroll's rows of one month into the interchange model.
#pragma once

#include <memory>

#include "model/Kavlo.h"

namespace kavlo {

class TRNPessoas;
class TRNMargem;
class TRNTransferidos;

class TGeracaoKAVLO {
  public:
    TGeracaoKAVLO();
    ~TGeracaoKAVLO();
    TGeracaoKAVLO(const TGeracaoKAVLO&) = delete;
    TGeracaoKAVLO& operator=(const TGeracaoKAVLO&) = delete;

    // Reads MesAtual, MesAnt, Ano and SqlFiltro from the current controller and every row in one
    // read-only snapshot, so the three files agree with each other, and hands the files to
    // `destino` record by record as they are read. The month arguments are checked before the
    // database is asked anything.
    void Gerar(DestinoKAVLO& destino);
    // The same, kept whole in memory: for small payrolls and the tests.
    std::unique_ptr<TKAVLO> Gerar();

  private:
    std::unique_ptr<TRNPessoas> goRNPessoas;
    std::unique_ptr<TRNMargem> goRNMargem;
    std::unique_ptr<TRNTransferidos> goRNTransferidos;
};

}  // namespace kavlo
