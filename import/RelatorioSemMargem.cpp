#include "import/RelatorioSemMargem.h"

#include <span>

#include "dao/BancoFolha.h"
#include "import/ArquivoRetorno.h"
#include "util/Numeros.h"
#include "util/Utils.h"

namespace kavlo {
namespace {

struct Dados {
    std::u16string_view matricula, linha;
    int64_t margem, parcela, descontado;  // cents
};

// A piece's text, fitted to its width when it has one.
std::u16string Texto(const PecaRelatorio& p, const Dados& d) {
    std::u16string texto;
    switch (p.valor.fonte) {
        case FontePeca::Fixo:
            texto = p.valor.fixo;
            break;
        case FontePeca::Matricula:
            texto = d.matricula;
            break;
        case FontePeca::Nome:
            texto = LerCampo(d.linha, retorno::Nome);
            break;
        case FontePeca::Margem:
            texto = FormatarGeral(Reais(d.margem));
            break;
        case FontePeca::Parcela:
            texto = FormatarGeral(Reais(d.parcela));
            break;
        case FontePeca::Descontado:
            texto = FormatarGeral(Reais(d.descontado));
            break;
    }
    return p.posicao.largura > 0 ? AjustaTexto(texto, p.posicao.largura) : texto;
}

template <class Pecas>
std::u16string Montar(const Pecas& pecas, const Dados& d) {
    return MontarLinha(pecas, [&](const PecaRelatorio& p) { return Texto(p, d); });
}

// Everything up to and including the last separator; empty when there is none.
std::u16string_view Pasta(std::u16string_view caminho, std::u16string_view separadores) {
    const auto p = caminho.find_last_of(separadores);
    return p == std::u16string_view::npos ? std::u16string_view{} : caminho.substr(0, p + 1);
}

}  // namespace

std::u16string EntradaNaoImportado(std::u16string_view matricula, std::u16string_view linha,
                                   int64_t margem, int64_t parcela) {
    return Montar(relatorio::NaoImportado, {matricula, linha, margem, parcela, 0});
}

std::u16string EntradaProporcional(std::u16string_view matricula, std::u16string_view linha,
                                   int64_t margem, int64_t parcela, int64_t descontado) {
    return Montar(relatorio::Proporcional, {matricula, linha, margem, parcela, descontado});
}

std::optional<std::u16string> EntradaDoRelatorio(std::u16string_view matricula,
                                                 std::u16string_view linha, int64_t margem,
                                                 int64_t parcela, const Desfecho& d) {
    switch (d.resultado) {
        case Resultado::NaoDescontado:
            return EntradaNaoImportado(matricula, linha, margem, parcela);
        case Resultado::Parcial:
            return EntradaProporcional(matricula, linha, margem, parcela, d.descontado);
        case Resultado::Integral:
        case Resultado::SemSlot:
            break;
    }
    return std::nullopt;
}

std::u16string NomeComMarca(std::u16string_view caminho, std::u16string_view marca) {
    const auto pasta = caminho.find_last_of(u"\\/");
    const auto ponto = caminho.rfind(u'.');
    const size_t onde = ponto != std::u16string_view::npos &&
                                (pasta == std::u16string_view::npos || ponto > pasta + 1)
                            ? ponto
                            : caminho.size();
    return std::u16string(caminho.substr(0, onde)) + u"." + std::u16string(marca) +
           std::u16string(caminho.substr(onde));
}

std::u16string CaminhoRelatorio(std::u16string_view caminhoBanco,
                                std::u16string_view caminhoResultado) {
    std::u16string r(ArquivoDoBanco(caminhoBanco) ? Pasta(caminhoBanco, u"\\/:")
                                                  : Pasta(caminhoResultado, u"\\/"));
    return r += NomeRelatorio;
}

}  // namespace kavlo
