#include "cli/Ajuda.h"

#include <algorithm>

namespace kavlo::cli {
namespace {

// The help is read on an 80- or 100-column terminal; a description wraps at this width.
constexpr size_t kLarguraTotal = 100;

// The description's words, wrapped at `largura` columns; a line break of its own stays.
std::vector<std::string> Quebrar(const std::string& texto, size_t largura) {
    std::vector<std::string> linhas;
    size_t inicio = 0;
    while (inicio <= texto.size()) {
        const size_t fim = std::min(texto.find('\n', inicio), texto.size());
        std::string linha;
        size_t p = inicio;
        while (p < fim) {
            size_t espaco = texto.find(' ', p);
            if (espaco == std::string::npos || espaco > fim) espaco = fim;
            const std::string palavra = texto.substr(p, espaco - p);
            if (!linha.empty() && Colunas(linha) + 1 + Colunas(palavra) > largura) {
                linhas.push_back(linha);
                linha.clear();
            }
            linha += (linha.empty() ? "" : " ") + palavra;
            p = espaco + 1;
        }
        linhas.push_back(linha);
        inicio = fim + 1;
    }
    return linhas;
}

}  // namespace

size_t Colunas(std::string_view utf8) {
    // Continuation bytes (10xxxxxx) belong to the character before them.
    return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string DuasColunas(const std::string& nome, const std::string& descricao, size_t largura,
                        size_t total) {
    std::string r = "  " + nome;
    if (descricao.empty()) return r + "\n";
    const size_t usadas = Colunas(r);
    if (usadas >= largura)
        r += "\n" + std::string(largura, ' ');
    else
        r += std::string(largura - usadas, ' ');
    const auto linhas = Quebrar(descricao, total > largura + 20 ? total - largura : 20);
    for (size_t i = 0; i < linhas.size(); ++i)
        r += (i ? std::string(largura, ' ') : std::string()) + linhas[i] + "\n";
    return r;
}

std::string FormatadorAjuda::make_option(const CLI::Option* opcao, bool posicional) const {
    return DuasColunas(make_option_name(opcao, posicional) + make_option_opts(opcao),
                       make_option_desc(opcao), column_width_, kLarguraTotal);
}

std::string FormatadorAjuda::make_subcommand(const CLI::App* sub) const {
    return DuasColunas(sub->get_display_name(true), sub->get_description(), column_width_,
                       kLarguraTotal);
}

std::string FormatadorAjuda::make_description(const CLI::App* app) const {
    const std::string descricao = app->get_description();
    if (descricao.empty()) return {};
    std::string r;
    for (const auto& linha : Quebrar(descricao, kLarguraTotal)) r += linha + "\n";
    return r;
}

std::optional<std::string> MaisProximo(const std::string& digitado,
                                       const std::vector<std::string>& candidatos) {
    // Levenshtein distance, by characters of the typed text as bytes: names are ASCII.
    const auto distancia = [](const std::string& a, const std::string& b) {
        std::vector<size_t> antes(b.size() + 1), agora(b.size() + 1);
        for (size_t j = 0; j <= b.size(); ++j) antes[j] = j;
        for (size_t i = 1; i <= a.size(); ++i) {
            agora[0] = i;
            for (size_t j = 1; j <= b.size(); ++j)
                agora[j] = std::min({antes[j] + 1, agora[j - 1] + 1,
                                     antes[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            std::swap(antes, agora);
        }
        return antes[b.size()];
    };
    // Between two as near, the one that begins as the typed name does: "importacao" is
    // importacoes rather than importar.
    const auto prefixo = [&](const std::string& c) {
        return static_cast<size_t>(
            std::mismatch(digitado.begin(), digitado.end(), c.begin(), c.end()).first -
            digitado.begin());
    };
    std::optional<std::string> melhor;
    size_t menor = 0;
    for (const auto& c : candidatos) {
        const size_t d = distancia(digitado, c);
        if (!melhor || d < menor || (d == menor && prefixo(c) > prefixo(*melhor))) {
            melhor = c;
            menor = d;
        }
    }
    // A third of the name, at least one and at most three edits: "gerr" is gerar, "xyz" is nothing.
    const size_t limite = std::clamp<size_t>(digitado.size() / 3, 1, 3);
    if (!melhor || menor > limite) return std::nullopt;
    return melhor;
}

}  // namespace kavlo::cli
