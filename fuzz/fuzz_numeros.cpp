// Amount and integer conversions: what parses formats and parses back to the same value; the
// amount mask keeps its width; nothing but the documented error escapes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/Propriedade.h"
#include "util/Erros.h"
#include "util/Numeros.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
    using namespace kavlo;
    // The fuzzer's bytes as text: each byte one character, as fixed-width fields are.
    const std::u16string texto(reinterpret_cast<const char*>(dados),
                               reinterpret_cast<const char*>(dados) + tamanho);
    try {
        const double v = StrToFloat(texto);
        PROPRIEDADE(std::isfinite(v));
        const double relido = StrToFloat(FormatarGeral(v));
        PROPRIEDADE(relido == v || std::fabs(relido - v) <= 1e-14 * std::fabs(v));
        const std::u16string valor = FormatarValor(v);
        if (v >= 0 && v < 1e11) {
            PROPRIEDADE(valor.size() == 15);
            PROPRIEDADE(valor[12] == u'.');
            std::u16string comVirgula = valor;
            comVirgula[12] = u',';
            PROPRIEDADE(std::fabs(StrToFloat(comVirgula) - v) <= 0.005 + 1e-9 * v);
        }
    } catch (const ErroConversao& e) {
        PROPRIEDADE(std::strstr(e.what(), "is not a valid floating point value") != nullptr);
    }
    try {
        const int32_t n = StrToInt(texto);
        const std::string s = std::to_string(n);
        PROPRIEDADE(StrToInt(std::u16string(s.begin(), s.end())) == n);
        PROPRIEDADE(IifValor(true, texto) == n);
    } catch (const ErroConversao& e) {
        PROPRIEDADE(std::strstr(e.what(), "is not a valid integer value") != nullptr);
    }
    return 0;
}
