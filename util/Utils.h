// Small text helpers shared by the queries, the generation pass, the export writer and the import.
// Positions and lengths count UTF-16 code units; comparisons are exact.
#pragma once

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace kavlo {

// Month abbreviations that name the payroll's month tables (SFP001 + "JAN").
inline constexpr std::array<std::u16string_view, 12> MesesAbreviados = {
    u"JAN", u"FEV", u"MAR", u"ABR", u"MAI", u"JUN", u"JUL", u"AGO", u"SET", u"OUT", u"NOV", u"DEZ"};

inline std::u16string Iif(bool condicao, std::u16string_view verdadeiro,
                          std::u16string_view falso) {
    return std::u16string(condicao ? verdadeiro : falso);
}

// Removes the characters of `caracteres` position by position: after a deletion the character that
// moved in is compared only with the set characters after the one that matched, and the position
// then advances, so a run of removable characters is thinned, not removed whole ("a--b" -> "a-b").
std::u16string RemoveCaracteres(std::u16string_view texto, std::u16string_view caracteres);

// Cuts the text to `largura` or pads it on the right with spaces; empty for a width of 0 or less.
std::u16string AjustaTexto(std::u16string_view texto, int largura);

std::u16string Espacos(int quantidade);

// Abbreviation of month 1..12; the empty text for any other number.
std::u16string MesAbreviado(int mes);

// Without the blanks at its end: Firebird compares texts as if the shorter were padded with
// blanks, so keys that stand for column values are kept this way.
std::u16string_view SemBrancosFinais(std::u16string_view texto);

// Trims blanks and control characters (code units up to U+0020) at both ends.
std::u16string_view Aparar(std::u16string_view texto);

// `modelo` with each "{nome}" replaced by its value, built front to back; a "{" that names no value
// stays as it is. For statement templates that read like the statement.
std::u16string Preencher(
    std::u16string_view modelo,
    std::initializer_list<std::pair<std::u16string_view, std::u16string_view>> valores);

}  // namespace kavlo
