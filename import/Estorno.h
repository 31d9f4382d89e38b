// Undoing one import from its journal: every column the import changed gets its earlier value
// back, in one transaction, but only where the row still holds what the import wrote and no later
// import not undone posted for the same servants (the journal says so, whatever the values). If
// any row changed since (by hand, by the payroll, by a later import) nothing is changed at all.
// Rows are found by the keys the journal kept; after a restore from a backup, which changes the
// keys, and for a row a key no longer finds, by the servant's MATRICULA and the values the import
// wrote.
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

// Throws Erro when the import does not exist, was undone already, a later import posted for its
// servants, or a row changed since or cannot be found; the message names the servants, the slots
// and columns, any later import that posted there, and says when the database was restored since.
// `simular` checks everything and rolls back.
ResultadoEstorno EstornarImportacao(fb::Conexao& conexao, int32_t id, bool simular);

}  // namespace kavlo
