// Translation of the payroll's codes into the texts and flags of the interchange files.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kavlo {

// Indexed by the code's integer value, from 0.
inline constexpr std::array<std::u16string_view, 7> EstadosCivis = {
    u"Outros", u"Solteiro", u"Casado", u"Divorciado", u"Outros", u"Viúvo", u"Desquitado e Outros"};

inline constexpr std::array<std::u16string_view, 3> Sexos = {u"Outros", u"M", u"F"};

inline constexpr std::array<std::u16string_view, 10> GrausInstrucao = {
    u"P", u"P", u"P", u"P", u"P", u"MI", u"M", u"SI", u"S", u"S"};

struct Vinculo {
    std::u16string_view codigo;  // CONFIG_KAVLO as text
    std::u16string_view nome;    // the flag it sets in a margin record
};

inline constexpr std::array<Vinculo, 7> Vinculos = {{
    {u"1", u"Comissionado"},
    {u"2", u"Temporario"},
    {u"3", u"Aposentado"},
    {u"4", u"Pensionista"},
    {u"5", u"Suspenso"},
    {u"6", u"Estatutario"},
    {u"7", u"EmpregadoPublico"},
}};

// The table's entry for a code; the empty text for a code outside the table.
template <size_t N>
std::u16string Traduzir(const std::array<std::u16string_view, N>& tabela, int32_t codigo) {
    if (codigo < 0 || static_cast<size_t>(codigo) >= N) return {};
    return std::u16string(tabela[static_cast<size_t>(codigo)]);
}

// "S" when the link code (compared as text, exactly) stands for the employment type `Tipo`.
std::u16string FlagVinculo(std::u16string_view Tipo, std::u16string_view codigo);

// Schooling letter codes that pass without translation: a non-empty part of "A_B".
bool PassaAB(std::u16string_view grau);

}  // namespace kavlo
