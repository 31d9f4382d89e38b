#include "generation/TabelasKavlo.h"

namespace kavlo {

std::u16string FlagVinculo(std::u16string_view Tipo, std::u16string_view codigo) {
    for (const Vinculo& v : Vinculos)
        if (v.codigo == codigo) return v.nome == Tipo ? u"S" : u"N";
    return u"N";
}

bool PassaAB(std::u16string_view grau) {
    return !grau.empty() && std::u16string_view(u"A_B").find(grau) != std::u16string_view::npos;
}

}  // namespace kavlo
