// The text of a statement as the layer's connection (character set NONE) sends it.
#include <string>
#include <string_view>

#include "dao/SqlSimbolos.h"
#include "dao/firebird/Firebird.h"
#include "util/Codificacao.h"

namespace kavlo::fb {
namespace {

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
std::string LiteralEmBytes(std::u16string_view conteudo, const Simbolo* introdutor) {
    if (!introdutor) {
        if (CabeEmWindows1252(conteudo))
            return "_WIN1252 " + Hexadecimal(ParaWindows1252(conteudo));
        return "_UTF8 " + Hexadecimal(ParaUtf8(conteudo));
    }
    const bool unicode = introdutor->Eh(TipoSimbolo::Nome, u"_UTF8") ||
                         introdutor->Eh(TipoSimbolo::Nome, u"_UNICODE_FSS");
    return Hexadecimal(unicode ? ParaUtf8(conteudo) : ParaWindows1252(conteudo));
}

}  // namespace

std::string TextoDoComando(std::u16string_view sql) {
    if (SoAscii(sql)) return std::string(sql.begin(), sql.end());
    const Simbolos simbolos = SepararSimbolos(sql);
    const std::vector<Simbolo>& s = simbolos.lista;
    std::string r;
    r.reserve(sql.size() + 16);
    size_t copiado = 0;  // what is before it is in `r` already
    for (size_t k = 0; k < s.size(); ++k) {
        if (s[k].tipo != TipoSimbolo::Literal || SoAscii(s[k].conteudo)) continue;
        const bool introduzido = k > 0 && s[k - 1].Introdutor();
        r += ParaUtf8(sql.substr(copiado, s[k].inicio - copiado));
        r += LiteralEmBytes(s[k].conteudo, introduzido ? &s[k - 1] : nullptr);
        copiado = s[k].fim;
    }
    r += ParaUtf8(sql.substr(copiado));
    return r;
}

}  // namespace kavlo::fb
