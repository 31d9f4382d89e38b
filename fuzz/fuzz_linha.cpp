// One line of a return file, however wrong: fields never exceed their widths, the key and the
// code keep their shapes, conversions either give a finite value or the documented error, and
// the result and report records keep their lengths whatever the outcome.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/Propriedade.h"
#include "import/ArquivoResultado.h"
#include "import/ArquivoRetorno.h"
#include "import/RelatorioSemMargem.h"
#include "util/Codificacao.h"
#include "util/Erros.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
    using namespace kavlo;
    std::u16string linha =
        DeWindows1252(std::string_view(reinterpret_cast<const char*>(dados), tamanho));
    for (char16_t& c : linha)
        if (c == u'\r' || c == u'\n') c = u' ';  // a line never holds its own end

    for (Posicao p : {retorno::Nome, retorno::Registro, retorno::CampoCodigo, retorno::Parcela,
                      retorno::DataContrato})
        PROPRIEDADE(LerCampo(linha, p).size() <= static_cast<size_t>(p.largura));

    const std::u16string chave = ChaveServidor(linha);
    PROPRIEDADE(chave.size() <= 8);
    if (linha.size() >= static_cast<size_t>(retorno::MatriculaDigito.Fim()))
        PROPRIEDADE(chave.size() == 8 && chave[6] == u'-');

    const std::u16string codigo = CodigoDesconto(linha);
    PROPRIEDADE(codigo.size() <= 2);
    PROPRIEDADE(codigo.empty() || (codigo.front() > u' ' && codigo.back() > u' '));

    int64_t parcela = 0;
    bool parcelaValida = true;
    try {
        const double valor = LerParcela(linha);
        PROPRIEDADE(std::isfinite(valor));
        // Below the import's limit the cents always exist and lie within half a cent of the real.
        if (std::fabs(valor) < 1e12) {
            parcela = LerParcelaCentavos(linha);
            PROPRIEDADE(std::fabs(static_cast<double>(parcela) - valor * 100) <= 0.5 + 1e-3);
        }
    } catch (const ErroConversao& e) {
        parcelaValida = false;
        PROPRIEDADE(std::strstr(e.what(), "is not a valid floating point value") != nullptr);
    }
    for (Posicao p : {retorno::ContadorPerc, retorno::ContadorQuant}) {
        try {
            const int32_t n = LerContador(linha, p);
            PROPRIEDADE(n >= -99 && n <= 999);
        } catch (const ErroConversao& e) {
            PROPRIEDADE(std::strstr(e.what(), "is not a valid integer value") != nullptr);
        }
    }

    PROPRIEDADE(CabecalhoResultado(linha, u"022024").size() == 95);
    PROPRIEDADE(RodapeResultado(linha).size() == 23);
    const int64_t margem = parcelaValida ? parcela / 3 : int64_t{100000000000000};
    const Situacao situacao{u"005", u"LICENÇA MÉDICA COM UM NOME LONGO DEMAIS PARA CABER"};
    for (const Desfecho& d : {Desfecho{Resultado::Integral, parcela, 0, margem - parcela},
                              Desfecho{Resultado::Parcial, margem, parcela - margem, 0},
                              Desfecho{Resultado::NaoDescontado, 0, parcela, margem},
                              Desfecho{Resultado::SemSlot, 0, parcela, margem}})
        PROPRIEDADE(LinhaResultado(linha, d, situacao).size() == 260);

    const std::u16string matricula = u"000123-4";
    PROPRIEDADE(EntradaNaoImportado(matricula, linha, margem, parcela).size() ==
                matricula.size() + 147);
    PROPRIEDADE(EntradaProporcional(matricula, linha, margem, parcela, margem).size() >=
                matricula.size() + 171);
    return 0;
}
