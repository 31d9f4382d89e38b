#include "dao/DaoKavlo.h"

#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Utils.h"

namespace kavlo {

std::u16string SufixoMes(std::u16string_view mes) {
    const int32_t numero = StrToInt(mes);
    std::u16string sufixo = MesAbreviado(numero);
    if (sufixo.empty())
        throw ErroConversao("Mês '" + ParaMensagem(mes) +
                            "' inválido: informe o número do mês, de 1 a 12");
    return sufixo;
}

ErroBanco ComMesParaConferir(const ErroBanco& erro, std::u16string_view mes) {
    if (!fb::TabelaInexistente(erro)) return erro;
    return erro.Com(std::string(erro.what()) + ". Confira o mês informado (" + ParaMensagem(mes) +
                    "): as tabelas de cada mês levam a abreviação dele no nome, e a folha desse "
                    "mês pode ainda não existir neste banco");
}

std::u16string SqlCliente() {
    return u"select DESCRICAO from SFP003";
}

namespace {

// The statements as the payroll database expects them; {mes} is the month's table suffix,
// {anterior} the previous month's, {filtro} the host's sub-select.
constexpr std::u16string_view kPessoas =
    u"select p.*, b.nomebanco from SFP001{mes} p, SFPDXX02{mes} f, sfpd9911 b where "
    u"p.matricula = f.matricula and f.ativo = 'T' and p.banco = b.numbanco and p.matricula in "
    u"(select matricula from ({filtro}))";

constexpr std::u16string_view kMargem =
    u" select      f.*,      p.nome,      p.cpf,      p.sistema ,      p.funcao,      "
    u"p.banco,      p.agencia,      p.dvagencia,      p.conta,      p.dvconta,      "
    u"p.dtadmissao,      p.cdsecreta,      p.cdsetor,      f.matricula as fmatricula,      "
    u"c.cargo,      l.codorgao,      l.descricao as orgao,      v.id_vinculo,      "
    u"v.config_kavlo  from      sfp001{mes} p,      sfpdxx02{mes} f,      sfp005{mes} c,      "
    u"sfp006{mes} l,      cfg_vinc{mes} v  where      p.matricula = f.matricula and      "
    u"p.funcao = c.codigo and      p.cdsecreta||p.cdsetor = l.cdsecreta||l.cdsetor and      "
    u"p.sistema = v.id_vinculo and      f.ativo = 'T' and      f.matricula in (select "
    u"matricula from ({filtro}))";

constexpr std::u16string_view kTransferidos =
    u"select pAtu.nome, pAtu.cpf, pAtu.matricula, pAtu.cdsecreta||pAtu.cdsetor as CodOrig, "
    u"pAnt.cdsecreta||pAnt.cdsetor as CodDest from sfp001{mes} pAtu, sfp001{anterior} pAnt, "
    u"sfpdxx02{mes} f where pAtu.matricula = f.matricula and  f.ativo = 'T' and pAtu.matricula "
    u"= pAnt.matricula and pAtu.cdsecreta||pAtu.cdsetor <> pAnt.cdsecreta||pAnt.cdsetor and "
    u"pAtu.matricula in (select matricula from ({filtro}))";

}  // namespace

std::u16string SqlPessoas(std::u16string_view sufixo, std::u16string_view filtro) {
    return Preencher(kPessoas, {{u"mes", sufixo}, {u"filtro", filtro}});
}

std::u16string SqlMargem(std::u16string_view sufixo, std::u16string_view filtro) {
    return Preencher(kMargem, {{u"mes", sufixo}, {u"filtro", filtro}});
}

std::u16string SqlTransferidos(std::u16string_view sufixo, std::u16string_view sufixoAnt,
                               std::u16string_view filtro) {
    return Preencher(kTransferidos,
                     {{u"mes", sufixo}, {u"anterior", sufixoAnt}, {u"filtro", filtro}});
}

void ConferirFiltro(fb::Transacao& transacao, std::u16string_view filtro) {
    try {
        fb::Comando(transacao, u"select matricula from (" + std::u16string(filtro) + u")",
                    "conferir o filtro de servidores");
    } catch (const ErroBanco& e) {
        throw e.Com(
            "O filtro de servidores precisa ser um select que devolva a coluna MATRICULA dos "
            "servidores a incluir (por exemplo: select matricula from SFP001FEV where ...). Sem "
            "essa coluna ele incluiria todos os servidores, e por isso nada foi gerado. " +
            std::string(e.what()));
    }
}

fb::Cursor& TConsulta::Abrir(fb::Transacao& transacao, const std::u16string& sql,
                             std::string oQue) {
    Fechar();
    FComando = std::make_unique<fb::Comando>(transacao, sql, std::move(oQue));
    FCursor.emplace(FComando->Abrir());
    return *FCursor;
}

void TConsulta::Fechar() {
    FCursor.reset();
    FComando.reset();
}

namespace {

fb::Cursor& AbrirCliente(TConsulta& consulta, fb::Transacao& transacao) {
    return consulta.Abrir(transacao, SqlCliente(), "ler o nome do consignante (SFP003)");
}

}  // namespace

fb::Cursor& TDAOPessoas::listPessoas(fb::Transacao& transacao, const ConsultaDoMes& mes) {
    return FQryPessoas.Abrir(transacao, SqlPessoas(mes.sufixo, mes.filtro),
                             "ler os servidores do mês (SFP001" + ParaUtf8(mes.sufixo) + ")");
}

fb::Cursor& TDAOPessoas::listCliente(fb::Transacao& transacao) {
    return AbrirCliente(FQryCliente, transacao);
}

fb::Cursor& TDAOMargem::listMargem(fb::Transacao& transacao, const ConsultaDoMes& mes) {
    return FQryMargem.Abrir(transacao, SqlMargem(mes.sufixo, mes.filtro),
                            "ler as margens do mês (SFPDXX02" + ParaUtf8(mes.sufixo) + ")");
}

fb::Cursor& TDAOMargem::listCliente(fb::Transacao& transacao) {
    return AbrirCliente(FQryCliente, transacao);
}

fb::Cursor& TDAOTransferidos::listTransferidos(fb::Transacao& transacao, const ConsultaDoMes& mes) {
    return FQryTransferidos.Abrir(
        transacao, SqlTransferidos(mes.sufixo, mes.sufixoAnterior, mes.filtro),
        "ler os transferidos entre SFP001" + ParaUtf8(mes.sufixoAnterior) + " e SFP001" +
            ParaUtf8(mes.sufixo));
}

fb::Cursor& TDAOTransferidos::listCliente(fb::Transacao& transacao) {
    return AbrirCliente(FQryCliente, transacao);
}

}  // namespace kavlo
