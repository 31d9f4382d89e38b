// The return-file import: posts the instalments and writes the result file and the report.
#pragma once

#include <string>
#include <vector>

namespace kavlo {

class TImportacaoKAVLO {
  public:
    TImportacaoKAVLO();
    ~TImportacaoKAVLO();
    void Importar(const std::vector<std::u16string>& AArquivo, const std::u16string& ACaminhoBanco,
                  const std::u16string& AVerificaMargem);
};

}  // namespace kavlo
