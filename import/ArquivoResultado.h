// The result file: the return file restated with each instalment's outcome. One table per record
// layout; every piece is fitted to its width with AjustaTexto.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "dao/SituacaoServidor.h"
#include "import/ArquivoRetorno.h"
#include "import/Lancamento.h"

namespace kavlo {

enum class Fonte {
    Retorno,            // copied from the return line, from `origem` on
    Fixo,               // the text `fixo`
    Referencia,         // payroll month and year, mmyyyy
    Marcador,           // " NÃO DESCONTADO" when nothing was posted
    ValorDescontado,    // what was deducted
    CodigoSituacao,     // servant's situation, code form
    DescricaoSituacao,  // servant's situation, description form
    Resto,              // amount not deducted
};

struct CampoResultado {
    std::string_view nome;
    int inicio;
    int largura;
    Fonte fonte;
    int origem = 0;
    std::u16string_view fixo = {};
};

namespace resultado {

inline constexpr CampoResultado Cabecalho[] = {
    {"TipoRegistro", 1, 1, Fonte::Retorno, retorno::CabTipo.inicio},
    {"Texto", 2, 50, Fonte::Retorno, retorno::CabTexto.inicio},
    {"NomeLayout", 52, 30, Fonte::Fixo, 0, u"RETORNO"},
    {"Referencia", 82, 6, Fonte::Referencia},
    {"Data", 88, 8, Fonte::Retorno, retorno::CabData.inicio},
};

inline constexpr CampoResultado Rodape[] = {
    {"TipoRegistro", 1, 1, Fonte::Fixo, 0, u"T"},
    {"Quantidade", 2, 10, Fonte::Retorno, retorno::RodQuantidade.inicio},
    {"Total", 12, 12, Fonte::Retorno, retorno::RodTotal.inicio},
};

inline constexpr CampoResultado Detalhe[] = {
    {"TipoRegistro", 1, 1, Fonte::Retorno, retorno::Tipo.inicio},
    {"Nome", 2, 40, Fonte::Retorno, retorno::Nome.inicio},
    {"Cpf", 42, 11, Fonte::Retorno, retorno::Cpf.inicio},
    {"Registro", 53, 15, Fonte::Retorno, retorno::Registro.inicio},
    {"Livre68", 68, 8, Fonte::Retorno, retorno::Livre68.inicio},
    {"Livre76", 76, 6, Fonte::Retorno, retorno::Livre76.inicio},
    {"CampoCodigo", 82, 8, Fonte::Retorno, retorno::CampoCodigo.inicio},
    {"Brancos", 90, 20, Fonte::Fixo, 0, u""},
    {"Tipo", 110, 15, Fonte::Fixo, 0, u"EMPRESTIMO"},
    {"Marcador", 125, 15, Fonte::Marcador},
    {"Parcela", 140, 15, Fonte::Retorno, retorno::Parcela.inicio},
    {"SegundoValor", 155, 15, Fonte::Retorno, retorno::SegundoValor.inicio},
    {"ContadorPerc", 170, 3, Fonte::Retorno, retorno::ContadorPerc.inicio},
    {"ContadorQuant", 173, 3, Fonte::Retorno, retorno::ContadorQuant.inicio},
    {"Livre192", 176, 6, Fonte::Retorno, retorno::Livre192.inicio},
    {"Livre190a", 182, 8, Fonte::Retorno, retorno::Livre190.inicio},
    {"Livre190b", 190, 8, Fonte::Retorno, retorno::Livre190.inicio},
    {"ValorDescontado", 198, 15, Fonte::ValorDescontado},
    {"CodigoSituacao", 213, 3, Fonte::CodigoSituacao},
    {"DescricaoSituacao", 216, 30, Fonte::DescricaoSituacao},
    {"Resto", 246, 15, Fonte::Resto},
};

// Each field starts where the previous one ends, and the record has its documented length.
template <size_t N>
constexpr bool Contiguo(const CampoResultado (&campos)[N], int tamanho) {
    int proximo = 1;
    for (const auto& c : campos) {
        if (c.inicio != proximo || c.largura <= 0) return false;
        proximo += c.largura;
    }
    return proximo == tamanho + 1;
}
static_assert(Contiguo(Cabecalho, 95));
static_assert(Contiguo(Rodape, 23));
static_assert(Contiguo(Detalhe, 260));

}  // namespace resultado

inline constexpr std::u16string_view MarcadorNaoDescontado = u" NÃO DESCONTADO";

// Header from the return file's first line; `referencia` is the payroll month as mmyyyy.
std::u16string CabecalhoResultado(std::u16string_view linha, std::u16string_view referencia);
// Trailer from the return file's last line.
std::u16string RodapeResultado(std::u16string_view linha);
// Result line of an instalment whose servant was found.
std::u16string LinhaResultado(std::u16string_view linha, const Desfecho& desfecho,
                              const Situacao& situacao);

}  // namespace kavlo
