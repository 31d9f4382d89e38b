// The interchange model: the three files that generation fills and the export writes, each a
// header (H...), a list of detail records (D...) and a trailer (T...). Data, and the destination
// generation hands them to record by record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/Datas.h"

namespace kavlo {

struct TDPessoas {
    std::u16string TipoRegistro;
    std::u16string CPF;
    std::u16string RG;
    std::u16string TituloEleitor;
    std::u16string ZonaEleitoral;
    std::u16string SecaoEleitoral;
    std::u16string NomeCompleto;
    std::u16string EstadoCivil;
    std::u16string Sexo;
    TDateTime DataNascimento = 0;
    std::u16string NomePai;
    std::u16string NomeMae;
    int32_t QuantidadeDependentes = 0;
    std::u16string Email;
    std::u16string TelefoneResidencial;
    std::u16string TelefoneComercial;
    std::u16string TelefoneCelular;
    std::u16string EnderecoResidencial;
    std::u16string Bairro;
    std::u16string CEP;
    std::u16string Municipio;
    std::u16string UF;
    std::u16string EnderecoComercial;
    std::u16string BairroComercial;
    std::u16string CEPComercial;
    std::u16string MunicipioComercial;
    std::u16string UFComercial;
    std::u16string NomeBancoContaSalario;
    std::u16string NumeroBancoContaSalario;
    std::u16string AgenciaContaSalario;
    std::u16string ContaCorrenteContaSalario;
    std::u16string Formacao;
    std::u16string DigitoAgencia;
    std::u16string DigitoConta;
};

struct TDMargem {
    std::u16string TipoRegistro;
    std::u16string NomeServidor;
    std::u16string CPF;
    std::u16string Matricula;
    std::u16string CDCargo;
    std::u16string NomeCargo;
    std::u16string CDOrgao;
    std::u16string NomeOrgao;
    std::u16string BancoServidor;
    std::u16string AgenciaServidor;
    std::u16string AgenciaDigitoServidor;
    std::u16string ContaServidor;
    std::u16string ContaDigitoServidor;
    double ValorMargem = 0;
    TDateTime DtInicioFuncao = 0;
    TDateTime DtFimFuncao = 0;
    std::u16string Comissionado;
    std::u16string Temporario;
    std::u16string Aposentado;
    std::u16string Pensionista;
    std::u16string Suspenso;
    std::u16string Estatutario;
    std::u16string EmpregadoPublico;
    double SalarioBruto = 0;
    double SalarioLiquido = 0;
    double Descontos = 0;
    double SalarioBase = 0;
    double HoraExtra = 0;
    double AdicionalInsalubridade = 0;
    double AdicionalNoturno = 0;
    double AdicionalPericulosidade = 0;
    double BonificacaoResultado = 0;
    double AdicionalTempoServico = 0;
    double AjudaAlimenticia = 0;
    double OutrosBonificacoes = 0;
    double Irrf = 0;
    double Previdencia = 0;
    double DescontoFaltaAusencia = 0;
    double PensaoAlimenticia = 0;
    double Reposicao = 0;
    double DescontoAssociacao = 0;
    double DescontoSindical = 0;
};

struct TDTransferidos {
    std::u16string TipoRegistro;
    std::u16string NomeServidor;
    std::u16string CPF;
    std::u16string CodigoMatriculaBeneficiarioOrigem;
    std::u16string CodigoOrgaoOrigem;
    std::u16string CodigoMatriculaBeneficiarioDestino;
    std::u16string CodigoOrgaoDestino;
};

struct TPessoas {
    std::u16string HTipoRegistro;
    std::u16string HConsignante;
    std::u16string HLayout;
    TDateTime HFolha = 0;
    TDateTime HDataGeracao = 0;
    std::vector<TDPessoas> DPessoas;
    std::u16string TTipoRegistro;
    int32_t TQuantidade = 0;
};

struct TMargem {
    std::u16string HTipoRegistro;
    std::u16string HConsignante;
    std::u16string HLayout;
    TDateTime HFolha = 0;
    TDateTime HDataGeracao = 0;
    std::vector<TDMargem> DMargem;
    std::u16string TTipoRegistro;
    int32_t TQuantidadeRegistro = 0;
    // Left 0 by generation: the margin file sums the records itself.
    double TSomaRegistrosValorMargem = 0;
};

struct TTransferidos {
    std::u16string HTipoRegistro;
    std::u16string HConsignante;
    std::u16string HLayout;
    TDateTime HFolha = 0;
    TDateTime HDataGeracao = 0;
    std::vector<TDTransferidos> DTransferidos;
    std::u16string TTipoRegistro;
    int32_t TQuantidadeRegistros = 0;
};

struct TKAVLO {
    TPessoas Pessoas;
    TMargem Margem;
    TTransferidos Transferidos;
};

// Where generation puts the three files as it reads them, one after the other: each file's header
// (its H fields, no records), its records one by one, then its trailer (its T fields). A payroll
// of a million servants does not fit a 32-bit host as a TKAVLO: the export writes each record as
// it comes; a TKAVLO is the destination that keeps them all.
class DestinoKAVLO {
  public:
    virtual ~DestinoKAVLO() = default;
    virtual void InicioPessoas(const TPessoas& cabecalho) = 0;
    virtual void Pessoa(const TDPessoas& registro) = 0;
    virtual void FimPessoas(const TPessoas& rodape) = 0;
    virtual void InicioMargem(const TMargem& cabecalho) = 0;
    virtual void Margem(const TDMargem& registro) = 0;
    virtual void FimMargem(const TMargem& rodape) = 0;
    virtual void InicioTransferidos(const TTransferidos& cabecalho) = 0;
    virtual void Transferido(const TDTransferidos& registro) = 0;
    virtual void FimTransferidos(const TTransferidos& rodape) = 0;
};

// Keeps everything it is given, as one TKAVLO.
class ModeloKAVLO : public DestinoKAVLO {
  public:
    TKAVLO kavlo;

    // A header's records, if it carries any, are not taken: the records come one by one.
    void InicioPessoas(const TPessoas& cabecalho) override {
        kavlo.Pessoas = cabecalho;
        kavlo.Pessoas.DPessoas.clear();
    }
    void Pessoa(const TDPessoas& registro) override { kavlo.Pessoas.DPessoas.push_back(registro); }
    void FimPessoas(const TPessoas& rodape) override {
        kavlo.Pessoas.TTipoRegistro = rodape.TTipoRegistro;
        kavlo.Pessoas.TQuantidade = rodape.TQuantidade;
    }
    void InicioMargem(const TMargem& cabecalho) override {
        kavlo.Margem = cabecalho;
        kavlo.Margem.DMargem.clear();
    }
    void Margem(const TDMargem& registro) override { kavlo.Margem.DMargem.push_back(registro); }
    void FimMargem(const TMargem& rodape) override {
        kavlo.Margem.TTipoRegistro = rodape.TTipoRegistro;
        kavlo.Margem.TQuantidadeRegistro = rodape.TQuantidadeRegistro;
        kavlo.Margem.TSomaRegistrosValorMargem = rodape.TSomaRegistrosValorMargem;
    }
    void InicioTransferidos(const TTransferidos& cabecalho) override {
        kavlo.Transferidos = cabecalho;
        kavlo.Transferidos.DTransferidos.clear();
    }
    void Transferido(const TDTransferidos& registro) override {
        kavlo.Transferidos.DTransferidos.push_back(registro);
    }
    void FimTransferidos(const TTransferidos& rodape) override {
        kavlo.Transferidos.TTipoRegistro = rodape.TTipoRegistro;
        kavlo.Transferidos.TQuantidadeRegistros = rodape.TQuantidadeRegistros;
    }
};

// Hands a whole TKAVLO to a destination, in the order generation would.
inline void Entregar(const TKAVLO& kavlo, DestinoKAVLO& destino) {
    destino.InicioPessoas(kavlo.Pessoas);
    for (const TDPessoas& d : kavlo.Pessoas.DPessoas) destino.Pessoa(d);
    destino.FimPessoas(kavlo.Pessoas);
    destino.InicioMargem(kavlo.Margem);
    for (const TDMargem& d : kavlo.Margem.DMargem) destino.Margem(d);
    destino.FimMargem(kavlo.Margem);
    destino.InicioTransferidos(kavlo.Transferidos);
    for (const TDTransferidos& d : kavlo.Transferidos.DTransferidos) destino.Transferido(d);
    destino.FimTransferidos(kavlo.Transferidos);
}

}  // namespace kavlo
