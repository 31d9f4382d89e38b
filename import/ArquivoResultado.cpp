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
            return std::u16string(LerCampo(linha, retorno::Parcela));
        case Resultado::Parcial:
            return FormatarValor(Reais(d.descontado));
        case Resultado::NaoDescontado:
        case Resultado::SemSlot:
            break;
    }
    return FormatarValor(0);
}

// A field's text, fitted to its width.
std::u16string Texto(const CampoResultado& c, std::u16string_view linha, const Valores& v) {
    std::u16string texto;
    switch (c.valor.fonte) {
        case FonteResultado::Retorno:
            texto = LerCampo(linha, c.valor.retorno);
            break;
        case FonteResultado::Fixo:
            texto = c.valor.fixo;
            break;
        case FonteResultado::Referencia:
            texto = v.referencia;
            break;
        case FonteResultado::Marcador:
            if (v.desfecho->resultado == Resultado::NaoDescontado ||
                v.desfecho->resultado == Resultado::SemSlot)
                texto = MarcadorNaoDescontado;
            break;
        case FonteResultado::ValorDescontado:
            texto = ValorDescontado(linha, *v.desfecho);
            break;
        case FonteResultado::CodigoSituacao:
            texto = v.situacao->codigo;
            break;
        case FonteResultado::DescricaoSituacao:
            texto = v.situacao->descricao;
            break;
        case FonteResultado::Resto:
            texto = FormatarValor(Reais(v.desfecho->resto));
            break;
    }
    return AjustaTexto(texto, c.posicao.largura);
}

template <class Campos>
std::u16string Montar(const Campos& campos, std::u16string_view linha, const Valores& v) {
    return MontarLinha(campos, [&](const CampoResultado& c) { return Texto(c, linha, v); });
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
