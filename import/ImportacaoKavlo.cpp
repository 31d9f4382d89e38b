#include "import/ImportacaoKavlo.h"

#include "entry/ProcessoKavlo.h"
#include "util/Numeros.h"

namespace kavlo {

TImportacaoKAVLO::TImportacaoKAVLO() = default;
TImportacaoKAVLO::~TImportacaoKAVLO() = default;

void TImportacaoKAVLO::Importar(const std::vector<std::u16string>&, const std::u16string&,
                                const std::u16string&) {
    const TProcessoKAVLO& processo = TProcessoKAVLO::getInstance();
    StrToInt(processo.MesAtual);
}

}  // namespace kavlo
