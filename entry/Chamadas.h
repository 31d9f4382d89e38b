// The two operations as the exports run them, for callers inside the process: the exports
// themselves, the kavlo tool where it needs what a host cannot ask for (a simulation, importing a
// file again), and the tests. Each call takes the process-wide lock, so calls never overlap.
#pragma once

#include <optional>
#include <string>

#include "import/ImportacaoKavlo.h"

namespace kavlo {

struct ArgumentosGeracao {
    std::u16string MesAtual, MesAnt, Ano, CaminhoBanco, CaminhoArquivo, SqlFiltro;
};

struct ArgumentosImportacao {
    std::u16string MesAtual, Ano, CaminhoBanco, CaminhoArquivo, CaminhoLoad, Folhas, VerificaMargem;
};

void GerarArquivos(const ArgumentosGeracao& argumentos);

ResumoImportacao ImportarRetorno(const ArgumentosImportacao& argumentos,
                                 const OpcoesImportacao& opcoes = {});
// The same, posting from a return file a check has just read (VerificarRetorno) instead of
// reading it again: its hashes and keys are that read's, and the import fails, posting nothing, if
// the file's bytes have changed since. `lido` must be the file at CaminhoLoad.
ResumoImportacao ImportarRetorno(const ArgumentosImportacao& argumentos,
                                 const OpcoesImportacao& opcoes, ArquivoDeRetorno lido);

}  // namespace kavlo
