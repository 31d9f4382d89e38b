// A set of short keys (registrations) for runs over a whole payroll: the keys are kept back to
// back in one block and found by binary search, 12 bytes a key beside its text (about 30 bytes for
// a registration of 8 characters, on 32 and on 64 bits) instead of a string and a hash node each.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavlo {

class ConjuntoDeChaves {
  public:
    // Adds a key with a number of the caller's; a key added again keeps the largest number.
    void Incluir(std::u16string_view chave, uint32_t valor = 0);

    // Sorts the keys and drops the repeats; required before the keys are looked up, and no key
    // may be added afterwards.
    void Fechar();

    // The key's place among the distinct keys (0 to Tamanho() - 1), compared code unit by code
    // unit; nothing for a key not in the set.
    std::optional<uint32_t> Indice(std::u16string_view chave) const;
    bool Contem(std::u16string_view chave) const { return Indice(chave).has_value(); }

    size_t Tamanho() const { return chaves_.size(); }
    std::u16string_view Chave(uint32_t indice) const;
    uint32_t Valor(uint32_t indice) const { return chaves_[indice].valor; }

  private:
    struct Entrada {
        uint32_t inicio;
        uint16_t tamanho;
        uint32_t valor;
    };
    std::u16string_view Texto(const Entrada& c) const {
        return std::u16string_view(texto_).substr(c.inicio, c.tamanho);
    }

    std::u16string texto_;
    std::vector<Entrada> chaves_;
    bool fechado_ = false;
};

}  // namespace kavlo
