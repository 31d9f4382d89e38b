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

enum class FonteResultado {
    Retorno,            // copied from the return line, from `origem` on
    Fixo,               // the text `fixo`
    Referencia,         // payroll month and year, mmyyyy
    Marcador,           // " NÃO DESCONTADO" when nothing was posted
    ValorDescontado,    // what was deducted
    CodigoSituacao,     // servant's situation, code form
    DescricaoSituacao,  // servant's situation, description form
    Resto,              // amount not deducted
};

// What fills a field of the result file.
struct OrigemResultado {
    FonteResultado fonte;
    Posicao retorno = {};  // the return line's field, for FonteResultado::Retorno
    std::u16string_view fixo = {};
};
using CampoResultado = Campo<OrigemResultado>;

namespace resultado {

inline constexpr CampoResultado Cabecalho[] = {
    {"TipoRegistro", {1, 1}, {FonteResultado::Retorno, retorno::CabTipo}},
    {"Texto", {2, 50}, {FonteResultado::Retorno, retorno::CabTexto}},
    {"NomeLayout", {52, 30}, {FonteResultado::Fixo, {}, u"RETORNO"}},
    {"Referencia", {82, 6}, {FonteResultado::Referencia}},
    {"Data", {88, 8}, {FonteResultado::Retorno, retorno::CabData}},
};

inline constexpr CampoResultado Rodape[] = {
    {"TipoRegistro", {1, 1}, {FonteResultado::Fixo, {}, u"T"}},
    {"Quantidade", {2, 10}, {FonteResultado::Retorno, retorno::RodQuantidade}},
    {"Total", {12, 12}, {FonteResultado::Retorno, retorno::RodTotal}},
};

inline constexpr CampoResultado Detalhe[] = {
    {"TipoRegistro", {1, 1}, {FonteResultado::Retorno, retorno::Tipo}},
    {"Nome", {2, 40}, {FonteResultado::Retorno, retorno::Nome}},
    {"Cpf", {42, 11}, {FonteResultado::Retorno, retorno::Cpf}},
    {"Registro", {53, 15}, {FonteResultado::Retorno, retorno::Registro}},
    {"Contrato", {68, 8}, {FonteResultado::Retorno, retorno::Contrato}},
    {"Proposta", {76, 6}, {FonteResultado::Retorno, retorno::Proposta}},
    {"CampoCodigo", {82, 8}, {FonteResultado::Retorno, retorno::CampoCodigo}},
    {"Brancos", {90, 20}, {FonteResultado::Fixo, {}, u""}},
    {"Tipo", {110, 15}, {FonteResultado::Fixo, {}, u"EMPRESTIMO"}},
    {"Marcador", {125, 15}, {FonteResultado::Marcador}},
    {"Parcela", {140, 15}, {FonteResultado::Retorno, retorno::Parcela}},
    {"ValorTotal", {155, 15}, {FonteResultado::Retorno, retorno::ValorTotal}},
    {"ContadorPerc", {170, 3}, {FonteResultado::Retorno, retorno::ContadorPerc}},
    {"ContadorQuant", {173, 3}, {FonteResultado::Retorno, retorno::ContadorQuant}},
    {"FimDataContrato", {176, 6}, {FonteResultado::Retorno, retorno::FimDataContrato}},
    {"DataContrato1", {182, 8}, {FonteResultado::Retorno, retorno::DataContrato}},
    {"DataContrato2", {190, 8}, {FonteResultado::Retorno, retorno::DataContrato}},
    {"ValorDescontado", {198, 15}, {FonteResultado::ValorDescontado}},
    {"CodigoSituacao", {213, 3}, {FonteResultado::CodigoSituacao}},
    {"DescricaoSituacao", {216, 30}, {FonteResultado::DescricaoSituacao}},
    {"Resto", {246, 15}, {FonteResultado::Resto}},
};

// A field copied from the return line is as wide as the field it copies: nothing cut, nothing
// padded.
template <class Campos>
constexpr bool CopiasNaLargura(const Campos& campos) {
    for (const CampoResultado& c : campos)
        if (c.valor.fonte == FonteResultado::Retorno &&
            c.valor.retorno.largura != c.posicao.largura)
            return false;
    return true;
}
static_assert(CopiasNaLargura(Cabecalho) && CopiasNaLargura(Rodape) && CopiasNaLargura(Detalhe));

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
