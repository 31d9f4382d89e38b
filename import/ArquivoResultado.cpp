#include "import/ArquivoResultado.h"

#include "util/Numeros.h"
#include "util/Utils.h"

namespace kavlo {
namespace {

struct Valores {
    std::u16string_view referencia;
    const Desfecho* desfecho = nullptr;
    const Situacao* situacao = nullptr;
};

std::u16string ValorDescontado(std::u16string_view linha, const Desfecho& d) {
    switch (d.resultado) {
        case Resultado::Integral:
            // The instalment exactly as received, "," or "." alike.
            return std::u16string(Campo(linha, retorno::Parcela));
        case Resultado::Parcial:
            return FormatarValor(Reais(d.descontado));
        case Resultado::NaoDescontado:
        case Resultado::SemSlot:
            break;
    }
    return FormatarValor(0);
}

std::u16string Montar(std::span<const CampoResultado> campos, std::u16string_view linha,
                      const Valores& v) {
    std::u16string r;
    for (const auto& c : campos) {
        std::u16string texto;
        switch (c.fonte) {
            case Fonte::Retorno:
                texto = Trecho(linha, c.origem, c.largura);
                break;
            case Fonte::Fixo:
                texto = c.fixo;
                break;
            case Fonte::Referencia:
                texto = v.referencia;
                break;
            case Fonte::Marcador:
                if (v.desfecho->resultado == Resultado::NaoDescontado ||
                    v.desfecho->resultado == Resultado::SemSlot)
                    texto = MarcadorNaoDescontado;
                break;
            case Fonte::ValorDescontado:
                texto = ValorDescontado(linha, *v.desfecho);
                break;
            case Fonte::CodigoSituacao:
                texto = v.situacao->codigo;
                break;
            case Fonte::DescricaoSituacao:
                texto = v.situacao->descricao;
                break;
            case Fonte::Resto:
                texto = FormatarValor(Reais(v.desfecho->resto));
                break;
        }
        r += AjustaTexto(texto, c.largura);
    }
    return r;
}

}  // namespace

std::u16string CabecalhoResultado(std::u16string_view linha, std::u16string_view referencia) {
    return Montar(resultado::Cabecalho, linha, {.referencia = referencia});
}

std::u16string RodapeResultado(std::u16string_view linha) {
    return Montar(resultado::Rodape, linha, {});
}

std::u16string LinhaResultado(std::u16string_view linha, const Desfecho& desfecho,
                              const Situacao& situacao) {
    return Montar(resultado::Detalhe, linha, {{}, &desfecho, &situacao});
}

}  // namespace kavlo
