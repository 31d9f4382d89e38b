// The month's deduction table as the import sees it: the active rows by MATRICULA exactly as
// read (the first active row the database returns wins), with their slots and margin, and the
// keys of the inactive ones, only to tell the operator why a line was dropped.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>

#include "import/Lancamento.h"

namespace kavlo {

namespace fb {
class Conexao;
class Transacao;
}  // namespace fb

struct TabelaDeducao {
    std::unordered_map<std::u16string, LinhaDeducao> ativas;
    std::unordered_set<std::u16string> inativas;
};

// Whether `tabela` can be read at all, without reading it: a month whose table is missing fails
// here, saying which month to check, before anything is written.
void ConferirTabela(fb::Conexao& conexao, const std::u16string& tabela);

// One pass over `tabela` (SFPDXX02 + month), reading only the columns the import uses.
TabelaDeducao LerTabela(fb::Transacao& transacao, const std::u16string& tabela);

}  // namespace kavlo
