// Number conversions and formats with the Brazilian rules built in: "," when reading amounts,
// "." when writing them, no digit grouping, whatever the process locale says.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kavlo {

// Decimal integer with an optional sign and blanks around it.
// Throws ErroConversao "'<texto>' is not a valid integer value".
int32_t StrToInt(std::u16string_view texto);
int64_t StrToInt64(std::u16string_view texto);

// Decimal number with "," before the decimals, an optional sign and exponent and blanks around it;
// at least one digit, no thousands separator.
// Throws ErroConversao "'<texto>' is not a valid floating point value".
double StrToFloat(std::u16string_view texto);

// Money in whole cents. Amounts are compared, summed and stored in cents; doubles appear only
// where a column or a layout needs one.
//
// The amount a text holds, rounded to the cent half away from zero on the digits as written
// ("12,345" -> 1235 cents, "1,5E2" -> 15000): the same text StrToFloat accepts, with the same error
// for one it does not. Throws ErroConversao for an amount of 10^13 reais or more.
int64_t CentavosDoTexto(std::u16string_view texto);
// A real rounded to the cent half away from zero from its shortest decimal form, so a margin stored
// as 0.0999999999999943 is 10 cents and 100.005 is 10001. Throws ErroConversao when it is not
// finite or is 10^13 reais or more.
int64_t CentavosDe(double valor);
// Cents as the real a column or a format takes.
inline double Reais(int64_t centavos) {
    return static_cast<double>(centavos) / 100.0;
}
// "1.234,56", "-0,10": cents for people to read (summaries, messages).
std::string ReaisLegiveis(int64_t centavos);

// Code-number conversion of the interchange files: 0 when `condicao` is false, else the text as a
// 32-bit integer. Throws ErroConversao for a text that is not a number or lies outside 32 bits.
int32_t IifValor(bool condicao, std::u16string_view texto);

// At least `digitos` digits, zeros on the left; "-" before a negative value.
std::u16string FormatarZeros(int64_t valor, int digitos);

// Amount mask "000000000000.00": 18 significant digits, then halves away from zero at two decimals.
std::u16string FormatarValor(double valor);

// General format with "," as the decimal separator: 15 significant digits, trailing zeros dropped,
// exponent form ("1,5E-6", "1E20") below 0.00001 or with more than 15 integer digits.
std::u16string FormatarGeral(double valor);

}  // namespace kavlo
