#include "util/Utils.h"

#include <algorithm>

namespace kavlo {

std::u16string RemoveCaracteres(std::u16string_view texto, std::u16string_view caracteres) {
    std::u16string copia(texto);
    const size_t n = copia.size();
    for (size_t i = 0; i < n; ++i)
        for (char16_t c : caracteres)
            if (i < copia.size() && copia[i] == c) copia.erase(i, 1);
    return copia;
}

std::u16string AjustaTexto(std::u16string_view texto, int largura) {
    if (largura <= 0) return {};
    const auto w = static_cast<size_t>(largura);
    if (w < texto.size()) return std::u16string(texto.substr(0, w));
    std::u16string r(texto);
    r.append(w - texto.size(), u' ');
    return r;
}

std::u16string Espacos(int quantidade) {
    return quantidade > 0 ? std::u16string(static_cast<size_t>(quantidade), u' ')
                          : std::u16string();
}

std::u16string MesAbreviado(int mes) {
    if (mes < 1 || mes > 12) return {};
    return std::u16string(MesesAbreviados[static_cast<size_t>(mes - 1)]);
}

std::u16string_view SemBrancosFinais(std::u16string_view texto) {
    while (!texto.empty() && texto.back() == u' ') texto.remove_suffix(1);
    return texto;
}

std::u16string_view Aparar(std::u16string_view texto) {
    size_t a = 0;
    size_t b = texto.size();
    while (a < b && texto[a] <= u' ') ++a;
    while (b > a && texto[b - 1] <= u' ') --b;
    return texto.substr(a, b - a);
}

std::u16string Preencher(
    std::u16string_view modelo,
    std::initializer_list<std::pair<std::u16string_view, std::u16string_view>> valores) {
    std::u16string r;
    r.reserve(modelo.size() + 64);
    size_t i = 0;
    while (i < modelo.size()) {
        const size_t abre = modelo.find(u'{', i);
        if (abre == std::u16string_view::npos) break;
        r.append(modelo.substr(i, abre - i));
        const size_t fecha = modelo.find(u'}', abre);
        const std::u16string_view nome = fecha == std::u16string_view::npos
                                             ? std::u16string_view{}
                                             : modelo.substr(abre + 1, fecha - abre - 1);
        const auto valor = std::find_if(valores.begin(), valores.end(),
                                        [&](const auto& v) { return v.first == nome; });
        if (valor == valores.end()) {
            r += u'{';
            i = abre + 1;
        } else {
            r.append(valor->second);
            i = fecha + 1;
        }
    }
    r.append(modelo.substr(std::min(i, modelo.size())));
    return r;
}

}  // namespace kavlo
