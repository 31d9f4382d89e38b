#include "dao/SqlSimbolos.h"

#include <array>

namespace kavlo::fb {
namespace {

char16_t Maiuscula(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

// Operators of two characters; any other sign is one character.
constexpr std::array<std::u16string_view, 13> kOperadoresDuplos = {
    u"<>", u"!=", u"^=", u"~=", u"<=", u">=", u"!<", u"!>", u"^<", u"^>", u"~<", u"~>", u"||"};

bool LetraDeNome(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'_' || c == u'$';
}

}  // namespace

bool Simbolo::Eh(TipoSimbolo t, std::u16string_view texto) const {
    if (tipo != t || conteudo.size() != texto.size()) return false;
    for (size_t i = 0; i < texto.size(); ++i)
        if (Maiuscula(conteudo[i]) != Maiuscula(texto[i])) return false;
    return true;
}

bool SoAscii(std::u16string_view texto) {
    for (char16_t c : texto)
        if (c >= 0x80) return false;
    return true;
}

Simbolos SepararSimbolos(std::u16string_view sql) {
    Simbolos r;
    const size_t n = sql.size();
    size_t i = 0;
    while (i < n) {
        const char16_t c = sql[i];
        const char16_t proximo = i + 1 < n ? sql[i + 1] : u'\0';
        if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') {
            ++i;
        } else if (c == u'-' && proximo == u'-') {  // a comment to the end of the line
            while (i < n && sql[i] != u'\n') ++i;
        } else if (c == u'/' && proximo == u'*') {
            const size_t fim = sql.find(u"*/", i + 2);
            i = fim == std::u16string_view::npos ? n : fim + 2;
        } else if (c == u'\'' || c == u'"') {
            // In dialect 1 "text" is a string too; a doubled quote stands for itself.
            std::u16string conteudo;
            size_t k = i + 1;
            for (;; ++k) {
                if (k >= n) {
                    r.completo = false;
                    return r;
                }
                if (sql[k] != c) {
                    conteudo += sql[k];
                } else if (k + 1 < n && sql[k + 1] == c) {
                    conteudo += c;
                    ++k;
                } else {
                    break;
                }
            }
            r.lista.push_back({TipoSimbolo::Literal, i, k + 1, std::move(conteudo)});
            i = k + 1;
        } else if ((c == u'q' || c == u'Q') && proximo == u'\'' && i + 2 < n) {
            // Q'<text>' with a delimiter of one's choice.
            const char16_t abre = sql[i + 2];
            const char16_t fecha = abre == u'('   ? u')'
                                   : abre == u'[' ? u']'
                                   : abre == u'{' ? u'}'
                                   : abre == u'<' ? u'>'
                                                  : abre;
            size_t k = i + 3;
            while (k + 1 < n && !(sql[k] == fecha && sql[k + 1] == u'\'')) ++k;
            if (k + 1 >= n) {
                r.completo = false;
                return r;
            }
            r.lista.push_back(
                {TipoSimbolo::Literal, i, k + 2, std::u16string(sql.substr(i + 3, k - (i + 3)))});
            i = k + 2;
        } else if (LetraDeNome(c)) {
            const size_t inicio = i;
            while (i < n && LetraDeNome(sql[i])) ++i;
            r.lista.push_back(
                {TipoSimbolo::Nome, inicio, i, std::u16string(sql.substr(inicio, i - inicio))});
        } else {
            size_t tamanho = 1;
            for (std::u16string_view op : kOperadoresDuplos)
                if (sql.substr(i, 2) == op) tamanho = 2;
            r.lista.push_back(
                {TipoSimbolo::Sinal, i, i + tamanho, std::u16string(sql.substr(i, tamanho))});
            i += tamanho;
        }
    }
    return r;
}

}  // namespace kavlo::fb
