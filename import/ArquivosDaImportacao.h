// The files of one import, named in one place for the library and the tool, so that every file an
// import writes is in the check that no two of them, nor the database, are the same file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dao/firebird/Firebird.h"
#include "util/Caminhos.h"

namespace kavlo {

struct ArquivosDaImportacao {
    // Written: the result file and the report by the library (under their simulation names for a
    // simulation), the check's findings by the tool, beside the result. Beside the result too, by
    // the library: the report's copy under the result's name, which an import of another database
    // into the same folder does not replace, and the return lines that were not posted.
    std::u16string resultado, relatorio, verificacao, copiaRelatorio, recusadas;
    // Read.
    std::u16string retorno;

    // Each of them with its role; the tool's own file only for `daFerramenta`. A file added to
    // the import is added here, and so joins the check.
    std::vector<PapelDeArquivo> Papeis(bool daFerramenta) const;
};

// The names an import with these arguments uses (`caminhoBanco` as the host passed it).
ArquivosDaImportacao NomesDaImportacao(std::u16string_view caminhoBanco,
                                       std::u16string_view resultado, std::u16string_view retorno,
                                       bool simular);

// Refuses, before anything is written, an import in which two of these files, or one of them and
// the database (every spelling of `caminhoBanco`, and the file its engine says it has open on
// `conexao`), are the same file.
void ConferirArquivosDaImportacao(const ArquivosDaImportacao& arquivos,
                                  std::u16string_view caminhoBanco, fb::Conexao& conexao,
                                  bool daFerramenta);

}  // namespace kavlo
