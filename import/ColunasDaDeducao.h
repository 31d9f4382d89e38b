// The columns of the month's deduction table (SFPDXX02 + month) that an import posts into and an
// undo gives back, named here once: the posting, the undo, the journal's copy of each value, the
// read of the taken slots and the operator role's grants are all made from these.
#pragma once

#include <array>
#include <string_view>

namespace kavlo {

// Slots the import uses, in the order they are tried; slot 10 belongs to the payroll itself.
inline constexpr std::array<int, 16> SlotsUsaveis = {1, 2,  3,  4,  5,  6,  7,  8,
                                                     9, 11, 12, 13, 14, 15, 16, 17};

// A column a posting changes. `texto`: kept by the journal as the bytes stored (else as a double).
struct ColunaDaDeducao {
    std::u16string_view nome;  // of a slot's column, without the slot's number (COD for COD7)
    bool texto;
    // The type the posting sends the value as (a slot's column only).
    std::u16string_view tipoDoLancamento;
};

// The five columns of each slot, in the order the journal keeps them.
inline constexpr std::array<ColunaDaDeducao, 5> kColunasDoSlot = {{
    {u"COD", true, u"varchar(10) character set win1252"},
    {u"VALOR", false, u"double precision"},
    {u"QUANT", false, u"integer"},
    {u"PERC", false, u"integer"},
    {u"TEMPO", false, u"integer"},
}};

// The slot's code: a slot is taken when its code is not empty.
inline constexpr std::u16string_view kCodigoDoSlot = kColunasDoSlot[0].nome;

// The row's margin and the mark that has the payroll recompute it: each posting changes them too.
inline constexpr std::array<ColunaDaDeducao, 2> kColunasDaLinha = {{
    {u"MCVALOR", false, {}},
    {u"RECALCULAR", true, {}},
}};

}  // namespace kavlo
