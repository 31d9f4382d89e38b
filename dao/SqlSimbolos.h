// The pieces of an SQL text as Firebird's dialect 1 reads them: string literals ('text', "text"
// and Q'<text>'), names (keywords and identifiers alike, numbers too) and signs. Blanks and
// comments separate them and are not pieces.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kavlo::fb {

enum class TipoSimbolo { Literal, Nome, Sinal };

struct Simbolo {
    TipoSimbolo tipo;
    size_t inicio, fim;  // where it is in the text: [inicio, fim)
    // A literal's text (its quotes taken off, a doubled quote made one); a name or a sign as
    // written. Two-character operators (<>, !=, <=, ||, ...) are one sign.
    std::u16string conteudo;

    bool Eh(TipoSimbolo t, std::u16string_view texto) const;  // the name in any case
    // A character set introducer (_WIN1252): an unquoted name never starts with "_".
    bool Introdutor() const { return tipo == TipoSimbolo::Nome && conteudo[0] == u'_'; }
};

struct Simbolos {
    std::vector<Simbolo> lista;
    // False when a literal is not closed: the list stops before it (the server will say so).
    bool completo = true;
};

Simbolos SepararSimbolos(std::u16string_view sql);

// Whether every character is ASCII: such a text has the same bytes in every character set.
bool SoAscii(std::u16string_view texto);

}  // namespace kavlo::fb
