#include "generation/GeracaoKavlo.h"

#include <optional>
#include <string>

#include "dao/DaoKavlo.h"
#include "dao/DataInicioFuncao.h"
#include "dao/LiteraisDoFiltro.h"
#include "entry/ProcessoKavlo.h"
#include "generation/TabelasKavlo.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Observacao.h"
#include "util/Utils.h"

namespace kavlo {
namespace {

// Says which servant a conversion failure belongs to, and in which file it was headed.
class Contexto {
  public:
    Contexto(const char* arquivo, const fb::Cursor& cursor, std::optional<unsigned> matricula,
             std::optional<unsigned> nome)
        : arquivo_(arquivo), cursor_(cursor), matricula_(matricula), nome_(nome) {}

    [[noreturn]] void Falhar(std::string_view coluna, std::u16string_view texto,
                             std::string_view problema) const {
        std::string m = std::string(arquivo_) + ": servidor " + Ler(matricula_) + " (" +
                        Ler(nome_) + "): " + std::string(coluna) + " '" + ParaMensagem(texto) +
                        "' " + std::string(problema);
        throw ErroConversao(m);
    }

    // A payroll code read as a decimal integer.
    int32_t Inteiro(std::string_view coluna, std::u16string_view texto) const {
        try {
            return StrToInt(texto);
        } catch (const ErroConversao&) {
            Falhar(coluna, texto, "não é um número inteiro");
        }
    }

  private:
    std::string Ler(std::optional<unsigned> coluna) const {
        return coluna ? ParaMensagem(cursor_.Texto(*coluna)) : std::string("?");
    }
    const char* arquivo_;
    const fb::Cursor& cursor_;
    std::optional<unsigned> matricula_;
    std::optional<unsigned> nome_;
};

// The employer's name from the first row; a table without rows names nobody.
std::u16string Consignante(fb::Cursor& cursor) {
    return cursor.Proximo() ? cursor.Texto("DESCRICAO") : std::u16string();
}

template <class Arquivo>
void Cabecalho(Arquivo& arquivo, fb::Cursor& cliente, std::u16string_view layout, TDateTime folha) {
    arquivo.HTipoRegistro = u"H";
    arquivo.HConsignante = Consignante(cliente);
    arquivo.HLayout = layout;
    arquivo.HFolha = folha;
    arquivo.HDataGeracao = Agora();
}

// Column positions of a result, looked up once at the first row: a missing column fails there,
// as it would when read, and an empty result asks nothing.
struct ColunasPessoas {
    explicit ColunasPessoas(const fb::Cursor& c)
        : CPF(c.Indice("CPF")),
          IDENTIDADE(c.Indice("IDENTIDADE")),
          TITELEITOR(c.Indice("TITELEITOR")),
          ZONA(c.Indice("ZONA")),
          SECAO(c.Indice("SECAO")),
          NOME(c.Indice("NOME")),
          ESTCIVIL(c.Indice("ESTCIVIL")),
          SEXO(c.Indice("SEXO")),
          DTNASC(c.Indice("DTNASC")),
          NOMEPAI(c.Indice("NOMEPAI")),
          NOMEMAE(c.Indice("NOMEMAE")),
          NUMDEPIR(c.Indice("NUMDEPIR")),
          EMAIL(c.Indice("EMAIL")),
          FONE(c.Indice("FONE")),
          FONE2(c.Indice("FONE2")),
          FONECEL(c.Indice("FONECEL")),
          ENDERECO(c.Indice("ENDERECO")),
          BAIRRO(c.Indice("BAIRRO")),
          CEP(c.Indice("CEP")),
          CIDADE(c.Indice("CIDADE")),
          UF(c.Indice("UF")),
          NOMEBANCO(c.Indice("NOMEBANCO")),
          BANCO(c.Indice("BANCO")),
          AGENCIA(c.Indice("AGENCIA")),
          DVAGENCIA(c.Indice("DVAGENCIA")),
          CONTA(c.Indice("CONTA")),
          DVCONTA(c.Indice("DVCONTA")),
          GRINSTR(c.Indice("GRINSTR")),
          MATRICULA(c.IndiceSeHouver("MATRICULA")) {}
    unsigned CPF, IDENTIDADE, TITELEITOR, ZONA, SECAO, NOME, ESTCIVIL, SEXO, DTNASC, NOMEPAI,
        NOMEMAE, NUMDEPIR, EMAIL, FONE, FONE2, FONECEL, ENDERECO, BAIRRO, CEP, CIDADE, UF,
        NOMEBANCO, BANCO, AGENCIA, DVAGENCIA, CONTA, DVCONTA, GRINSTR;
    std::optional<unsigned> MATRICULA;  // only to name the servant in errors
};

TDPessoas LerPessoa(const fb::Cursor& c, const ColunasPessoas& k) {
    const Contexto contexto("Pessoas.csv", c, k.MATRICULA, k.NOME);
    TDPessoas d;
    d.TipoRegistro = u"D";
    d.CPF = c.Texto(k.CPF);
    d.RG = c.Texto(k.IDENTIDADE);
    d.TituloEleitor = c.Texto(k.TITELEITOR);
    d.ZonaEleitoral = c.Texto(k.ZONA);
    d.SecaoEleitoral = c.Texto(k.SECAO);
    d.NomeCompleto = c.Texto(k.NOME);
    d.EstadoCivil = Traduzir(EstadosCivis, contexto.Inteiro("ESTCIVIL", c.Texto(k.ESTCIVIL)));
    d.Sexo = Traduzir(Sexos, contexto.Inteiro("SEXO", c.Texto(k.SEXO)));
    if (!c.Nulo(k.DTNASC)) d.DataNascimento = c.Data(k.DTNASC);
    d.NomePai = c.Texto(k.NOMEPAI);
    d.NomeMae = c.Texto(k.NOMEMAE);
    d.QuantidadeDependentes = c.Inteiro(k.NUMDEPIR);
    d.Email = c.Texto(k.EMAIL);
    d.TelefoneResidencial = c.Texto(k.FONE);
    d.TelefoneComercial = c.Texto(k.FONE2);
    d.TelefoneCelular = c.Texto(k.FONECEL);
    d.EnderecoResidencial = c.Texto(k.ENDERECO);
    d.Bairro = c.Texto(k.BAIRRO);
    d.CEP = c.Texto(k.CEP);
    d.Municipio = c.Texto(k.CIDADE);
    d.UF = c.Texto(k.UF);
    // The work address is not kept by the payroll: its five fields stay empty.
    d.NomeBancoContaSalario = c.Texto(k.NOMEBANCO);
    d.NumeroBancoContaSalario = c.Texto(k.BANCO);
    d.AgenciaContaSalario = c.Texto(k.AGENCIA);
    d.DigitoAgencia = c.Texto(k.DVAGENCIA);
    d.ContaCorrenteContaSalario = c.Texto(k.CONTA);
    d.DigitoConta = c.Texto(k.DVCONTA);
    const std::u16string grau = c.Texto(k.GRINSTR);
    if (!PassaAB(grau)) d.Formacao = Traduzir(GrausInstrucao, contexto.Inteiro("GRINSTR", grau));
    return d;
}

struct ColunasMargem {
    explicit ColunasMargem(const fb::Cursor& c)
        : NOME(c.Indice("NOME")),
          CPF(c.Indice("CPF")),
          MATRICULA(c.Indice("MATRICULA")),
          FUNCAO(c.Indice("FUNCAO")),
          CARGO(c.Indice("CARGO")),
          CDSECRETA(c.Indice("CDSECRETA")),
          CDSETOR(c.Indice("CDSETOR")),
          ORGAO(c.Indice("ORGAO")),
          BANCO(c.Indice("BANCO")),
          AGENCIA(c.Indice("AGENCIA")),
          DVAGENCIA(c.Indice("DVAGENCIA")),
          CONTA(c.Indice("CONTA")),
          DVCONTA(c.Indice("DVCONTA")),
          MCVALOR(c.Indice("MCVALOR")),
          MCBASEINCIDE(c.Indice("MCBASEINCIDE")),
          DTADMISSAO(c.Indice("DTADMISSAO")),
          CONFIG_KAVLO(c.Indice("CONFIG_KAVLO")),
          REMUNTOT(c.Indice("REMUNTOT")),
          LIQUIDO(c.Indice("LIQUIDO")),
          TOTDESC(c.Indice("TOTDESC")),
          SALARIO(c.Indice("SALARIO")),
          VALEXTRAS(c.Indice("VALEXTRAS")),
          VALEXTRA1(c.Indice("VALEXTRA1")),
          VALADNOT(c.Indice("VALADNOT")),
          IRRF(c.Indice("IRRF")),
          INSS(c.Indice("INSS")),
          VALFALTAS(c.Indice("VALFALTAS")),
          VALCS(c.Indice("VALCS")) {}
    unsigned NOME, CPF, MATRICULA, FUNCAO, CARGO, CDSECRETA, CDSETOR, ORGAO, BANCO, AGENCIA,
        DVAGENCIA, CONTA, DVCONTA, MCVALOR, MCBASEINCIDE, DTADMISSAO, CONFIG_KAVLO, REMUNTOT,
        LIQUIDO, TOTDESC, SALARIO, VALEXTRAS, VALEXTRA1, VALADNOT, IRRF, INSS, VALFALTAS, VALCS;
};

TDMargem LerMargem(const fb::Cursor& c, const ColunasMargem& k, const TDatasInicioFuncao& datas) {
    TDMargem d;
    d.TipoRegistro = u"D";
    d.NomeServidor = c.Texto(k.NOME);
    d.CPF = c.Texto(k.CPF);
    const std::u16string matricula = c.Texto(k.MATRICULA);
    d.Matricula = RemoveCaracteres(matricula, u"-");
    d.CDCargo = c.Texto(k.FUNCAO);
    d.NomeCargo = c.Texto(k.CARGO);
    d.CDOrgao = c.Texto(k.CDSECRETA) + c.Texto(k.CDSETOR);
    d.NomeOrgao = c.Texto(k.ORGAO);
    d.BancoServidor = c.Texto(k.BANCO);
    d.AgenciaServidor = c.Texto(k.AGENCIA);
    d.AgenciaDigitoServidor = c.Texto(k.DVAGENCIA);
    d.ContaServidor = c.Texto(k.CONTA);
    d.ContaDigitoServidor = c.Texto(k.DVCONTA);
    const double mcValor = c.Real(k.MCVALOR);
    // The consignable margin: nothing when the payroll's margin is negative, else 30% of its base.
    d.ValorMargem = mcValor < 0 ? 0 : c.Real(k.MCBASEINCIDE) * 30 / 100;
    d.DtInicioFuncao = c.Data(k.DTADMISSAO);
    // The registration as the payroll writes it, hyphen included.
    d.DtFimFuncao = datas.DataInicioFuncao(matricula);
    const std::u16string vinculo = c.Texto(k.CONFIG_KAVLO);
    d.Comissionado = FlagVinculo(u"Comissionado", vinculo);
    d.Temporario = FlagVinculo(u"Temporario", vinculo);
    d.Aposentado = FlagVinculo(u"Aposentado", vinculo);
    d.Pensionista = FlagVinculo(u"Pensionista", vinculo);
    d.Suspenso = FlagVinculo(u"Suspenso", vinculo);
    d.Estatutario = FlagVinculo(u"Estatutario", vinculo);
    d.EmpregadoPublico = FlagVinculo(u"EmpregadoPublico", vinculo);
    d.SalarioBruto = c.Real(k.REMUNTOT);
    d.SalarioLiquido = c.Real(k.LIQUIDO);
    d.Descontos = c.Real(k.TOTDESC);
    d.SalarioBase = c.Real(k.SALARIO);
    d.HoraExtra = c.Real(k.VALEXTRAS) + c.Real(k.VALEXTRA1);
    d.AdicionalNoturno = c.Real(k.VALADNOT);
    d.Irrf = c.Real(k.IRRF);
    d.Previdencia = c.Real(k.INSS);
    d.DescontoFaltaAusencia = c.Real(k.VALFALTAS);
    d.DescontoSindical = c.Real(k.VALCS);
    // The other pay items are not kept by the payroll and stay 0.
    return d;
}

struct ColunasTransferidos {
    explicit ColunasTransferidos(const fb::Cursor& c)
        : NOME(c.Indice("NOME")),
          CPF(c.Indice("CPF")),
          MATRICULA(c.Indice("MATRICULA")),
          CODORIG(c.Indice("CODORIG")),
          CODDEST(c.Indice("CODDEST")) {}
    unsigned NOME, CPF, MATRICULA, CODORIG, CODDEST;
};

TDTransferidos LerTransferido(const fb::Cursor& c, const ColunasTransferidos& k) {
    TDTransferidos d;
    d.TipoRegistro = u"D";
    d.NomeServidor = c.Texto(k.NOME);
    d.CPF = c.Texto(k.CPF);
    const std::u16string matricula = RemoveCaracteres(c.Texto(k.MATRICULA), u"-");
    // CODORIG is this month's unit, where the servant went; CODDEST last month's, where it
    // came from.
    d.CodigoMatriculaBeneficiarioDestino = matricula;
    d.CodigoOrgaoDestino = c.Texto(k.CODORIG);
    d.CodigoMatriculaBeneficiarioOrigem = matricula;
    d.CodigoOrgaoOrigem = c.Texto(k.CODDEST);
    return d;
}

}  // namespace

TGeracaoKAVLO::TGeracaoKAVLO()
    : goRNPessoas(std::make_unique<TRNPessoas>()),
      goRNMargem(std::make_unique<TRNMargem>()),
      goRNTransferidos(std::make_unique<TRNTransferidos>()) {}

TGeracaoKAVLO::~TGeracaoKAVLO() {
    goRNPessoas.reset();
    goRNMargem.reset();
    goRNTransferidos.reset();
}

namespace {

// Walks a result set, handing on one record per row of the host's servants. Columns are looked
// up once, on the first row: a missing column is an error only when there is a row to read it
// from.
template <class Colunas, class Entregar>
int32_t LerRegistros(fb::Cursor& cursor, const ConsultaDoMes& mes, Observacao& observacao,
                     Entregar entregar) {
    std::optional<Colunas> colunas;
    std::optional<unsigned> matricula;
    int32_t entregues = 0;
    while (cursor.Proximo()) {
        if (!colunas) {
            colunas.emplace(cursor);
            if (mes.servidores) matricula = cursor.Indice("MATRICULA");
        }
        if (matricula && !Selecionado(mes, cursor, *matricula)) continue;
        entregar(cursor, *colunas);
        ++entregues;
        observacao.Avancar();
    }
    return entregues;
}

}  // namespace

void TGeracaoKAVLO::Gerar(DestinoKAVLO& destino) {
    TProcessoKAVLO& processo = TProcessoKAVLO::getInstance();
    // A month that names no tables or no date fails here, before any query runs.
    ConsultaDoMes mes{SufixoMes(processo.MesAtual), SufixoMes(processo.MesAnt), processo.SqlFiltro};
    const TDateTime folha = LerData(u"01/" + processo.MesAtual + u"/" + processo.Ano);

    Observacao& observacao = Observacao::Atual();
    fb::Transacao transacao(processo.Conexao(), fb::ModoTransacao::Leitura);
    // A month whose tables are missing fails in the first query that names them.
    try {
        observacao.Etapa("Lendo o filtro de servidores");
        mes.filtro = LiteraisNoConjuntoComparado(transacao, mes.filtro);
        const std::optional<ConjuntoDeChaves> servidores = LerFiltro(transacao, mes);
        if (servidores) mes.servidores = &*servidores;
        // The results live in the DAOs; they must be gone before the snapshot ends.
        struct Fechar {
            TGeracaoKAVLO& g;
            ~Fechar() {
                g.goRNPessoas->Fechar();
                g.goRNMargem->Fechar();
                g.goRNTransferidos->Fechar();
            }
        } fechar{*this};

        {
            TPessoas pessoas;
            Cabecalho(pessoas, goRNPessoas->listarCliente(transacao), u"PESSOAS", folha);
            destino.InicioPessoas(pessoas);
            observacao.Etapa("Gerando Pessoas.csv");
            pessoas.TTipoRegistro = u"T";
            pessoas.TQuantidade = LerRegistros<ColunasPessoas>(
                goRNPessoas->listarPessoas(transacao, mes), mes, observacao,
                [&](fb::Cursor& c, const ColunasPessoas& col) {
                    destino.Pessoa(LerPessoa(c, col));
                });
            destino.FimPessoas(pessoas);
        }
        {
            TMargem margem;
            Cabecalho(margem, goRNMargem->listarCliente(transacao), u"MARGEM", folha);
            destino.InicioMargem(margem);
            observacao.Etapa("Gerando Margem.txt");
            // The month's function dates are read only when there is a margin row to ask for them.
            std::optional<TDatasInicioFuncao> datas;
            margem.TTipoRegistro = u"T";
            margem.TQuantidadeRegistro = LerRegistros<ColunasMargem>(
                goRNMargem->listarMargem(transacao, mes), mes, observacao,
                [&](fb::Cursor& c, const ColunasMargem& col) {
                    if (!datas) datas.emplace(transacao, processo.Ano, processo.MesAtual);
                    destino.Margem(LerMargem(c, col, *datas));
                });
            destino.FimMargem(margem);
        }
        {
            TTransferidos transferidos;
            Cabecalho(transferidos, goRNTransferidos->listarCliente(transacao), u"TRANSFERIDOS",
                      folha);
            destino.InicioTransferidos(transferidos);
            observacao.Etapa("Gerando Transferidos.txt");
            transferidos.TTipoRegistro = u"T";
            transferidos.TQuantidadeRegistros = LerRegistros<ColunasTransferidos>(
                goRNTransferidos->listarTransferidos(transacao, mes), mes, observacao,
                [&](fb::Cursor& c, const ColunasTransferidos& col) {
                    destino.Transferido(LerTransferido(c, col));
                });
            destino.FimTransferidos(transferidos);
        }
    } catch (const ErroBanco& e) {
        throw ComMesParaConferir(e, processo.MesAtual + u"; mês anterior " + processo.MesAnt);
    }
    observacao.FimEtapa();
}

std::unique_ptr<TKAVLO> TGeracaoKAVLO::Gerar() {
    ModeloKAVLO modelo;
    Gerar(modelo);
    return std::make_unique<TKAVLO>(std::move(modelo.kavlo));
}

}  // namespace kavlo
