#include "util/ConjuntoDeChaves.h"

#include <algorithm>
#include <limits>

#include "util/Codificacao.h"
#include "util/Erros.h"

namespace kavlo {

void ConjuntoDeChaves::Incluir(std::u16string_view chave, uint32_t valor) {
    if (fechado_) throw Erro("Conjunto de chaves já fechado: nenhuma chave pode ser incluída.");
    if (chave.size() > std::numeric_limits<uint16_t>::max())
        throw Erro("Chave longa demais para o conjunto de chaves: " +
                   ParaMensagem(chave.substr(0, 40)) + "...");
    if (texto_.size() + chave.size() > std::numeric_limits<uint32_t>::max())
        throw Erro("Chaves demais para o conjunto de chaves.");
    // A key added right after itself (a servant's lines side by side) only raises the number.
    if (!chaves_.empty() && Texto(chaves_.back()) == chave) {
        chaves_.back().valor = std::max(chaves_.back().valor, valor);
        return;
    }
    chaves_.push_back(
        {static_cast<uint32_t>(texto_.size()), static_cast<uint16_t>(chave.size()), valor});
    texto_ += chave;
}

void ConjuntoDeChaves::Fechar() {
    if (fechado_) return;
    fechado_ = true;
    std::sort(chaves_.begin(), chaves_.end(),
              [this](const Entrada& a, const Entrada& b) { return Texto(a) < Texto(b); });
    // Repeats are dropped from the index in place; their text stays in the block, which is not
    // copied: at a million keys a copy would double the set's memory while it is made.
    size_t distintas = 0;
    for (size_t i = 0; i < chaves_.size(); ++i) {
        if (distintas > 0 && Texto(chaves_[distintas - 1]) == Texto(chaves_[i])) {
            chaves_[distintas - 1].valor = std::max(chaves_[distintas - 1].valor, chaves_[i].valor);
            continue;
        }
        chaves_[distintas++] = chaves_[i];
    }
    chaves_.resize(distintas);
    chaves_.shrink_to_fit();
    texto_.shrink_to_fit();
}

std::u16string_view ConjuntoDeChaves::Chave(uint32_t indice) const {
    return Texto(chaves_[indice]);
}

std::optional<uint32_t> ConjuntoDeChaves::Indice(std::u16string_view chave) const {
    if (!fechado_) throw Erro("Conjunto de chaves consultado antes de fechado.");
    const auto achada = std::lower_bound(
        chaves_.begin(), chaves_.end(), chave,
        [this](const Entrada& c, std::u16string_view procurada) { return Texto(c) < procurada; });
    if (achada == chaves_.end() || Texto(*achada) != chave) return std::nullopt;
    return static_cast<uint32_t>(achada - chaves_.begin());
}

}  // namespace kavlo
