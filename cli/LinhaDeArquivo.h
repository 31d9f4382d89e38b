// kavlo linha: the pieces shared by the two files that take lines apart. The generation files'
// layouts and the result file's name their field descriptions alike (Origem), so each family is
// read in a file of its own.
#pragma once

#include <fmt/core.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "util/Codificacao.h"
#include "util/Layout.h"

namespace kavlo::cli::campos {

// One row of the table shown: a field, where it lies and its text; `leitura`, what the import
// makes of it, for the fields it interprets.
struct CampoLido {
    std::string nome, posicoes, valor, leitura;
};

inline std::string Faixa(int inicio, int fim) {
    return inicio == fim ? std::to_string(inicio) : fmt::format("{}-{}", inicio, fim);
}

template <class Campos>
std::vector<CampoLido> Fixos(const Campos& campos, std::u16string_view linha) {
    std::vector<CampoLido> r;
    for (const auto& c : campos)
        r.push_back({std::string(c.nome),
                     Faixa(c.posicao.inicio, c.posicao.Fim()),
                     Aspas(LerCampo(linha, c.posicao)),
                     {}});
    return r;
}

// A record whose fields are separated by ";", numbered in the layout; the positions are those of
// each field in this line.
template <class Campos>
std::vector<CampoLido> Separados(const Campos& campos, std::u16string_view linha) {
    std::vector<CampoLido> r;
    size_t inicio = 0;
    size_t numero = 0;
    for (const auto& c : campos) {
        ++numero;
        if (inicio > linha.size()) {
            r.push_back({std::string(c.nome), fmt::format("nº {}", numero), "(ausente)", {}});
            continue;
        }
        size_t fim = linha.find(u';', inicio);
        if (fim == std::u16string_view::npos) fim = linha.size();
        const std::u16string_view valor = linha.substr(inicio, fim - inicio);
        r.push_back({std::string(c.nome),
                     fmt::format("nº {} ({})", numero,
                                 valor.empty()
                                     ? "vazio"
                                     : Faixa(static_cast<int>(inicio) + 1, static_cast<int>(fim))),
                     Aspas(valor),
                     {}});
        inicio = fim + 1;
    }
    return r;
}

enum class Tipo { Retorno, Margem, Pessoas, Transferidos, Resultado };

// The line's role (by place, as every reader of these files decides it), its fields and the
// layout's width (0 for a separated record).
struct Decodificada {
    std::string papel;
    std::vector<CampoLido> campos;
    int tamanho = 0;
    size_t separados = 0;  // fields of a separated record
};

template <class Cab, class Det, class Rod>
Decodificada PorPapel(size_t numero, size_t total, std::u16string_view linha, const Cab& cab,
                      const Det& det, const Rod& rod, std::string_view detalhe) {
    auto tamanho = [](const auto& campos) {
        int fim = 0;
        for (const auto& c : campos) fim = std::max(fim, c.posicao.Fim());
        return fim;
    };
    if (numero == 1 && total > 1) return {"cabeçalho", Fixos(cab, linha), tamanho(cab)};
    if (numero == total && total > 1) return {"rodapé", Fixos(rod, linha), tamanho(rod)};
    if (numero == 1) return {"cabeçalho e rodapé (a única linha)", Fixos(cab, linha), tamanho(cab)};
    return {std::string(detalhe), Fixos(det, linha), tamanho(det)};
}

// Margem.txt, Pessoas.csv or Transferidos.txt.
Decodificada DecodificarGerado(Tipo tipo, size_t numero, size_t total, std::u16string_view linha);
// The fields of a Pessoas.csv line in its layout.
size_t CamposDePessoas();

}  // namespace kavlo::cli::campos
