#include "util/Codificacao.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unicode/unorm2.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>

#include "util/Erros.h"

namespace kavlo {
namespace {

// kMelhorAjuste1252 and kSha256MelhorAjuste1252.
#include "util/MelhorAjuste1252.inc"

// Windows-1252 at 0x80-0x9F; elsewhere a byte is the code point of the same value. The five
// bytes the code page leaves undefined map to the C1 control of the same value, as Windows does.
constexpr std::array<char16_t, 32> kAlto1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char16_t kSubstituto = 0xFFFD;

bool Alto(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool Baixo(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The Windows-1252 byte of a code unit, or -1 when the code page lacks it.
int Windows1252(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
    for (size_t i = 0; i < kAlto1252.size(); ++i)
        if (kAlto1252[i] == c) return static_cast<int>(0x80 + i);
    return -1;
}

}  // namespace

std::u16string DeWindows1252(std::string_view bytes) {
    std::u16string r(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        r[i] = b >= 0x80 && b <= 0x9F ? kAlto1252[b - 0x80] : static_cast<char16_t>(b);
    }
    return r;
}

bool CabeEmWindows1252(std::u16string_view texto) {
    for (char16_t c : texto)
        if (Windows1252(c) < 0) return false;
    return true;
}

std::string ParaWindows1252(std::u16string_view texto) {
    std::string r(texto.size(), '?');
    for (size_t i = 0; i < texto.size(); ++i)
        if (const int b = Windows1252(texto[i]); b >= 0) r[i] = static_cast<char>(b);
    return r;
}

namespace {

// The byte Windows writes for a code unit alone: the map's exception, or the unit's own value
// below U+0100, or "?". ASCII and U+00A0-U+00FF are their own bytes (the tests hold the whole map
// to the generated one), so the accented letters of Portuguese take no search.
char MelhorAjuste(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    const uint32_t chave = static_cast<uint32_t>(c) << 8;
    const auto* fim = std::end(kMelhorAjuste1252);
    const auto* p = std::lower_bound(std::begin(kMelhorAjuste1252), fim, chave);
    if (p != fim && (*p >> 8) == c) return static_cast<char>(*p & 0xFF);
    return c < 0x100 ? static_cast<char>(c) : '?';
}

}  // namespace

std::string ParaWindows1252MelhorAjuste(std::u16string_view texto) {
    std::string r(texto.size(), '?');
    for (size_t i = 0; i < texto.size(); ++i) r[i] = MelhorAjuste(texto[i]);
    return r;
}

namespace {

std::u16string DecodificarUtf8(std::string_view bytes, bool substitutos) {
    std::u16string r;
    r.reserve(bytes.size());
    const size_t n = bytes.size();
    auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    for (size_t i = 0; i < n;) {
        const unsigned char b = byte(i);
        if (b < 0x80) {
            r += static_cast<char16_t>(b);
            ++i;
            continue;
        }
        // The length the lead byte announces and the range its first continuation byte may take
        // (which rules out overlong forms, surrogates and code points above U+10FFFF).
        size_t comprimento = 0;
        unsigned char minimo = 0x80, maximo = 0xBF;
        char32_t c = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            comprimento = 2;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            comprimento = 3;
            c = b & 0x0F;
            if (b == 0xE0) minimo = 0xA0;
            if (b == 0xED && !substitutos) maximo = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            comprimento = 4;
            c = b & 0x07;
            if (b == 0xF0) minimo = 0x90;
            if (b == 0xF4) maximo = 0x8F;
        }
        // An invalid sequence gives one U+FFFD for its longest valid beginning, or for the byte.
        size_t k = 1;
        for (; k < comprimento && i + k < n; ++k) {
            const unsigned char d = byte(i + k);
            if (d < (k == 1 ? minimo : 0x80) || d > (k == 1 ? maximo : 0xBF)) break;
            c = (c << 6) | (d & 0x3F);
        }
        if (comprimento == 0 || k < comprimento) {
            r += kSubstituto;
            i += k;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            r += static_cast<char16_t>(0xD800 + (c >> 10));
            r += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            r += static_cast<char16_t>(c);
        }
        i += comprimento;
    }
    return r;
}

}  // namespace

std::u16string DeUtf8(std::string_view bytes) {
    return DecodificarUtf8(bytes, false);
}

std::u16string DeUtf8OuCesu8(std::string_view bytes) {
    return DecodificarUtf8(bytes, true);
}

std::string ParaUtf8(std::u16string_view texto) {
    std::string r;
    r.reserve(texto.size());
    for (size_t i = 0; i < texto.size(); ++i) {
        char32_t c = texto[i];
        if (Alto(texto[i]) && i + 1 < texto.size() && Baixo(texto[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (texto[i + 1] - 0xDC00);
            ++i;
        } else if (Alto(texto[i]) || Baixo(texto[i])) {
            c = kSubstituto;
        }
        if (c < 0x80) {
            r += static_cast<char>(c);
        } else if (c < 0x800) {
            r += static_cast<char>(0xC0 | (c >> 6));
            r += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            r += static_cast<char>(0xE0 | (c >> 12));
            r += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            r += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            r += static_cast<char>(0xF0 | (c >> 18));
            r += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            r += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            r += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return r;
}

std::string ParaMensagem(std::u16string_view texto) {
    std::string r;
    size_t inicio = 0;
    for (size_t i = 0; i <= texto.size(); ++i) {
        if (i < texto.size() && texto[i] >= 0x20 && (texto[i] < 0x7F || texto[i] > 0x9F)) continue;
        r += ParaUtf8(texto.substr(inicio, i - inicio));
        if (i < texto.size()) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            r += "\\x";
            r += kHex[(texto[i] >> 4) & 0xF];
            r += kHex[texto[i] & 0xF];
        }
        inicio = i + 1;
    }
    return r;
}

std::string ParaMensagem(std::string_view utf8) {
    return ParaMensagem(DeUtf8(utf8));
}

std::u16string DeUtf16(std::string_view bytes, bool bigEndian) {
    std::u16string r(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < r.size(); ++i) {
        auto a = static_cast<unsigned char>(bytes[2 * i]);
        auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
        r[i] = bigEndian ? static_cast<char16_t>(a << 8 | b) : static_cast<char16_t>(b << 8 | a);
    }
    return r;
}

namespace {

// NFC of a text without lone surrogates or noncharacters, by the platform's library.
std::u16string Normalizar(std::u16string_view texto) {
    if (texto.empty()) return {};
#ifdef _WIN32
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    const auto* origem = reinterpret_cast<const wchar_t*>(texto.data());
    const int n = static_cast<int>(texto.size());
    // The first call estimates the length; a longer one is asked for while it falls short.
    int tamanho = NormalizeString(NormalizationC, origem, n, nullptr, 0);
    for (int tentativa = 0; tamanho > 0 && tentativa < 8; ++tentativa) {
        std::u16string r(static_cast<size_t>(tamanho), u'\0');
        const int escritos = NormalizeString(NormalizationC, origem, n,
                                             reinterpret_cast<wchar_t*>(r.data()), tamanho);
        if (escritos > 0) {
            r.resize(static_cast<size_t>(escritos));
            return r;
        }
        const DWORD erro = GetLastError();
        // A unit this Windows will not take (beyond the ones Compor sets apart): the piece
        // stays as it is, rather than fail on what a column or a file holds.
        if (erro == ERROR_NO_UNICODE_TRANSLATION) return std::u16string(texto);
        if (erro != ERROR_INSUFFICIENT_BUFFER) break;
        tamanho = -escritos;
    }
    throw Erro("Não foi possível compor o texto em Unicode (NormalizeString, erro " +
               std::to_string(GetLastError()) + ").");
#else
    UErrorCode erro = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&erro);
    if (U_FAILURE(erro))
        throw Erro(std::string("Não foi possível carregar os dados Unicode da ICU (") +
                   u_errorName(erro) + "); verifique a instalação do pacote libicu.");
    const auto n = static_cast<int32_t>(texto.size());
    if (unorm2_spanQuickCheckYes(nfc, texto.data(), n, &erro) == n && U_SUCCESS(erro))
        return std::u16string(texto);
    std::u16string r(texto.size() + 16, u'\0');
    for (int tentativa = 0; tentativa < 2; ++tentativa) {
        erro = U_ZERO_ERROR;
        const int32_t escritos =
            unorm2_normalize(nfc, texto.data(), n, r.data(), static_cast<int32_t>(r.size()), &erro);
        if (U_SUCCESS(erro)) {
            r.resize(static_cast<size_t>(escritos));
            return r;
        }
        if (erro != U_BUFFER_OVERFLOW_ERROR) break;
        r.resize(static_cast<size_t>(escritos));
    }
    throw Erro(std::string("Não foi possível compor o texto em Unicode (ICU: ") +
               u_errorName(erro) + ").");
#endif
}

// A code point Unicode keeps as a noncharacter: U+FDD0-U+FDEF and the last two of every plane.
bool NaoCaractere(char32_t c) {
    return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

}  // namespace

std::u16string Compor(std::u16string texto) {
    // Below U+0300 every character is composed already and none combines with another, so most
    // names take no call into the library.
    if (std::all_of(texto.begin(), texto.end(), [](char16_t c) { return c < 0x300; })) return texto;
    // Windows refuses a text with a lone surrogate or a noncharacter, so the pieces between them
    // are composed apart and they stay as they are; nothing composes across them anyway.
    const std::u16string_view t(texto);
    std::u16string r;
    r.reserve(t.size());
    size_t inicio = 0;
    for (size_t i = 0; i < t.size();) {
        char32_t c = t[i];
        size_t unidades = 1;
        if (Alto(t[i]) && i + 1 < t.size() && Baixo(t[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (t[i + 1] - 0xDC00);
            unidades = 2;
        }
        if ((unidades == 1 && (Alto(t[i]) || Baixo(t[i]))) || NaoCaractere(c)) {
            r += Normalizar(t.substr(inicio, i - inicio));
            r += t.substr(i, unidades);
            inicio = i + unidades;
        }
        i += unidades;
    }
    r += Normalizar(t.substr(inicio));
    return r;
}

std::string Aspas(std::u16string_view texto) {
    // Built front to back: GCC 12 inlines "'" + std::string&& as an insert at position 0 and
    // reports an impossible overlap (-Wrestrict, a known false positive) in optimised builds.
    std::string r = "'";
    r += ParaMensagem(texto);
    r += '\'';
    return r;
}

}  // namespace kavlo
