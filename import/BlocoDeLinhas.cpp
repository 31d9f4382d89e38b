#include "import/BlocoDeLinhas.h"

#include "import/ColunasDaDeducao.h"
#include "util/Codificacao.h"
#include "util/Utils.h"

namespace kavlo {

std::u16string Num(size_t n) {
    return DeUtf8(std::to_string(n));
}

BlocoDeLinhas::BlocoDeLinhas(const std::vector<int>& slots) {
    for (int slot : slots) numeros_.push_back(Num(static_cast<size_t>(slot)));
}

std::u16string BlocoDeLinhas::PorSlot(std::u16string_view modelo, std::u16string_view r) const {
    std::u16string texto;
    for (const std::u16string& n : numeros_) {
        std::u16string p(r);
        p += u'_';
        p += n;
        texto += Preencher(modelo, {{u"n", n}, {u"r", r}, {u"p", p}});
    }
    return texto;
}

std::u16string BlocoDeLinhas::PorColuna(std::u16string_view modelo) {
    std::u16string texto;
    for (const ColunaDaDeducao& coluna : kColunasDoSlot)
        texto +=
            Preencher(modelo, {{u"coluna", coluna.nome},
                               {u"c", coluna.nome.substr(0, 1)},
                               {u"tipo", coluna.tipoDoLancamento},
                               {u"guardado", coluna.texto ? u"varchar(1000) character set octets"
                                                          : u"double precision"}});
    return texto;
}

std::u16string BlocoDeLinhas::Montar(std::u16string_view modelo,
                                     std::u16string_view declaracoesDoSlot,
                                     std::u16string_view declaracoes, size_t linhas,
                                     const Linha& linha) const {
    std::u16string parametros, corpo;
    std::u16string declarado = PorSlot(declaracoesDoSlot);
    declarado += declaracoes;
    for (size_t i = 0; i < linhas; ++i) linha(Num(i), parametros, corpo);
    return Preencher(modelo,
                     {{u"parametros", parametros}, {u"declaracoes", declarado}, {u"corpo", corpo}});
}

}  // namespace kavlo
