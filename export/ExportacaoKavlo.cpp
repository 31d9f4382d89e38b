#include "export/ExportacaoKavlo.h"

namespace kavlo {

void TExportacaoKAVLO::Exportar(const TKAVLO&) {}

}  // namespace kavlo
