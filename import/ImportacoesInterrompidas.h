// The result file and the report of an import are put in place before its commit. A process that
// dies between the two (killed, the power gone) leaves files that may describe postings the
// database never received, beside the earlier files it kept aside. Before placing them the import
// records what it places and what decides it (its journal id, its transaction, its database);
// every later import settles such records from the journal of that database.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/Caminhos.h"

namespace kavlo {

// What decides the fate of an import's files, for the record of their placement.
std::string DecisaoDaImportacao(int32_t id, int64_t transacao, std::u16string_view caminhoBanco);

// Settles the files of every import whose process died (or left them, its commit unknown) before
// its outcome was known, found beside `destinos` and in PastaDasColocacoes(): the journal holds
// the import → its files stand and the earlier ones go; it does not → the earlier files come back
// (or the new ones go, where there were none); the journal cannot be reached → everything stays,
// for a later run. `espera`: how long to wait for a transaction the server still holds. Returns a
// message for the operator for each import, in Portuguese.
std::vector<std::string> AcertarImportacoesInterrompidas(const std::vector<Caminho>& destinos,
                                                         double espera);

}  // namespace kavlo
