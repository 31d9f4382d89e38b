#include "util/Configuracao.h"

#include <algorithm>

#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/LeitorDeLinhas.h"

namespace kavlo {
namespace {

// A settings file is a few lines; anything larger was named by mistake.
constexpr size_t kTamanhoMaximo = 64 * 1024;

std::u16string Decodificar(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return DeUtf8(bytes.substr(3));
    if (bytes.starts_with("\xFF\xFE")) return DeUtf16(bytes.substr(2), false);
    if (bytes.starts_with("\xFE\xFF")) return DeUtf16(bytes.substr(2), true);
    std::u16string texto = DeUtf8(bytes);
    // Not UTF-8 (a replacement character that the bytes do not hold): an ANSI editor's file.
    if (texto.find(u'\uFFFD') != std::u16string::npos &&
        bytes.find("\xEF\xBF\xBD") == std::string_view::npos) {
        Apagar(texto);
        texto = DeWindows1252(bytes);
    }
    return texto;
}

std::u16string_view SemBrancos(std::u16string_view t) {
    auto branco = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\f'; };
    while (!t.empty() && branco(t.front())) t.remove_prefix(1);
    while (!t.empty() && branco(t.back())) t.remove_suffix(1);
    return t;
}

// The key in lower case; empty when it is not plain ASCII letters, digits and "_".
std::string Chave(std::u16string_view t) {
    std::string r;
    for (char16_t c : t) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_')) return {};
        r += static_cast<char>(c);
    }
    return r;
}

std::string Lista(std::initializer_list<std::string_view> chaves) {
    std::string r;
    size_t i = 0;
    for (std::string_view c : chaves) {
        if (i > 0) r += i + 1 == chaves.size() ? " ou " : ", ";
        r += c;
        ++i;
    }
    return r;
}

}  // namespace

void Apagar(std::string& texto) noexcept {
    volatile char* p = texto.data();
    for (size_t i = 0; i < texto.size(); ++i) p[i] = 0;
    texto.clear();
}

void Apagar(std::u16string& texto) noexcept {
    volatile char16_t* p = texto.data();
    for (size_t i = 0; i < texto.size(); ++i) p[i] = 0;
    texto.clear();
}

Configuracao::~Configuracao() {
    for (auto& [chave, valor] : valores_) Apagar(valor.texto);
}

Configuracao Configuracao::Interpretar(const Caminho& arquivo, std::string_view bytes,
                                       std::initializer_list<std::string_view> chaves) {
    Configuracao c;
    c.arquivo_ = arquivo;
    auto falha = [&](size_t linha, const std::string& problema) {
        return ErroArquivo("Arquivo de configuração '" + NomeParaMensagem(arquivo) + "', linha " +
                           std::to_string(linha) + ": " + problema +
                           ". Cada linha deve ser 'chave = valor' (" + Lista(chaves) +
                           "); linhas em branco e começadas por # são ignoradas.");
    };
    if (bytes.size() > kTamanhoMaximo)
        throw ErroArquivo("Arquivo de configuração '" + NomeParaMensagem(arquivo) + "': tem " +
                          std::to_string(bytes.size()) +
                          " bytes, grande demais para um arquivo de configuração; confira se é "
                          "o arquivo certo.");
    std::u16string texto = Decodificar(bytes);
    struct Limpar {
        std::u16string& t;
        ~Limpar() { Apagar(t); }
    } limpar{texto};
    size_t numero = 0;
    for (size_t inicio = 0; inicio <= texto.size();) {
        size_t fim = texto.find(u'\n', inicio);
        if (fim == std::u16string::npos) fim = texto.size();
        const std::u16string_view linha =
            SemBrancos(std::u16string_view(texto).substr(inicio, fim - inicio));
        inicio = fim + 1;
        ++numero;
        if (linha.empty() || linha.front() == u'#') continue;
        // A NUL would cut the value where the client reads it.
        if (linha.find(u'\0') != std::u16string_view::npos)
            throw falha(numero, "a linha tem um caractere NUL");
        const size_t igual = linha.find(u'=');
        if (igual == std::u16string_view::npos) throw falha(numero, "a linha não tem '='");
        const std::string chave = Chave(SemBrancos(linha.substr(0, igual)));
        if (chave.empty() || std::find(chaves.begin(), chaves.end(), chave) == chaves.end())
            throw falha(numero, "a chave não é uma das conhecidas");
        if (const Valor* antes = c.Buscar(chave))
            throw falha(numero, "a chave " + chave + " já foi dada na linha " +
                                    std::to_string(antes->linha));
        const std::u16string_view valor = SemBrancos(linha.substr(igual + 1));
        if (valor.empty()) throw falha(numero, "a chave " + chave + " está sem valor");
        c.valores_[chave] = Valor{ParaUtf8(valor), numero};
    }
    return c;
}

std::optional<Configuracao> Configuracao::Ler(const Caminho& arquivo,
                                              std::initializer_list<std::string_view> chaves) {
    std::error_code ec;
    if (!std::filesystem::exists(arquivo, ec) && !ec) return std::nullopt;
    std::string bytes = LerBytes(arquivo);
    struct Limpar {
        std::string& b;
        ~Limpar() { Apagar(b); }
    } limpar{bytes};
    return Interpretar(arquivo, bytes, chaves);
}

const Configuracao::Valor* Configuracao::Buscar(std::string_view chave) const {
    const auto it = valores_.find(chave);
    return it == valores_.end() ? nullptr : &it->second;
}

}  // namespace kavlo
