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
    // The keys are copied again in their sorted order without the repeats: the block shrinks to
    // the distinct keys and a search reads neighbouring memory. Sized exactly first, so the
    // copy never grows by doubling while the original is still held.
    size_t distintas = 0, tamanho = 0;
    for (size_t i = 0; i < chaves_.size(); ++i)
        if (i == 0 || Texto(chaves_[i - 1]) != Texto(chaves_[i])) {
            ++distintas;
            tamanho += chaves_[i].tamanho;
        }
    std::u16string texto;
    texto.reserve(tamanho);
    std::vector<Entrada> chaves;
    chaves.reserve(distintas);
    for (const Entrada& c : chaves_) {
        if (!chaves.empty() && std::u16string_view(texto).substr(
                                   chaves.back().inicio, chaves.back().tamanho) == Texto(c)) {
            chaves.back().valor = std::max(chaves.back().valor, c.valor);
            continue;
        }
        chaves.push_back({static_cast<uint32_t>(texto.size()), c.tamanho, c.valor});
        texto += Texto(c);
    }
    texto_ = std::move(texto);
    chaves_ = std::move(chaves);
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
