#include "util/Numeros.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "util/Codificacao.h"
#include "util/Erros.h"

namespace kavlo {
namespace {

std::u16string Alargar(std::string_view s) {
    return std::u16string(s.begin(), s.end());
}

bool Branco(char16_t c) {
    return c == u' ';
}

// Digits and decimal exponent of |valor| rounded to `significativos` digits:
// |valor| = 0.d1d2d3... x 10^(expoente + 1).
struct Decimal {
    std::string digitos;
    int expoente = 0;
};

// The significant digits of |valor| into `digitos` (no point, no allocation); returns their count
// and sets the decimal exponent of the first one.
int Digitos(double valor, int significativos, char (&digitos)[32], int& expoente) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(valor), std::chars_format::scientific,
                           significativos - 1);
    int n = 0;
    const char* p = buf;
    for (; p < r.ptr && *p != 'e'; ++p)
        if (*p != '.') digitos[n++] = *p;
    ++p;  // 'e'
    if (*p == '+') ++p;
    std::from_chars(p, r.ptr, expoente);
    return n;
}

Decimal Decompor(double valor, int significativos) {
    char digitos[32];
    Decimal d;
    const int n = Digitos(valor, significativos, digitos, d.expoente);
    d.digitos.assign(digitos, static_cast<size_t>(n));
    return d;
}

template <class Inteiro>
Inteiro LerInteiro(std::u16string_view texto) {
    auto falha = [&] { return ErroConversao(Aspas(texto) + " is not a valid integer value"); };
    size_t i = 0;
    size_t fim = texto.size();
    while (i < fim && Branco(texto[i])) ++i;
    while (fim > i && Branco(texto[fim - 1])) --fim;
    bool negativo = false;
    if (i < fim && (texto[i] == u'+' || texto[i] == u'-')) negativo = texto[i++] == u'-';
    if (i == fim) throw falha();
    using U = std::make_unsigned_t<Inteiro>;
    const U limite = negativo ? U(std::numeric_limits<Inteiro>::max()) + 1
                              : U(std::numeric_limits<Inteiro>::max());
    U v = 0;
    for (; i < fim; ++i) {
        const char16_t c = texto[i];
        if (c < u'0' || c > u'9') throw falha();
        const auto digito = static_cast<U>(c - u'0');
        if (v > (limite - digito) / 10) throw falha();
        v = static_cast<U>(v * 10 + digito);
    }
    return negativo ? static_cast<Inteiro>(U(0) - v) : static_cast<Inteiro>(v);
}

// Decimal exponent of the leading significant digit of a C-form number ("0.00123e5" -> 2).
long MagnitudeDecimal(std::string_view c) {
    const size_t e = c.find('e');
    // Clamped: beyond a million either way the answer is the same, and the sum cannot overflow.
    const long expoente =
        e == std::string_view::npos
            ? 0
            : std::clamp(std::strtol(std::string(c.substr(e + 1)).c_str(), nullptr, 10), -1000000L,
                         1000000L);
    const std::string_view mantissa = c.substr(0, e);
    const size_t ponto = std::min(mantissa.find('.'), mantissa.size());
    const size_t primeiro = mantissa.find_first_of("123456789");
    if (primeiro == std::string_view::npos) return -1;  // zero
    const long posicao = primeiro < ponto ? static_cast<long>(ponto - primeiro - 1)
                                          : -static_cast<long>(primeiro - ponto);
    return posicao + expoente;
}

// Rounds a number in C form ("-12.345", "1.5e2", "9.99e-05") to whole cents, half away from zero,
// on its decimal digits. The caller has checked the form.
int64_t CentavosDaFormaC(std::string_view c, std::string_view original) {
    const bool negativo = !c.empty() && c[0] == '-';
    if (negativo || (!c.empty() && c[0] == '+')) c.remove_prefix(1);
    const size_t e = c.find_first_of("eE");
    long expoente = 0;
    if (e != std::string_view::npos)
        expoente = std::clamp(std::strtol(std::string(c.substr(e + 1)).c_str(), nullptr, 10),
                              -1000000L, 1000000L);
    const std::string_view mantissa = c.substr(0, e);
    const size_t ponto = std::min(mantissa.find('.'), mantissa.size());
    // Digits without the point; the value is 0.digitos x 10^(inteiros + expoente).
    std::string digitos;
    for (char d : mantissa)
        if (d != '.') digitos += d;
    const long inteiros = static_cast<long>(ponto) + expoente;
    // Digits that stay in the cents: everything up to two places after the point.
    const long manter = inteiros + 2;
    const auto n = static_cast<long>(digitos.size());
    const auto falha = [&] {
        return ErroConversao(Aspas(DeUtf8(original)) +
                             " excede o maior valor que a DllKavlo aceita (9999999999999,99)");
    };
    int64_t centavos = 0;
    for (long i = 0; i < manter; ++i) {
        const int d = i < n ? digitos[static_cast<size_t>(i)] - '0' : 0;
        if (centavos > (int64_t{1000000000000000} - d) / 10) throw falha();
        centavos = centavos * 10 + d;
    }
    if (manter >= 0 && manter < n && digitos[static_cast<size_t>(manter)] >= '5') ++centavos;
    if (centavos >= int64_t{1000000000000000}) throw falha();
    return negativo ? -centavos : centavos;
}

}  // namespace

int32_t StrToInt(std::u16string_view texto) {
    return LerInteiro<int32_t>(texto);
}
int64_t StrToInt64(std::u16string_view texto) {
    return LerInteiro<int64_t>(texto);
}

double StrToFloat(std::u16string_view texto) {
    auto falha = [&] {
        return ErroConversao(Aspas(texto) + " is not a valid floating point value");
    };
    size_t i = 0;
    size_t fim = texto.size();
    while (i < fim && Branco(texto[i])) ++i;
    while (fim > i && Branco(texto[fim - 1])) --fim;
    // Rebuilt in the C form ("." and "e") for from_chars, which ignores the locale.
    std::string c;
    if (i < fim && (texto[i] == u'+' || texto[i] == u'-')) {
        if (texto[i] == u'-') c += '-';
        ++i;
    }
    size_t digitos = 0;
    for (; i < fim && texto[i] >= u'0' && texto[i] <= u'9'; ++i, ++digitos)
        c += static_cast<char>(texto[i]);
    if (i < fim && texto[i] == u',') {
        c += '.';
        for (++i; i < fim && texto[i] >= u'0' && texto[i] <= u'9'; ++i, ++digitos)
            c += static_cast<char>(texto[i]);
    }
    if (digitos == 0) throw falha();
    if (i < fim && (texto[i] == u'e' || texto[i] == u'E')) {
        c += 'e';
        ++i;
        if (i < fim && (texto[i] == u'+' || texto[i] == u'-')) c += static_cast<char>(texto[i++]);
        size_t exp = 0;
        for (; i < fim && texto[i] >= u'0' && texto[i] <= u'9'; ++i, ++exp)
            c += static_cast<char>(texto[i]);
        if (exp == 0) throw falha();
    }
    if (i != fim) throw falha();
    double v = 0;
    const char* inicio = c.data();
    if (*inicio == '-') ++inicio;
    auto r = std::from_chars(inicio, c.data() + c.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
        // Underflow reads as zero; overflow cannot be held in a double.
        if (MagnitudeDecimal(
                std::string_view(inicio, static_cast<size_t>(c.data() + c.size() - inicio))) > 0)
            throw falha();
        v = 0;
    } else if (r.ec != std::errc() || r.ptr != c.data() + c.size() || !std::isfinite(v)) {
        throw falha();
    }
    return c[0] == '-' ? -v : v;
}

int64_t CentavosDoTexto(std::u16string_view texto) {
    StrToFloat(texto);  // the same rules and the same error for a text that is not an amount
    std::string c;
    for (char16_t ch : texto)
        if (ch != u' ') c += ch == u',' ? '.' : static_cast<char>(ch);
    return CentavosDaFormaC(c, ParaUtf8(texto));
}

int64_t CentavosDe(double valor) {
    if (!std::isfinite(valor))
        throw ErroConversao("Valor '" + std::to_string(valor) + "' não é um número finito");
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, valor);  // shortest form that reads back
    const std::string_view c(buf, static_cast<size_t>(r.ptr - buf));
    return CentavosDaFormaC(c, c);
}

std::string ReaisLegiveis(int64_t centavos) {
    const bool negativo = centavos < 0;
    const uint64_t v =
        negativo ? uint64_t(0) - static_cast<uint64_t>(centavos) : static_cast<uint64_t>(centavos);
    std::string inteiros = std::to_string(v / 100);
    for (int i = static_cast<int>(inteiros.size()) - 3; i > 0; i -= 3)
        inteiros.insert(static_cast<size_t>(i), 1, '.');
    const auto resto = static_cast<unsigned>(v % 100);
    return (negativo ? "-" : "") + inteiros + "," + static_cast<char>('0' + resto / 10) +
           static_cast<char>('0' + resto % 10);
}

int32_t IifValor(bool condicao, std::u16string_view texto) {
    if (!condicao) return 0;
    int64_t v = 0;
    try {
        v = StrToInt64(texto);
    } catch (const ErroConversao&) {
        throw ErroConversao(Aspas(texto) + " não é um número inteiro");
    }
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        throw ErroConversao(Aspas(texto) +
                            " excede o limite de um inteiro de 32 bits (2147483647)");
    return static_cast<int32_t>(v);
}

std::u16string FormatarZeros(int64_t valor, int digitos) {
    const bool negativo = valor < 0;
    const uint64_t v =
        negativo ? uint64_t(0) - static_cast<uint64_t>(valor) : static_cast<uint64_t>(valor);
    std::u16string s = Alargar(std::to_string(v));
    if (static_cast<int>(s.size()) < digitos)
        s.insert(0, static_cast<size_t>(digitos) - s.size(), u'0');
    if (negativo) s.insert(s.begin(), u'-');
    return s;
}

std::u16string FormatarValor(double valor) {
    if (!std::isfinite(valor))
        return Alargar(std::isnan(valor) ? "NAN" : valor > 0 ? "INF" : "-INF");
    char d[32];
    int expoente = 0;
    Digitos(valor, 18, d, expoente);
    // Keep the integer digits and two decimals; the next digit decides the rounding.
    const int manter = expoente + 1 + 2;
    char digitos[400];  // up to 309 integer digits for the largest doubles
    int n = 0;
    for (int i = 0; i < manter; ++i) digitos[n++] = i < 18 ? d[i] : '0';
    if (manter >= 0 && manter < 18 && d[manter] >= '5') {
        int i = n - 1;
        while (i >= 0 && digitos[i] == '9') digitos[i--] = '0';
        if (i >= 0) {
            ++digitos[i];
        } else {
            std::memmove(digitos + 1, digitos, static_cast<size_t>(n++));
            digitos[0] = '1';
        }
    }
    if (n < 14) {
        std::memmove(digitos + (14 - n), digitos, static_cast<size_t>(n));
        std::memset(digitos, '0', static_cast<size_t>(14 - n));
        n = 14;
    }
    bool zero = true;
    for (int i = 0; i < n && zero; ++i) zero = digitos[i] == '0';
    std::u16string r;
    r.reserve(static_cast<size_t>(n) + 2);
    if (valor < 0 && !zero) r += u'-';
    for (int i = 0; i < n - 2; ++i) r += static_cast<char16_t>(digitos[i]);
    r += u'.';
    r += static_cast<char16_t>(digitos[n - 2]);
    r += static_cast<char16_t>(digitos[n - 1]);
    return r;
}

std::u16string FormatarGeral(double valor) {
    if (!std::isfinite(valor))
        return Alargar(std::isnan(valor) ? "NAN" : valor > 0 ? "INF" : "-INF");
    if (valor == 0) return u"0";
    Decimal d = Decompor(valor, 15);
    while (d.digitos.size() > 1 && d.digitos.back() == '0') d.digitos.pop_back();
    std::string r = valor < 0 ? "-" : "";
    if (d.expoente >= 15 || std::fabs(valor) < 0.00001) {
        r += d.digitos[0];
        if (d.digitos.size() > 1) r += ',' + d.digitos.substr(1);
        r += 'E' + std::to_string(d.expoente);
    } else if (d.expoente < 0) {
        r += "0," + std::string(static_cast<size_t>(-d.expoente - 1), '0') + d.digitos;
    } else {
        const auto inteiros = static_cast<size_t>(d.expoente + 1);
        if (d.digitos.size() <= inteiros) {
            r += d.digitos + std::string(inteiros - d.digitos.size(), '0');
        } else {
            r += d.digitos.substr(0, inteiros) + ',' + d.digitos.substr(inteiros);
        }
    }
    return Alargar(r);
}

}  // namespace kavlo
