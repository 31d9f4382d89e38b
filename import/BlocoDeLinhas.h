// The text of an EXECUTE BLOCK over rows of the month's deduction table that each have the same
// slots posted: the posting's and the undo's are both made here. A template's {r} is the row's
// place in the block, {n} a slot's number and {p} the two together ("{r}_{n}"); a slot's columns
// (ColunasDaDeducao.h) are spelled out by PorColuna.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kavlo {

// "17"
std::u16string Num(size_t n);

class BlocoDeLinhas {
  public:
    explicit BlocoDeLinhas(const std::vector<int>& slots);

    // `modelo` once for each slot, in order, filled with {n}, {r} and {p}.
    std::u16string PorSlot(std::u16string_view modelo, std::u16string_view r = {}) const;

    // `modelo` once for each column of a slot, in kColunasDoSlot's order, filled with {coluna}
    // (COD), {c} (its initial, the name of its variables: CA, CD), {tipo} (as the posting sends
    // it) and {guardado} (as the journal keeps it); the rest is left for PorSlot.
    static std::u16string PorColuna(std::u16string_view modelo);

    // `modelo` filled with {parametros}, {declaracoes} (`declaracoesDoSlot` for each slot, then
    // `declaracoes`) and {corpo}; `linha` adds each row's parameters and body, given its {r}.
    using Linha = std::function<void(const std::u16string& r, std::u16string& parametros,
                                     std::u16string& corpo)>;
    std::u16string Montar(std::u16string_view modelo, std::u16string_view declaracoesDoSlot,
                          std::u16string_view declaracoes, size_t linhas, const Linha& linha) const;

    // The slots' numbers, as text.
    const std::vector<std::u16string>& Numeros() const { return numeros_; }

  private:
    std::vector<std::u16string> numeros_;
};

}  // namespace kavlo
