// The host's filter with its text literals in the character set of what they are compared with.
// The connection's character set is NONE, so a plain literal is NONE text: compared with a WIN1252
// column, the server converts it to WIN1252 again for every row, and a filter that leaves out a
// thousand registrations by a literal list spends a fifth of its time doing so. The same literal
// behind the column's introducer (_WIN1252 '0001-2') is compared as it is.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dao/SqlSimbolos.h"
#include "dao/firebird/Firebird.h"

namespace kavlo {

// Which literals of the filter (their places in `simbolos`) stand whole on one side of a
// comparison, against a value that decides how they compare: the right side of =, <>, !=, <, >,
// <=, >= (and the forms with ^, ~ and !) with nothing after it but the end of the condition, and
// the items of an IN list. Only ASCII literals without an introducer are named: their bytes are the
// same in every character set. A literal anywhere else (an argument, a concatenation, a LIKE
// pattern, a select list, after COLLATE) lends its own character set to what it is part of, and is
// left as it is.
std::vector<size_t> LiteraisComparados(const std::vector<fb::Simbolo>& simbolos);

// The name of a character set whose texts compare as their characters, exactly, once the trailing
// blanks are set aside: the set's default collation is its own (the database did not make another
// one the default). Nothing for OCTETS, which pads with zero bytes, not blanks, or for a set the
// database does not know.
std::optional<std::u16string> ConjuntoComOrdemPropria(fb::Transacao& transacao, unsigned charset);

// The filter with each literal LiteraisComparados names given the character set the server
// infers for its place (the column's, in "matricula not in ('0001-2', ...)"), where that set is
// neither NONE nor OCTETS and has its own collation as default. Such a literal means exactly what
// it meant: the server converted its bytes unchanged to that set, and compared them under the
// other side's collation, as it still does. The filter comes back as it was when it cannot be
// read that way (it does not prepare with parameters in those places, or a literal is not closed).
std::u16string LiteraisNoConjuntoComparado(fb::Transacao& transacao, std::u16string_view filtro);

}  // namespace kavlo
