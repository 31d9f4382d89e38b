// The raw references each operation is measured against: the database work it cannot do without,
// written plainly, in the same run and on the same copy of the database.
#pragma once

#include <string>
#include <vector>

#include "bench/Lancador.h"

namespace kavlo::bench {

// Generation: on a WIN1252 connection, where the filter's literals are WIN1252 like the column they
// are compared with, the host's filter run once and its registrations fetched, every row and
// column of the three generation queries without the filter fetched as text, and one read of the
// month's events.
Processo ReferenciaGeracao(const std::u16string& local, const std::u16string& filtro);

// The import, journal included: the journal made if missing, one read of the month's events, the
// columns the import reads of every row of the month's deduction table, and in one committed
// transaction the import's journal row, then per servant the return file names (`linhas`, every
// line of the file) the instalments the strict mode posts, decided as the import decides them,
// written into the first free slots by RDB$DB_KEY with one journal row per posting (before and
// after values from UPDATE ... RETURNING), in EXECUTE BLOCK batches of up to 32 rows that take the
// same slots. Changes the database: run it on a fresh copy.
Processo ReferenciaImportacao(const std::u16string& local,
                              const std::vector<std::u16string>& linhas);

}  // namespace kavlo::bench
