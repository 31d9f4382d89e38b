#include "generation/GeracaoKavlo.h"

#include "entry/ProcessoKavlo.h"
#include "util/Numeros.h"

namespace kavlo {

TGeracaoKAVLO::TGeracaoKAVLO() = default;
TGeracaoKAVLO::~TGeracaoKAVLO() = default;

std::unique_ptr<TKAVLO> TGeracaoKAVLO::Gerar() {
    const TProcessoKAVLO& processo = TProcessoKAVLO::getInstance();
    StrToInt(processo.MesAtual);
    return std::make_unique<TKAVLO>();
}

}  // namespace kavlo
