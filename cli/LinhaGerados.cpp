// kavlo linha for the three generation files, from their layout tables.
#include "cli/LinhaDeArquivo.h"
#include "export/LayoutsKavlo.h"

namespace kavlo::cli::campos {

Decodificada DecodificarGerado(Tipo tipo, size_t numero, size_t total, std::u16string_view linha) {
    switch (tipo) {
        case Tipo::Margem:
            return PorPapel(numero, total, linha, CABECALHO, DETALHE_MARGEM, RODAPE_MARGEM,
                            "margem de um servidor");
        case Tipo::Transferidos:
            return PorPapel(numero, total, linha, CABECALHO, DETALHE_TRANSFERIDOS, RODAPE,
                            "servidor transferido");
        case Tipo::Pessoas:
            if (numero > 1 && numero < total) {
                Decodificada d{"dados de um servidor", Separados(DETALHE_PESSOAS, linha), 0};
                d.separados = 1;
                for (const char16_t c : linha) d.separados += c == u';';
                return d;
            }
            return PorPapel(numero, total, linha, CABECALHO, DETALHE_PESSOAS, RODAPE, "");
        default:
            return {};
    }
}

size_t CamposDePessoas() {
    return DETALHE_PESSOAS.size();
}

}  // namespace kavlo::cli::campos
