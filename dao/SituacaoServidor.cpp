#include "dao/SituacaoServidor.h"

#include "dao/firebird/Firebird.h"

namespace kavlo {
namespace {

// Registrations reach these statements from the month's rows; the cast keeps a longer text from
// being refused against the column's own width, so it simply matches nothing.
constexpr std::string_view kDemissaoMes =
    "select first 1 D.MATRICULA from SFP017 D"
    " where D.MATRICULA = cast(? as varchar(100)) and D.MESREF = ? and D.ANOREF = ?"
    " and D.CODFOL = '22'";

constexpr std::string_view kDemissaoAno =
    "select first 1 D.MATRICULA from SFP017 D"
    " where D.MATRICULA = cast(? as varchar(100)) and D.ANOREF = ? and D.CODFOL = '22'";

// A dismissal that started before the month's last day, whatever month it was registered for.
constexpr std::string_view kDemissaoAnterior =
    "select AFASTFOLHA.CODIGO, AFASTFOLHA.DESCRICAO from AFASTFOLHA"
    " inner join SFP017 on (AFASTFOLHA.CODIGO = SFP017.CODFOL)"
    " where (SFP017.MATRICULA = cast(? as varchar(100))) and (SFP017.CODFOL = '22')"
    " and (SFP017.DTINICIO < ?)";

// Any leave overlapping the month, the latest start first.
constexpr std::string_view kAfastamento =
    "select AFASTFOLHA.CODIGO, AFASTFOLHA.DESCRICAO from AFASTFOLHA"
    " inner join SFP017 on (AFASTFOLHA.CODIGO = SFP017.CODFOL)"
    " where (SFP017.MATRICULA = cast(? as varchar(100)))"
    " and ((SFP017.DTINICIO <= ?) or (SFP017.DTINICIO between ? and ?))"
    " and (SFP017.DTFIM >= ?)"
    " order by SFP017.DTINICIO desc";

}  // namespace

Situacao DecidirSituacao(const EventosDoServidor& e, bool abono) {
    if (!abono && e.demitidoNoMes) return {u"022", u"Demissão"};
    Situacao s;
    if (!abono && e.demissaoAnterior) {
        s.codigo = u"0" + e.demissaoAnterior->codigo;
        s.descricao = e.demissaoAnterior->descricao;
        if (s.codigo == u"0") s.codigo.clear();
        if (s.descricao == u"0") s.descricao.clear();
    }
    if ((s.codigo.empty() || s.descricao.empty()) && e.afastamento &&
        !e.afastamento->codigo.empty()) {
        if (s.codigo.empty()) s.codigo = u"0" + e.afastamento->codigo;
        if (s.descricao.empty()) s.descricao = e.afastamento->descricao;
    }
    if (s.descricao.empty()) s.descricao = u"ATIVO";
    return s;
}

ConsultaSituacao::ConsultaSituacao(fb::Transacao& transacao, std::u16string Mes, std::u16string Ano,
                                   std::u16string Folhas)
    : transacao_(transacao),
      mes_(std::move(Mes)),
      ano_(std::move(Ano)),
      abono_(Folhas.find(u"ABONO") != std::u16string::npos) {}

ConsultaSituacao::~ConsultaSituacao() = default;

fb::Comando& ConsultaSituacao::Preparar(std::unique_ptr<fb::Comando>& comando, std::string_view sql,
                                        const char* oQue) {
    if (!comando) comando = std::make_unique<fb::Comando>(transacao_, sql, oQue);
    return *comando;
}

void ConsultaSituacao::Datas() {
    if (dataMes_) return;
    const TDateTime data = LerData(u"01/" + mes_ + u"/" + ano_);
    ultimoDia_ = UltimoDiaMes(data);
    dataMes_ = data;
}

bool ConsultaSituacao::PossuiDemissao(std::u16string_view Matricula, int32_t Modo) {
    const std::u16string matricula(Matricula);
    // Month and year go in as texts, so the database converts them to the columns' own types.
    if (Modo == 0) {
        auto& c = Preparar(demissaoMes_, kDemissaoMes, "verificar a demissão do servidor no mês");
        return c.Abrir({matricula, mes_, ano_}).Proximo();
    }
    if (Modo == 1) {
        auto& c = Preparar(demissaoAno_, kDemissaoAno, "verificar a demissão do servidor no ano");
        return c.Abrir({matricula, ano_}).Proximo();
    }
    return false;
}

Situacao ConsultaSituacao::Consultar(std::u16string_view Matricula) {
    Datas();
    const std::u16string matricula(Matricula);
    EventosDoServidor e;
    if (!abono_) {
        e.demitidoNoMes = PossuiDemissao(Matricula, 0);
        auto& c = Preparar(demissaoAnterior_, kDemissaoAnterior,
                           "consultar demissão anterior do servidor");
        fb::Cursor cursor = c.Abrir({matricula, fb::Data{ultimoDia_}});
        if (cursor.Proximo()) e.demissaoAnterior = cursor.Linha<Afastamento>();
    }
    auto& c = Preparar(afastamento_, kAfastamento, "consultar afastamentos do servidor no mês");
    const fb::Data inicio{*dataMes_}, fim{ultimoDia_};
    fb::Cursor cursor = c.Abrir({matricula, inicio, inicio, fim, inicio});
    if (cursor.Proximo()) e.afastamento = cursor.Linha<Afastamento>();
    return DecidirSituacao(e, abono_);
}

bool PossuiDemissao(fb::Conexao& conexao, std::u16string_view Mes, std::u16string_view Ano,
                    std::u16string_view Matricula, int32_t Modo) {
    if (Modo != 0 && Modo != 1) return false;
    fb::Transacao transacao(conexao, fb::ModoTransacao::Leitura);
    ConsultaSituacao consulta(transacao, std::u16string(Mes), std::u16string(Ano), u"");
    return consulta.PossuiDemissao(Matricula, Modo);
}

std::u16string SituacaoServidor(fb::Conexao& conexao, std::u16string_view Mes,
                                std::u16string_view Ano, std::u16string_view Folhas,
                                std::u16string_view Matricula, int32_t Modo) {
    fb::Transacao transacao(conexao, fb::ModoTransacao::Leitura);
    ConsultaSituacao consulta(transacao, std::u16string(Mes), std::u16string(Ano),
                              std::u16string(Folhas));
    Situacao s = consulta.Consultar(Matricula);
    return Modo == 1 ? s.codigo : s.descricao;
}

}  // namespace kavlo
