#include "dao/DaoKavlo.h"

#include <ibase.h>
#include <iberror.h>

#include "dao/Direitos.h"
#include "dao/LiteraisDoFiltro.h"
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
// {anterior} the previous month's, {filtro} the restriction to the host's servants, when the
// database applies it.
constexpr std::u16string_view kPessoas =
    u"select p.*, b.nomebanco from SFP001{mes} p, SFPDXX02{mes} f, sfpd9911 b where "
    u"p.matricula = f.matricula and f.ativo = 'T' and p.banco = b.numbanco{filtro}";
constexpr std::u16string_view kFiltroPessoas =
    u" and p.matricula in (select matricula from ({filtro}))";

constexpr std::u16string_view kMargem =
    u" select      f.*,      p.nome,      p.cpf,      p.sistema ,      p.funcao,      "
    u"p.banco,      p.agencia,      p.dvagencia,      p.conta,      p.dvconta,      "
    u"p.dtadmissao,      p.cdsecreta,      p.cdsetor,      f.matricula as fmatricula,      "
    u"c.cargo,      l.codorgao,      l.descricao as orgao,      v.id_vinculo,      "
    u"v.config_kavlo  from      sfp001{mes} p,      sfpdxx02{mes} f,      sfp005{mes} c,      "
    u"sfp006{mes} l,      cfg_vinc{mes} v  where      p.matricula = f.matricula and      "
    u"p.funcao = c.codigo and      p.cdsecreta||p.cdsetor = l.cdsecreta||l.cdsetor and      "
    u"p.sistema = v.id_vinculo and      f.ativo = 'T'{filtro}";
constexpr std::u16string_view kFiltroMargem =
    u" and      f.matricula in (select matricula from ({filtro}))";

constexpr std::u16string_view kTransferidos =
    u"select pAtu.nome, pAtu.cpf, pAtu.matricula, pAtu.cdsecreta||pAtu.cdsetor as CodOrig, "
    u"pAnt.cdsecreta||pAnt.cdsetor as CodDest from sfp001{mes} pAtu, sfp001{anterior} pAnt, "
    u"sfpdxx02{mes} f where pAtu.matricula = f.matricula and  f.ativo = 'T' and pAtu.matricula "
    u"= pAnt.matricula and pAtu.cdsecreta||pAtu.cdsetor <> pAnt.cdsecreta||pAnt.cdsetor{filtro}";
constexpr std::u16string_view kFiltroTransferidos =
    u" and pAtu.matricula in (select matricula from ({filtro}))";

std::u16string Restricao(std::u16string_view modelo, std::optional<std::u16string_view> filtro) {
    return filtro ? Preencher(modelo, {{u"filtro", *filtro}}) : std::u16string();
}

}  // namespace

std::u16string SqlPessoas(std::u16string_view sufixo, std::optional<std::u16string_view> filtro) {
    return Preencher(kPessoas, {{u"mes", sufixo}, {u"filtro", Restricao(kFiltroPessoas, filtro)}});
}

std::u16string SqlMargem(std::u16string_view sufixo, std::optional<std::u16string_view> filtro) {
    return Preencher(kMargem, {{u"mes", sufixo}, {u"filtro", Restricao(kFiltroMargem, filtro)}});
}

std::u16string SqlTransferidos(std::u16string_view sufixo, std::u16string_view sufixoAnt,
                               std::optional<std::u16string_view> filtro) {
    return Preencher(kTransferidos, {{u"mes", sufixo},
                                     {u"anterior", sufixoAnt},
                                     {u"filtro", Restricao(kFiltroTransferidos, filtro)}});
}

namespace {

// Whether texts of this character set and collation compare as their characters, exactly, once
// the trailing blanks are set aside: the set's default collation, unless the database made
// another one the default.
bool ComparaPelosCaracteres(fb::Transacao& transacao, unsigned charset, unsigned colacao) {
    return colacao == 0 && ConjuntoComOrdemPropria(transacao, charset).has_value();
}

// The same question for the MATRICULA column of a month table, as the database defined it.
bool MatriculaComparaPelosCaracteres(fb::Transacao& transacao, std::u16string_view tabela) {
    constexpr int32_t kChar = 14, kVarchar = 37;
    fb::Comando c(transacao,
                  "select f.rdb$field_type, f.rdb$character_set_id, coalesce(rf.rdb$collation_id, "
                  "f.rdb$collation_id, 0) from rdb$relation_fields rf join rdb$fields f on "
                  "f.rdb$field_name = rf.rdb$field_source where rf.rdb$relation_name = ? and "
                  "rf.rdb$field_name = 'MATRICULA'",
                  "conferir a coluna MATRICULA de " + ParaUtf8(tabela));
    fb::Cursor r = c.Abrir({std::u16string(tabela)});
    if (!r.Proximo()) return false;
    const auto [tipo, charset, colacao] = r.Valores<int32_t, int32_t, int32_t>();
    if (tipo != kChar && tipo != kVarchar) return false;
    return ComparaPelosCaracteres(transacao, static_cast<unsigned>(charset),
                                  static_cast<unsigned>(colacao));
}

// What is wrong with a filter the database would not prepare, the real cause first: a table or a
// column it names that does not exist, its syntax, and only then a select without MATRICULA.
// Told whole: no month is to be checked for a table the filter names (the codes stay out), while
// the statement and the engine's text stay for --detalhes.
ErroBanco ErroNoFiltro(const ErroBanco& e, std::u16string_view filtro,
                       std::u16string_view antesDoFiltro) {
    constexpr std::string_view kNadaGerado = "; nada foi gerado";
    // The position in the filter as the operator wrote it: its first line follows the text the
    // filter is pasted after.
    std::string onde;
    if (const auto& p = e.PosicaoNoSql()) {
        const long coluna =
            p->linha == 1 ? p->coluna - static_cast<long>(antesDoFiltro.size()) : p->coluna;
        if (coluna >= 1)
            onde = " (linha " + std::to_string(p->linha) + ", coluna " + std::to_string(coluna) +
                   " do filtro)";
    }
    const std::string nome = e.Argumentos().empty() ? std::string() : e.Argumentos().back();
    std::string nomeMaiusculo = nome;
    for (char& c : nomeMaiusculo)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    std::string m;
    if (Aparar(filtro).empty() || e.Tem(isc_dsql_ambiguous_field_name) ||
        (e.Tem(isc_dsql_field_err) && nomeMaiusculo == "MATRICULA"))
        m = "O filtro de servidores precisa ser um select que devolva a coluna MATRICULA dos "
            "servidores a incluir (por exemplo: select matricula from SFP001FEV where ...). Sem "
            "essa coluna ele incluiria todos os servidores, e por isso nada foi gerado. " +
            std::string(e.what());
    else if (e.Tem(isc_dsql_relation_err))
        m = "O filtro de servidores não pôde ser usado: a tabela " + nome +
            " citada no filtro não existe neste banco de dados; corrija o nome da tabela no "
            "filtro (as tabelas de cada mês levam a abreviação dele, como SFP001FEV)" +
            std::string(kNadaGerado);
    else if (e.Tem(isc_dsql_field_err))
        m = "O filtro de servidores não pôde ser usado: a coluna " + nome +
            " citada no filtro não existe; corrija o filtro" + std::string(kNadaGerado);
    else if (e.Tem(isc_dsql_token_unk_err))
        m = "O filtro de servidores não pôde ser usado: erro de sintaxe no filtro perto de '" +
            nome + "'" + onde + "; corrija o filtro" + std::string(kNadaGerado);
    else if (e.Tem(isc_command_end_err) || e.Tem(isc_command_end_err2))
        m = "O filtro de servidores não pôde ser usado: erro de sintaxe no filtro, que termina "
            "antes do esperado (falta um parêntese, um valor ou o fim de uma condição?); corrija "
            "o filtro" +
            std::string(kNadaGerado);
    else
        m = "O filtro de servidores não pôde ser usado (nada foi gerado): " + std::string(e.what());
    return ErroBanco(m, {}, {}, e.Sql(), e.TextoDoFirebird());
}

}  // namespace

std::optional<ConjuntoDeChaves> LerFiltro(fb::Transacao& transacao, const ConsultaDoMes& mes) {
    constexpr std::u16string_view kAntesDoFiltro = u"select matricula from (";
    std::optional<fb::Comando> comando;
    try {
        comando.emplace(transacao, std::u16string(kAntesDoFiltro) + mes.filtro + u")",
                        "ler o filtro de servidores");
    } catch (const ErroBanco& e) {
        if (SemDireito(e)) throw;  // a table the user may not read: said as such
        throw ErroNoFiltro(e, mes.filtro, kAntesDoFiltro);
    }
    // Decided before the filter runs: where the set cannot stand in for the database's comparison,
    // the queries carry the filter and it is not run here at all.
    const std::optional<fb::Comando::Colacao> colacao = comando->ColacaoDoTexto(0);
    if (!colacao || !ComparaPelosCaracteres(transacao, colacao->charset, colacao->colacao) ||
        !MatriculaComparaPelosCaracteres(transacao, u"SFP001" + mes.sufixo) ||
        !MatriculaComparaPelosCaracteres(transacao, u"SFPDXX02" + mes.sufixo))
        return std::nullopt;
    fb::Cursor cursor = comando->Abrir();
    ConjuntoDeChaves servidores;
    while (cursor.Proximo()) {
        if (cursor.Nulo(0u)) continue;  // NULL matches nothing
        // Keys as stored, on both sides: the database compares them so, and a composed key is
        // another registration than its decomposed spelling.
        servidores.Incluir(SemBrancosFinais(cursor.TextoComoGravado(0u)));
    }
    servidores.Fechar();
    return servidores;
}

bool Selecionado(const ConsultaDoMes& mes, const fb::Cursor& cursor, unsigned matricula) {
    if (!mes.servidores) return true;  // the database applied the filter
    return !cursor.Nulo(matricula) &&
           mes.servidores->Contem(SemBrancosFinais(cursor.TextoComoGravado(matricula)));
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
    return FQryPessoas.Abrir(transacao, SqlPessoas(mes.sufixo, mes.Restricao()),
                             "ler os servidores do mês (SFP001" + ParaUtf8(mes.sufixo) + ")");
}

fb::Cursor& TDAOPessoas::listCliente(fb::Transacao& transacao) {
    return AbrirCliente(FQryCliente, transacao);
}

fb::Cursor& TDAOMargem::listMargem(fb::Transacao& transacao, const ConsultaDoMes& mes) {
    return FQryMargem.Abrir(transacao, SqlMargem(mes.sufixo, mes.Restricao()),
                            "ler as margens do mês (SFPDXX02" + ParaUtf8(mes.sufixo) + ")");
}

fb::Cursor& TDAOMargem::listCliente(fb::Transacao& transacao) {
    return AbrirCliente(FQryCliente, transacao);
}

fb::Cursor& TDAOTransferidos::listTransferidos(fb::Transacao& transacao, const ConsultaDoMes& mes) {
    return FQryTransferidos.Abrir(
        transacao, SqlTransferidos(mes.sufixo, mes.sufixoAnterior, mes.Restricao()),
        "ler os transferidos entre SFP001" + ParaUtf8(mes.sufixoAnterior) + " e SFP001" +
            ParaUtf8(mes.sufixo));
}

fb::Cursor& TDAOTransferidos::listCliente(fb::Transacao& transacao) {
    return AbrirCliente(FQryCliente, transacao);
}

}  // namespace kavlo
