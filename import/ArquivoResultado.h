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

// What fills a field of the result file.
struct Origem {
    Fonte fonte;
    Posicao retorno = {};  // the return line's field, for Fonte::Retorno
    std::u16string_view fixo = {};
};
using CampoResultado = Campo<Origem>;

namespace resultado {

inline constexpr CampoResultado Cabecalho[] = {
    {"TipoRegistro", {1, 1}, {Fonte::Retorno, retorno::CabTipo}},
    {"Texto", {2, 50}, {Fonte::Retorno, retorno::CabTexto}},
    {"NomeLayout", {52, 30}, {Fonte::Fixo, {}, u"RETORNO"}},
    {"Referencia", {82, 6}, {Fonte::Referencia}},
    {"Data", {88, 8}, {Fonte::Retorno, retorno::CabData}},
};

inline constexpr CampoResultado Rodape[] = {
    {"TipoRegistro", {1, 1}, {Fonte::Fixo, {}, u"T"}},
    {"Quantidade", {2, 10}, {Fonte::Retorno, retorno::RodQuantidade}},
    {"Total", {12, 12}, {Fonte::Retorno, retorno::RodTotal}},
};

inline constexpr CampoResultado Detalhe[] = {
    {"TipoRegistro", {1, 1}, {Fonte::Retorno, retorno::Tipo}},
    {"Nome", {2, 40}, {Fonte::Retorno, retorno::Nome}},
    {"Cpf", {42, 11}, {Fonte::Retorno, retorno::Cpf}},
    {"Registro", {53, 15}, {Fonte::Retorno, retorno::Registro}},
    {"Contrato", {68, 8}, {Fonte::Retorno, retorno::Contrato}},
    {"Proposta", {76, 6}, {Fonte::Retorno, retorno::Proposta}},
    {"CampoCodigo", {82, 8}, {Fonte::Retorno, retorno::CampoCodigo}},
    {"Brancos", {90, 20}, {Fonte::Fixo, {}, u""}},
    {"Tipo", {110, 15}, {Fonte::Fixo, {}, u"EMPRESTIMO"}},
    {"Marcador", {125, 15}, {Fonte::Marcador}},
    {"Parcela", {140, 15}, {Fonte::Retorno, retorno::Parcela}},
    {"ValorTotal", {155, 15}, {Fonte::Retorno, retorno::ValorTotal}},
    {"ContadorPerc", {170, 3}, {Fonte::Retorno, retorno::ContadorPerc}},
    {"ContadorQuant", {173, 3}, {Fonte::Retorno, retorno::ContadorQuant}},
    {"FimDataContrato", {176, 6}, {Fonte::Retorno, retorno::FimDataContrato}},
    {"DataContrato1", {182, 8}, {Fonte::Retorno, retorno::DataContrato}},
    {"DataContrato2", {190, 8}, {Fonte::Retorno, retorno::DataContrato}},
    {"ValorDescontado", {198, 15}, {Fonte::ValorDescontado}},
    {"CodigoSituacao", {213, 3}, {Fonte::CodigoSituacao}},
    {"DescricaoSituacao", {216, 30}, {Fonte::DescricaoSituacao}},
    {"Resto", {246, 15}, {Fonte::Resto}},
};

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
