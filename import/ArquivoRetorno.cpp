#include "import/ArquivoRetorno.h"

#include "util/Numeros.h"
#include "util/Utils.h"

namespace kavlo {

std::u16string_view Campo(std::u16string_view linha, Posicao p) {
    return Trecho(linha, p.inicio, p.largura);
}

std::u16string ChaveServidor(std::u16string_view linha) {
    std::u16string chave(Campo(linha, retorno::MatriculaNumero));
    chave += u'-';
    chave += Campo(linha, retorno::MatriculaDigito);
    return chave;
}

namespace {
std::u16string TextoDaParcela(std::u16string_view linha) {
    std::u16string texto(Campo(linha, retorno::Parcela));
    if (auto ponto = texto.find(u'.'); ponto != std::u16string::npos) texto[ponto] = u',';
    return texto;
}
}  // namespace

double LerParcela(std::u16string_view linha) {
    return StrToFloat(TextoDaParcela(linha));
}

int64_t LerParcelaCentavos(std::u16string_view linha) {
    return CentavosDoTexto(TextoDaParcela(linha));
}

int32_t LerContador(std::u16string_view linha, Posicao p) {
    return StrToInt(Aparar(Campo(linha, p)));
}

std::u16string CodigoDesconto(std::u16string_view linha) {
    return std::u16string(Aparar(Campo(linha, retorno::CodigoDesconto)));
}

}  // namespace kavlo
