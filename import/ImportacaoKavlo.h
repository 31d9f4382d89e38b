// The return-file import: posts the instalments and writes the result file and the report.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "import/ArquivoRetorno.h"
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
    // Called just before the commit is sent, and just after it succeeded; let the tests cut the
    // connection, or end the process, at those moments.
    std::function<void()> antesDoCommit, depoisDoCommit;
    // How long to keep asking the database whether a commit whose answer was lost went through.
    double esperaConfirmacao = 30;
};

struct LinhaIgnorada {
    size_t linha;  // 1-based line of the return file
    std::u16string chave;
};

// Lines of one kind an import dropped: how many, and the first of them, which is what is shown
// (a list that grows with the file would not keep the import's memory bounded).
struct LinhasIgnoradas {
    static constexpr size_t kGuardadas = 20;
    int64_t total = 0;
    std::vector<LinhaIgnorada> primeiras;  // up to kGuardadas, in file order

    void Incluir(size_t linha, std::u16string_view chave);
};

struct ResumoImportacao {
    // One more instalment with this outcome.
    void Contar(Resultado r);

    int32_t id = 0;  // in the journal
    int64_t linhas = 0, detalhes = 0, integral = 0, parcial = 0, naoDescontadas = 0, semSlot = 0;
    LinhasIgnoradas naoEncontradas, inativas;
    int64_t totalCentavos = 0;
    bool margemVerificada = true;
    bool simulacao = false;
    // The files written; `relatorio` empty when its folder could not be written (`avisoRelatorio`
    // says so), the copy beside the result then being the only one.
    std::u16string resultado, relatorio, copiaRelatorio, recusadas;
    std::string avisoRelatorio;
    // The lines in `recusadas` (not posted: no margin, no free slot, servant not found or not
    // active) and their instalments' total, of the amounts that convert.
    int64_t linhasRecusadas = 0, centavosRecusados = 0;
    // Set when the commit's answer was lost and the journal showed it went through.
    std::string aviso;
    // The files of earlier imports this one settled first (see ImportacoesInterrompidas.h),
    // also told on standard error when settled.
    std::vector<std::string> acertos;
};

class TImportacaoKAVLO {
  public:
    TImportacaoKAVLO();
    ~TImportacaoKAVLO();
    // AArquivo: the return file after its first pass; Importar makes the second.
    ResumoImportacao Importar(ArquivoDeRetorno& AArquivo, const std::u16string& ACaminhoBanco,
                              const std::u16string& AVerificaMargem);
};

}  // namespace kavlo
