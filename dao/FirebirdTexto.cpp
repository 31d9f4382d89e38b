// The text of a statement as the layer's connection (character set NONE) sends it.
#include <string>
#include <string_view>

#include "dao/Firebird.h"
#include "util/Codificacao.h"

namespace kavlo::fb {
namespace {

bool LetraDeNome(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'_' || c == u'$';
}

bool SoAscii(std::u16string_view texto) {
    for (char16_t c : texto)
        if (c >= 0x80) return false;
    return true;
}

// The introducer (_WIN1252, _UTF8, ...) right before position `fim`, blanks between allowed; an
// unquoted name never starts with "_", so a word that does is one. Empty when there is none.
std::u16string_view Introdutor(std::u16string_view sql, size_t fim) {
    while (fim > 0 && (sql[fim - 1] == u' ' || sql[fim - 1] == u'\t' || sql[fim - 1] == u'\r' ||
                       sql[fim - 1] == u'\n'))
        --fim;
    size_t inicio = fim;
    while (inicio > 0 && LetraDeNome(sql[inicio - 1])) --inicio;
    if (inicio == fim || sql[inicio] != u'_') return {};
    return sql.substr(inicio, fim - inicio);
}

bool IgualSemCaixa(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto x = a[i] >= u'a' && a[i] <= u'z' ? a[i] - u'a' + u'A' : a[i];
        const auto y = b[i] >= u'a' && b[i] <= u'z' ? b[i] - u'a' + u'A' : b[i];
        if (x != y) return false;
    }
    return true;
}

std::string Hexadecimal(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string r = "x'";
    for (unsigned char b : bytes) {
        r += kHex[b >> 4];
        r += kHex[b & 0xF];
    }
    return r + "'";
}

// A literal's text as hexadecimal bytes; `introdutor` is the one the SQL already gives it.
std::string LiteralEmBytes(std::u16string_view conteudo, std::u16string_view introdutor) {
    if (introdutor.empty()) {
        if (CabeEmWindows1252(conteudo))
            return "_WIN1252 " + Hexadecimal(ParaWindows1252(conteudo));
        return "_UTF8 " + Hexadecimal(ParaUtf8(conteudo));
    }
    const bool unicode =
        IgualSemCaixa(introdutor, u"_UTF8") || IgualSemCaixa(introdutor, u"_UNICODE_FSS");
    return Hexadecimal(unicode ? ParaUtf8(conteudo) : ParaWindows1252(conteudo));
}

}  // namespace

std::string TextoDoComando(std::u16string_view sql) {
    if (SoAscii(sql)) return std::string(sql.begin(), sql.end());
    std::string r;
    r.reserve(sql.size() + 16);
    size_t copiado = 0;  // what is before it is in `r` already
    const size_t n = sql.size();
    size_t i = 0;
    while (i < n) {
        const char16_t c = sql[i];
        const char16_t proximo = i + 1 < n ? sql[i + 1] : u'\0';
        if (c == u'-' && proximo == u'-') {  // a comment to the end of the line
            while (i < n && sql[i] != u'\n') ++i;
            continue;
        }
        if (c == u'/' && proximo == u'*') {
            const size_t fim = sql.find(u"*/", i + 2);
            i = fim == std::u16string_view::npos ? n : fim + 2;
            continue;
        }
        // A literal: 'text' and, in dialect 1, "text" (a doubled quote stands for itself), or
        // Q'<text>' with a delimiter of one's choice.
        size_t fim;
        std::u16string conteudo;
        if (c == u'\'' || c == u'"') {
            size_t k = i + 1;
            for (;;) {
                if (k >= n) break;
                if (sql[k] == c) {
                    if (k + 1 < n && sql[k + 1] == c) {
                        conteudo += c;
                        k += 2;
                        continue;
                    }
                    break;
                }
                conteudo += sql[k++];
            }
            if (k >= n) break;  // unterminated: the server will say so
            fim = k + 1;
        } else if ((c == u'q' || c == u'Q') && proximo == u'\'' && i + 2 < n &&
                   (i == 0 || !LetraDeNome(sql[i - 1]))) {
            const char16_t abre = sql[i + 2];
            const char16_t fecha = abre == u'('   ? u')'
                                   : abre == u'[' ? u']'
                                   : abre == u'{' ? u'}'
                                   : abre == u'<' ? u'>'
                                                  : abre;
            size_t k = i + 3;
            while (k + 1 < n && !(sql[k] == fecha && sql[k + 1] == u'\'')) ++k;
            if (k + 1 >= n) break;
            fim = k + 2;
            conteudo = sql.substr(i + 3, k - (i + 3));
        } else if (LetraDeNome(c)) {
            while (i < n && LetraDeNome(sql[i])) ++i;
            continue;
        } else {
            ++i;
            continue;
        }
        if (!SoAscii(conteudo)) {
            r += ParaUtf8(sql.substr(copiado, i - copiado));
            r += LiteralEmBytes(conteudo, Introdutor(sql, i));
            copiado = fim;
        }
        i = fim;
    }
    r += ParaUtf8(sql.substr(copiado));
    return r;
}

}  // namespace kavlo::fb
