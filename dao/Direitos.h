// The rights of a database user in the operator's words: what a refusal for lack of rights means,
// and what a grant gives.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "util/Erros.h"

namespace kavlo {

// "ler (SELECT)", "alterar (UPDATE)": what a privilege, as Firebird names it, lets one do.
std::string VerboDoDireito(std::string_view privilegio);

// "ler (SELECT) a tabela SFP001FEV", "alterar (UPDATE) a coluna COD1 da tabela SFPDXX02FEV":
// what the privilege (as Firebird names it: SELECT, INSERT, UPDATE, DELETE, USAGE, EXECUTE,
// REFERENCES) on the object (TABLE, COLUMN as "TABELA.COLUNA", GENERATOR, PROCEDURE, VIEW, ...)
// lets one do.
std::string DescreverDireito(std::string_view privilegio, std::string_view tipo,
                             std::string_view objeto);

// Why the server refused, when it refused for lack of rights: `codigos` are the error's codes and
// `semPermissao` the texts of its "no permission" error (privilege, object type, object). Empty
// for any other error.
// Whether the server refused for lack of a right on an object.
bool SemDireito(const ErroBanco& erro);

// Whether the failure is a statement that tried to write in a read-only transaction.
bool TentouGravarSemPoder(const ErroBanco& erro);

std::string ExplicarFaltaDeDireito(const std::vector<long>& codigos,
                                   const std::vector<std::string>& semPermissao);

}  // namespace kavlo
