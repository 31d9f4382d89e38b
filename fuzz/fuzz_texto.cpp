// Text helpers: fitted text always has the width; removing characters never grows a text and
// removes every isolated one; Windows-1252 bytes survive a round trip through UTF-16.
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

    const std::u16string remover(1, static_cast<char16_t>(dados[1]));
    const std::u16string sem = RemoveCaracteres(texto, remover);
    PROPRIEDADE(sem.size() <= texto.size());
    if (texto.find(remover + remover) == std::u16string::npos)
        PROPRIEDADE(sem.find(remover) == std::u16string::npos);
    return 0;
}
