#include "dao/BancoFolha.h"

namespace kavlo {

std::u16string SemLocalhost(std::u16string_view caminhoBanco) {
    std::u16string r(caminhoBanco);
    if (auto p = r.find(u"localhost:"); p != std::u16string::npos) r.erase(p, 10);
    return r;
}

std::optional<std::u16string> ArquivoDoBanco(std::u16string_view caminhoBanco) {
    const auto doisPontos = caminhoBanco.find(u':');
    if (doisPontos != std::u16string_view::npos && doisPontos > 1) return std::nullopt;
    return std::u16string(caminhoBanco);
}

}  // namespace kavlo
