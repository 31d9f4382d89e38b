// The return-file import: posts the instalments and writes the result file and the report.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "import/Lancamento.h"

namespace kavlo {

// What a caller inside the process may ask of an import besides the host's arguments. The
// exports never set any of it: a host always gets a real import that refuses a file already
// imported for the month.
struct OpcoesImportacao {
    // Writes the result file and the report, then rolls every posting back.
    bool simular = false;
    // Posts a file the journal shows as already imported for the month.
    bool reimportar = false;
    // Called just before the commit is sent; lets the tests cut the connection at that moment.
    std::function<void()> antesDoCommit;
    // How long to keep asking the database whether a commit whose answer was lost went through.
    double esperaConfirmacao = 30;
};

struct LinhaIgnorada {
    size_t linha;  // 1-based line of the return file
    std::u16string chave;
};

struct ResumoImportacao {
    // One more instalment with this outcome.
    void Contar(Resultado r);

    int32_t id = 0;  // in the journal
    int64_t linhas = 0, detalhes = 0, integral = 0, parcial = 0, naoDescontadas = 0, semSlot = 0;
    std::vector<LinhaIgnorada> naoEncontradas, inativas;
    int64_t totalCentavos = 0;
    bool margemVerificada = true;
    bool simulacao = false;
    std::u16string resultado, relatorio;
    // Set when the commit's answer was lost and the journal showed it went through.
    std::string aviso;
};

class TImportacaoKAVLO {
  public:
    TImportacaoKAVLO();
    ~TImportacaoKAVLO();
    ResumoImportacao Importar(const std::vector<std::u16string>& AArquivo,
                              const std::u16string& ACaminhoBanco,
                              const std::u16string& AVerificaMargem);
};

}  // namespace kavlo
