// The export writer: writes the three interchange files from the model.
#pragma once

#include "model/Kavlo.h"

namespace kavlo {

class TExportacaoKAVLO {
  public:
    void Exportar(const TKAVLO& AKAVLO);
};

}  // namespace kavlo
