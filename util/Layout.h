// Record layouts: one vocabulary for every record the system reads or writes (the three
// interchange files, the return file, the result file, the report). A layout is a table of
// fields, each with its name and where it lies; what fills a field is each layout's own business.
#pragma once

#include <string>
#include <string_view>
#include <variant>

namespace kavlo {

// Where a field lies: 1-based first position and width, in UTF-16 code units.
struct Posicao {
    int inicio = 0;
    int largura = 0;
    constexpr int Fim() const { return inicio + largura - 1; }
};

// "posições 140 a 154" ("posição 67" for a single one), for messages.
inline std::string Posicoes(Posicao p) {
    if (p.largura == 1) return "posição " + std::to_string(p.inicio);
    return "posições " + std::to_string(p.inicio) + " a " + std::to_string(p.Fim());
}

// The characters of a field of `linha`; shorter, or empty, when the line ends before it.
inline std::u16string_view LerCampo(std::u16string_view linha, Posicao p) {
    if (p.inicio < 1 || p.largura <= 0) return {};
    const auto a = static_cast<size_t>(p.inicio - 1);
    if (a >= linha.size()) return {};
    return linha.substr(a, static_cast<size_t>(p.largura));
}

// A field of a record: its name (for messages and tests), where it lies, and what fills it.
// Separated records number their fields 1, 2, 3... in place of a first position; the pieces of a
// report entry have a width (0: as long as its text) and no position.
template <class Valor = std::monostate>
struct Campo {
    std::string_view nome;
    Posicao posicao;
    Valor valor = {};
};

// Each field starts where the previous ends, and the record has `tamanho` positions.
template <class Campos>
constexpr bool Contiguo(const Campos& campos, int tamanho) {
    int proximo = 1;
    for (const auto& c : campos) {
        if (c.posicao.inicio != proximo || c.posicao.largura <= 0) return false;
        proximo += c.posicao.largura;
    }
    return proximo == tamanho + 1;
}

// The fields of a separated record are numbered 1, 2, 3... in table order.
template <class Campos>
constexpr bool Numerado(const Campos& campos) {
    int numero = 1;
    for (const auto& c : campos)
        if (c.posicao.inicio != numero++) return false;
    return true;
}

// A record's line: each field's text, as `texto(campo)` makes it, joined by `separador`.
template <class Campos, class Texto>
std::u16string MontarLinha(const Campos& campos, Texto&& texto,
                           std::u16string_view separador = {}) {
    std::u16string r;
    bool primeiro = true;
    for (const auto& c : campos) {
        if (!primeiro) r += separador;
        primeiro = false;
        r += texto(c);
    }
    return r;
}

}  // namespace kavlo
