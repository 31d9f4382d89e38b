// The generation pass: turns the payroll's rows of one month into the interchange model.
#pragma once

#include <memory>

#include "model/Kavlo.h"

namespace kavlo {

class TGeracaoKAVLO {
  public:
    TGeracaoKAVLO();
    ~TGeracaoKAVLO();
    std::unique_ptr<TKAVLO> Gerar();
};

}  // namespace kavlo
