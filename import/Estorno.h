// Undoing one import from its journal: every column the import changed gets its earlier value
// back, in one transaction, but only where the row still holds what the import wrote. If any row
// changed since (by hand, by the payroll, by a later import) nothing is changed at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dao/Firebird.h"
#include "import/Diario.h"

namespace kavlo {

struct ResultadoEstorno {
    ImportacaoRegistrada importacao;
    int64_t linhas = 0;       // payroll rows given back their earlier values
    int64_t lancamentos = 0;  // postings undone
    bool simulacao = false;
};

// Throws Erro when the import does not exist, was undone already, or a row changed since; the
// message names the servants, the slots and columns, and any later import that wrote there.
// `simular` checks everything and rolls back.
ResultadoEstorno EstornarImportacao(fb::Conexao& conexao, int32_t id, bool simular);

}  // namespace kavlo
