// Text helpers: fitted text always has the width; removing characters never grows a text and
// removes every isolated one; Windows-1252 bytes survive a round trip through UTF-16; the best-fit
// conversion keeps one byte a code unit and the exact bytes; composing is idempotent.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/Propriedade.h"
#include "util/Codificacao.h"
#include "util/Utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
    using namespace kavlo;
    if (tamanho < 2) return 0;
    const int largura = static_cast<int8_t>(dados[0]);
    const std::string_view bytes(reinterpret_cast<const char*>(dados + 2), tamanho - 2);
    const std::u16string texto = DeWindows1252(bytes);
    PROPRIEDADE(ParaWindows1252(texto) == bytes);

    const std::u16string ajustado = AjustaTexto(texto, largura);
    PROPRIEDADE(ajustado.size() == static_cast<size_t>(largura > 0 ? largura : 0));
    PROPRIEDADE(ajustado.substr(0, std::min(ajustado.size(), texto.size())) ==
                texto.substr(0, ajustado.size()));

    // The same bytes as UTF-16 code units: written as Windows writes them, one byte a unit and
    // the exact byte wherever the code page has the character; composed text composes to itself.
    const std::u16string unidades = DeUtf16(bytes, false);
    const std::string melhor = ParaWindows1252MelhorAjuste(unidades);
    PROPRIEDADE(melhor.size() == unidades.size());
    for (size_t i = 0; i < unidades.size(); ++i)
        if (CabeEmWindows1252(unidades.substr(i, 1)))
            PROPRIEDADE(melhor[i] == ParaWindows1252(unidades.substr(i, 1))[0]);
    const std::u16string composto = Compor(unidades);
    PROPRIEDADE(Compor(composto) == composto);

    const std::u16string remover(1, static_cast<char16_t>(dados[1]));
    const std::u16string sem = RemoveCaracteres(texto, remover);
    PROPRIEDADE(sem.size() <= texto.size());
    if (texto.find(remover + remover) == std::u16string::npos)
        PROPRIEDADE(sem.find(remover) == std::u16string::npos);
    return 0;
}
