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
    Contexto(const char* arquivo, const fb::Cursor& cursor, std::u16string_view nome)
        : arquivo_(arquivo), cursor_(cursor), nome_(nome) {}

    [[noreturn]] void Falhar(std::string_view coluna, std::u16string_view texto,
                             std::string_view problema) const {
        // The registration only names the servant: a result without it says "?".
        const std::optional<unsigned> matricula = cursor_.IndiceSeHouver("MATRICULA");
        std::string m = std::string(arquivo_) + ": servidor " +
                        (matricula ? ParaMensagem(cursor_.Texto(*matricula)) : std::string("?")) +
                        " (" + ParaMensagem(nome_) + "): " + std::string(coluna) + " '" +
                        ParaMensagem(texto) + "' " + std::string(problema);
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
    const char* arquivo_;
    const fb::Cursor& cursor_;
    std::u16string_view nome_;
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

TDPessoas LerPessoa(const fb::Cursor& c) {
    LinhaPessoa p = c.Linha<LinhaPessoa>();
    const Contexto contexto("Pessoas.csv", c, p.NOME);
    TDPessoas d;
    d.TipoRegistro = u"D";
    d.CPF = std::move(p.CPF);
    d.RG = std::move(p.IDENTIDADE);
    d.TituloEleitor = std::move(p.TITELEITOR);
    d.ZonaEleitoral = std::move(p.ZONA);
    d.SecaoEleitoral = std::move(p.SECAO);
    d.EstadoCivil = Traduzir(EstadosCivis, contexto.Inteiro("ESTCIVIL", p.ESTCIVIL));
    d.Sexo = Traduzir(Sexos, contexto.Inteiro("SEXO", p.SEXO));
    if (p.DTNASC) d.DataNascimento = p.DTNASC->valor;
    d.NomePai = std::move(p.NOMEPAI);
    d.NomeMae = std::move(p.NOMEMAE);
    d.QuantidadeDependentes = p.NUMDEPIR;
    d.Email = std::move(p.EMAIL);
    d.TelefoneResidencial = std::move(p.FONE);
    d.TelefoneComercial = std::move(p.FONE2);
    d.TelefoneCelular = std::move(p.FONECEL);
    d.EnderecoResidencial = std::move(p.ENDERECO);
    d.Bairro = std::move(p.BAIRRO);
    d.CEP = std::move(p.CEP);
    d.Municipio = std::move(p.CIDADE);
    d.UF = std::move(p.UF);
    // The work address is not kept by the payroll: its five fields stay empty.
    d.NomeBancoContaSalario = std::move(p.NOMEBANCO);
    d.NumeroBancoContaSalario = std::move(p.BANCO);
    d.AgenciaContaSalario = std::move(p.AGENCIA);
    d.DigitoAgencia = std::move(p.DVAGENCIA);
    d.ContaCorrenteContaSalario = std::move(p.CONTA);
    d.DigitoConta = std::move(p.DVCONTA);
    if (!PassaAB(p.GRINSTR))
        d.Formacao = Traduzir(GrausInstrucao, contexto.Inteiro("GRINSTR", p.GRINSTR));
    d.NomeCompleto = std::move(p.NOME);
    return d;
}

TDMargem LerMargem(const fb::Cursor& c, const TDatasInicioFuncao& datas) {
    LinhaMargem m = c.Linha<LinhaMargem>();
    TDMargem d;
    d.TipoRegistro = u"D";
    d.NomeServidor = std::move(m.NOME);
    d.CPF = std::move(m.CPF);
    d.Matricula = RemoveCaracteres(m.MATRICULA, u"-");
    d.CDCargo = std::move(m.FUNCAO);
    d.NomeCargo = std::move(m.CARGO);
    d.CDOrgao = m.CDSECRETA + m.CDSETOR;
    d.NomeOrgao = std::move(m.ORGAO);
    d.BancoServidor = std::move(m.BANCO);
    d.AgenciaServidor = std::move(m.AGENCIA);
    d.AgenciaDigitoServidor = std::move(m.DVAGENCIA);
    d.ContaServidor = std::move(m.CONTA);
    d.ContaDigitoServidor = std::move(m.DVCONTA);
    // The consignable margin: nothing when the payroll's margin is negative, else 30% of its base.
    d.ValorMargem = m.MCVALOR < 0 ? 0 : m.MCBASEINCIDE * 30 / 100;
    d.DtInicioFuncao = m.DTADMISSAO.valor;
    // The registration as the payroll writes it, hyphen included.
    d.DtFimFuncao = datas.DataInicioFuncao(m.MATRICULA);
    d.Comissionado = FlagVinculo(u"Comissionado", m.CONFIG_KAVLO);
    d.Temporario = FlagVinculo(u"Temporario", m.CONFIG_KAVLO);
    d.Aposentado = FlagVinculo(u"Aposentado", m.CONFIG_KAVLO);
    d.Pensionista = FlagVinculo(u"Pensionista", m.CONFIG_KAVLO);
    d.Suspenso = FlagVinculo(u"Suspenso", m.CONFIG_KAVLO);
    d.Estatutario = FlagVinculo(u"Estatutario", m.CONFIG_KAVLO);
    d.EmpregadoPublico = FlagVinculo(u"EmpregadoPublico", m.CONFIG_KAVLO);
    d.SalarioBruto = m.REMUNTOT;
    d.SalarioLiquido = m.LIQUIDO;
    d.Descontos = m.TOTDESC;
    d.SalarioBase = m.SALARIO;
    d.HoraExtra = m.VALEXTRAS + m.VALEXTRA1;
    d.AdicionalNoturno = m.VALADNOT;
    d.Irrf = m.IRRF;
    d.Previdencia = m.INSS;
    d.DescontoFaltaAusencia = m.VALFALTAS;
    d.DescontoSindical = m.VALCS;
    // The other pay items are not kept by the payroll and stay 0.
    return d;
}

TDTransferidos LerTransferido(const fb::Cursor& c) {
    LinhaTransferido t = c.Linha<LinhaTransferido>();
    TDTransferidos d;
    d.TipoRegistro = u"D";
    d.NomeServidor = std::move(t.NOME);
    d.CPF = std::move(t.CPF);
    const std::u16string matricula = RemoveCaracteres(t.MATRICULA, u"-");
    d.CodigoMatriculaBeneficiarioDestino = matricula;
    d.CodigoOrgaoDestino = std::move(t.CODORIG);
    d.CodigoMatriculaBeneficiarioOrigem = matricula;
    d.CodigoOrgaoOrigem = std::move(t.CODDEST);
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

// Walks a result set, handing on one record per row of the host's servants. The row's columns are
// looked up once, on the first row: a missing column is an error only when there is a row to read
// it from.
template <class Linha, class Entregar>
int32_t LerRegistros(fb::Cursor& cursor, const ConsultaDoMes& mes, Observacao& observacao,
                     Entregar entregar) {
    bool primeira = true;
    std::optional<unsigned> matricula;
    int32_t entregues = 0;
    while (cursor.Proximo()) {
        if (primeira) {
            cursor.PrepararLinha<Linha>();
            if (mes.servidores) matricula = cursor.Indice("MATRICULA");
            primeira = false;
        }
        if (matricula && !Selecionado(mes, cursor, *matricula)) continue;
        entregar(cursor);
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
            pessoas.TQuantidade = LerRegistros<LinhaPessoa>(
                goRNPessoas->listarPessoas(transacao, mes), mes, observacao,
                [&](fb::Cursor& c) { destino.Pessoa(LerPessoa(c)); });
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
            margem.TQuantidadeRegistro = LerRegistros<LinhaMargem>(
                goRNMargem->listarMargem(transacao, mes), mes, observacao, [&](fb::Cursor& c) {
                    if (!datas) datas.emplace(transacao, processo.Ano, processo.MesAtual);
                    destino.Margem(LerMargem(c, *datas));
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
            transferidos.TQuantidadeRegistros = LerRegistros<LinhaTransferido>(
                goRNTransferidos->listarTransferidos(transacao, mes), mes, observacao,
                [&](fb::Cursor& c) { destino.Transferido(LerTransferido(c)); });
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
