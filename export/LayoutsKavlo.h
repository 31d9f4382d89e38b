// The record layouts of "Pessoas.csv", "Margem.txt" and "Transferidos.txt": one table per record,
// positions and widths as the loan-management party reads them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "model/Kavlo.h"
#include "util/Layout.h"

namespace kavlo {

enum class Formato {
    Bruto,        // the text unchanged, its own length
    Ajustado,     // cut or padded with blanks to the width
    Zeros,        // integer with zeros on the left to the width
    Cpf,          // the CPF text as a 64-bit integer, 11 digits
    Codigo,       // a code text as a 32-bit integer, zeros to the width; blank gives zeros
    Valor,        // amount "000000000000.00"
    DataOuZeros,  // "ddmmyyyy", "00000000" for no date
    Data,         // "ddmmyyyy", even for no date
    MesAno,       // "mmyyyy"
    Inteiro,      // integer, no padding
    Digito,       // "0" followed by the check digit text
};

template <class R>
using Origem = std::variant<std::u16string R::*, double R::*, int32_t R::*>;

// What fills a field of a record R: which member, in which format. The width of a field is the one
// every value has when it fits its mask; "Pessoas.csv" numbers its fields in place of positions.
template <class R>
struct Dado {
    Formato formato;
    Origem<R> origem;
};
template <class R>
using CampoDe = Campo<Dado<R>>;

// Header and trailers are laid out from these views of a file model.
struct Cabecalho {
    std::u16string HTipoRegistro;
    std::u16string HConsignante;
    std::u16string HLayout;
    TDateTime HFolha = 0;
    TDateTime HDataGeracao = 0;
};

struct Rodape {
    std::u16string TTipoRegistro;
    int32_t Quantidade = 0;
    double SomaValorMargem = 0;  // margin file only
};

using F = Formato;

inline constexpr std::array<CampoDe<Cabecalho>, 5> CABECALHO = {{
    {"HTipoRegistro", {1, 1}, {F::Bruto, &Cabecalho::HTipoRegistro}},
    {"HConsignante", {2, 50}, {F::Ajustado, &Cabecalho::HConsignante}},
    {"HLayout", {52, 30}, {F::Ajustado, &Cabecalho::HLayout}},
    {"HFolha", {82, 6}, {F::MesAno, &Cabecalho::HFolha}},
    {"HDataGeracao", {88, 8}, {F::Data, &Cabecalho::HDataGeracao}},
}};
static_assert(Contiguo(CABECALHO, 95));

// The trailer's count, and the margin file's sum: the tool reads them back for its summary.
inline constexpr Posicao RODAPE_QUANTIDADE{2, 10};
inline constexpr Posicao RODAPE_SOMA_MARGEM{12, 15};

// "Pessoas.csv" and "Transferidos.txt".
inline constexpr std::array<CampoDe<Rodape>, 2> RODAPE = {{
    {"TTipoRegistro", {1, 1}, {F::Bruto, &Rodape::TTipoRegistro}},
    {"Quantidade", RODAPE_QUANTIDADE, {F::Zeros, &Rodape::Quantidade}},
}};
static_assert(Contiguo(RODAPE, 11));

inline constexpr std::array<CampoDe<Rodape>, 3> RODAPE_MARGEM = {{
    {"TTipoRegistro", {1, 1}, {F::Bruto, &Rodape::TTipoRegistro}},
    {"TQuantidadeRegistro", RODAPE_QUANTIDADE, {F::Zeros, &Rodape::Quantidade}},
    {"SomaValorMargem", RODAPE_SOMA_MARGEM, {F::Valor, &Rodape::SomaValorMargem}},
}};
static_assert(Contiguo(RODAPE_MARGEM, 26));

// Detail line of "Pessoas.csv": fields joined by ";", the field number in place of a position.
inline constexpr std::array<CampoDe<TDPessoas>, 34> DETALHE_PESSOAS = {{
    {"TipoRegistro", {1, 0}, {F::Bruto, &TDPessoas::TipoRegistro}},
    {"CPF", {2, 0}, {F::Bruto, &TDPessoas::CPF}},
    {"RG", {3, 0}, {F::Bruto, &TDPessoas::RG}},
    {"TituloEleitor", {4, 0}, {F::Bruto, &TDPessoas::TituloEleitor}},
    {"ZonaEleitoral", {5, 0}, {F::Bruto, &TDPessoas::ZonaEleitoral}},
    {"SecaoEleitoral", {6, 0}, {F::Bruto, &TDPessoas::SecaoEleitoral}},
    {"NomeCompleto", {7, 0}, {F::Bruto, &TDPessoas::NomeCompleto}},
    {"EstadoCivil", {8, 0}, {F::Bruto, &TDPessoas::EstadoCivil}},
    {"Sexo", {9, 0}, {F::Bruto, &TDPessoas::Sexo}},
    {"DataNascimento", {10, 0}, {F::DataOuZeros, &TDPessoas::DataNascimento}},
    {"NomePai", {11, 0}, {F::Bruto, &TDPessoas::NomePai}},
    {"NomeMae", {12, 0}, {F::Bruto, &TDPessoas::NomeMae}},
    {"QuantidadeDependentes", {13, 0}, {F::Inteiro, &TDPessoas::QuantidadeDependentes}},
    {"Email", {14, 0}, {F::Bruto, &TDPessoas::Email}},
    {"TelefoneResidencial", {15, 0}, {F::Bruto, &TDPessoas::TelefoneResidencial}},
    {"TelefoneComercial", {16, 0}, {F::Bruto, &TDPessoas::TelefoneComercial}},
    {"TelefoneCelular", {17, 0}, {F::Bruto, &TDPessoas::TelefoneCelular}},
    {"EnderecoResidencial", {18, 0}, {F::Bruto, &TDPessoas::EnderecoResidencial}},
    {"Bairro", {19, 0}, {F::Bruto, &TDPessoas::Bairro}},
    {"CEP", {20, 0}, {F::Bruto, &TDPessoas::CEP}},
    {"Municipio", {21, 0}, {F::Bruto, &TDPessoas::Municipio}},
    {"UF", {22, 0}, {F::Bruto, &TDPessoas::UF}},
    {"EnderecoComercial", {23, 0}, {F::Bruto, &TDPessoas::EnderecoComercial}},
    {"BairroComercial", {24, 0}, {F::Bruto, &TDPessoas::BairroComercial}},
    {"CEPComercial", {25, 0}, {F::Bruto, &TDPessoas::CEPComercial}},
    {"MunicipioComercial", {26, 0}, {F::Bruto, &TDPessoas::MunicipioComercial}},
    {"UFComercial", {27, 0}, {F::Bruto, &TDPessoas::UFComercial}},
    {"NomeBancoContaSalario", {28, 0}, {F::Bruto, &TDPessoas::NomeBancoContaSalario}},
    {"NumeroBancoContaSalario", {29, 0}, {F::Bruto, &TDPessoas::NumeroBancoContaSalario}},
    {"AgenciaContaSalario", {30, 0}, {F::Bruto, &TDPessoas::AgenciaContaSalario}},
    {"DigitoAgencia", {31, 0}, {F::Bruto, &TDPessoas::DigitoAgencia}},
    {"ContaCorrenteContaSalario", {32, 0}, {F::Bruto, &TDPessoas::ContaCorrenteContaSalario}},
    {"DigitoConta", {33, 0}, {F::Bruto, &TDPessoas::DigitoConta}},
    {"Formacao", {34, 0}, {F::Bruto, &TDPessoas::Formacao}},
}};
static_assert(Numerado(DETALHE_PESSOAS));

inline constexpr std::array<CampoDe<TDMargem>, 42> DETALHE_MARGEM = {{
    {"TipoRegistro", {1, 1}, {F::Bruto, &TDMargem::TipoRegistro}},
    {"NomeServidor", {2, 40}, {F::Ajustado, &TDMargem::NomeServidor}},
    {"CPF", {42, 11}, {F::Cpf, &TDMargem::CPF}},
    {"Matricula", {53, 15}, {F::Codigo, &TDMargem::Matricula}},
    {"CDCargo", {68, 8}, {F::Codigo, &TDMargem::CDCargo}},
    {"NomeCargo", {76, 30}, {F::Ajustado, &TDMargem::NomeCargo}},
    {"CDOrgao", {106, 8}, {F::Codigo, &TDMargem::CDOrgao}},
    {"NomeOrgao", {114, 30}, {F::Ajustado, &TDMargem::NomeOrgao}},
    {"BancoServidor", {144, 3}, {F::Codigo, &TDMargem::BancoServidor}},
    {"AgenciaServidor", {147, 6}, {F::Codigo, &TDMargem::AgenciaServidor}},
    {"AgenciaDigitoServidor", {153, 2}, {F::Digito, &TDMargem::AgenciaDigitoServidor}},
    {"ContaServidor", {155, 20}, {F::Codigo, &TDMargem::ContaServidor}},
    {"ContaDigitoServidor", {175, 2}, {F::Digito, &TDMargem::ContaDigitoServidor}},
    {"ValorMargem", {177, 15}, {F::Valor, &TDMargem::ValorMargem}},
    {"DtInicioFuncao", {192, 8}, {F::DataOuZeros, &TDMargem::DtInicioFuncao}},
    {"DtFimFuncao", {200, 8}, {F::DataOuZeros, &TDMargem::DtFimFuncao}},
    {"Comissionado", {208, 1}, {F::Ajustado, &TDMargem::Comissionado}},
    {"Temporario", {209, 1}, {F::Ajustado, &TDMargem::Temporario}},
    {"Aposentado", {210, 1}, {F::Ajustado, &TDMargem::Aposentado}},
    {"Pensionista", {211, 1}, {F::Ajustado, &TDMargem::Pensionista}},
    {"Suspenso", {212, 1}, {F::Ajustado, &TDMargem::Suspenso}},
    {"Estatutario", {213, 1}, {F::Ajustado, &TDMargem::Estatutario}},
    {"EmpregadoPublico", {214, 1}, {F::Ajustado, &TDMargem::EmpregadoPublico}},
    {"SalarioBruto", {215, 15}, {F::Valor, &TDMargem::SalarioBruto}},
    {"SalarioLiquido", {230, 15}, {F::Valor, &TDMargem::SalarioLiquido}},
    {"Descontos", {245, 15}, {F::Valor, &TDMargem::Descontos}},
    {"SalarioBase", {260, 15}, {F::Valor, &TDMargem::SalarioBase}},
    {"HoraExtra", {275, 15}, {F::Valor, &TDMargem::HoraExtra}},
    {"AdicionalInsalubridade", {290, 15}, {F::Valor, &TDMargem::AdicionalInsalubridade}},
    {"AdicionalNoturno", {305, 15}, {F::Valor, &TDMargem::AdicionalNoturno}},
    {"AdicionalPericulosidade", {320, 15}, {F::Valor, &TDMargem::AdicionalPericulosidade}},
    {"BonificacaoResultado", {335, 15}, {F::Valor, &TDMargem::BonificacaoResultado}},
    {"AdicionalTempoServico", {350, 15}, {F::Valor, &TDMargem::AdicionalTempoServico}},
    {"AjudaAlimenticia", {365, 15}, {F::Valor, &TDMargem::AjudaAlimenticia}},
    {"OutrosBonificacoes", {380, 15}, {F::Valor, &TDMargem::OutrosBonificacoes}},
    {"Irrf", {395, 15}, {F::Valor, &TDMargem::Irrf}},
    {"Previdencia", {410, 15}, {F::Valor, &TDMargem::Previdencia}},
    {"DescontoFaltaAusencia", {425, 15}, {F::Valor, &TDMargem::DescontoFaltaAusencia}},
    {"PensaoAlimenticia", {440, 15}, {F::Valor, &TDMargem::PensaoAlimenticia}},
    {"Reposicao", {455, 15}, {F::Valor, &TDMargem::Reposicao}},
    {"DescontoAssociacao", {470, 15}, {F::Valor, &TDMargem::DescontoAssociacao}},
    {"DescontoSindical", {485, 15}, {F::Valor, &TDMargem::DescontoSindical}},
}};
static_assert(Contiguo(DETALHE_MARGEM, 499));

inline constexpr std::array<CampoDe<TDTransferidos>, 7> DETALHE_TRANSFERIDOS = {{
    {"TipoRegistro", {1, 1}, {F::Bruto, &TDTransferidos::TipoRegistro}},
    {"NomeServidor", {2, 40}, {F::Ajustado, &TDTransferidos::NomeServidor}},
    {"CPF", {42, 11}, {F::Cpf, &TDTransferidos::CPF}},
    {"CodigoMatriculaBeneficiarioOrigem",
     {53, 15},
     {F::Codigo, &TDTransferidos::CodigoMatriculaBeneficiarioOrigem}},
    {"CodigoOrgaoOrigem", {68, 8}, {F::Codigo, &TDTransferidos::CodigoOrgaoOrigem}},
    {"CodigoMatriculaBeneficiarioDestino",
     {76, 15},
     {F::Codigo, &TDTransferidos::CodigoMatriculaBeneficiarioDestino}},
    {"CodigoOrgaoDestino", {91, 8}, {F::Codigo, &TDTransferidos::CodigoOrgaoDestino}},
}};
static_assert(Contiguo(DETALHE_TRANSFERIDOS, 98));

}  // namespace kavlo
