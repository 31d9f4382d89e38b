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
