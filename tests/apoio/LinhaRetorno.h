// Return-file lines for tests, laid out by the declaration in import/ArquivoRetorno.h: tests name
// the field (`retorno::Parcela`) rather than its offset. Header-only, for the Windows tests too.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "import/ArquivoRetorno.h"

namespace kavlo::teste {

// Puts `texto` at the first position of `p`, widening the line with blanks as needed. A text longer
// than the field runs on into the next ones, as some tests want.
template <class Char>
void Por(std::basic_string<Char>& linha, Posicao p,
         std::type_identity_t<std::basic_string_view<Char>> texto) {
    const size_t inicio = static_cast<size_t>(p.inicio - 1);
    if (linha.size() < inicio + texto.size()) linha.resize(inicio + texto.size(), Char(' '));
    linha.replace(inicio, texto.size(), texto);
}

// A line of `tamanho` blanks, by default an instalment line without its last reserved field (197
// characters), with each text put at its field in turn.
template <class Char = char>
std::basic_string<Char> LinhaDeRetorno(
    std::initializer_list<std::pair<Posicao, std::basic_string_view<Char>>> campos,
    int tamanho = retorno::DataContrato.Fim()) {
    std::basic_string<Char> linha(static_cast<size_t>(tamanho), Char(' '));
    for (const auto& [p, texto] : campos) Por(linha, p, texto);
    return linha;
}

// Characters of a written line from 1-based position `inicio`, at most `quantidade` of them; empty
// past the end.
inline std::u16string_view Trecho(std::u16string_view texto, int inicio, int quantidade) {
    if (inicio < 1 || quantidade <= 0) return {};
    const auto a = static_cast<size_t>(inicio - 1);
    if (a >= texto.size()) return {};
    return texto.substr(a, static_cast<size_t>(quantidade));
}

}  // namespace kavlo::teste
