#include "dao/EventosMes.h"

#include "dao/firebird/Firebird.h"
#include "util/Datas.h"
#include "util/Observacao.h"
#include "util/Utils.h"

namespace kavlo {
namespace {

// Keys as the database compares them: trailing blanks do not count.
std::u16string Chave(std::u16string_view texto) {
    return std::u16string(SemBrancosFinais(texto));
}

constexpr std::string_view kDemitidosNoMes =
    "select D.MATRICULA from SFP017 D where D.MESREF = ? and D.ANOREF = ? and D.CODFOL = '22'";

constexpr std::string_view kDemissoesAnteriores =
    "select SFP017.MATRICULA, AFASTFOLHA.CODIGO, AFASTFOLHA.DESCRICAO from AFASTFOLHA"
    " inner join SFP017 on (AFASTFOLHA.CODIGO = SFP017.CODFOL)"
    " where (SFP017.CODFOL = '22') and (SFP017.DTINICIO < ?)";

// Ordered by servant and latest start, so the first row of each servant is the one the
// per-servant lookup would take.
constexpr std::string_view kAfastamentos =
    "select SFP017.MATRICULA, AFASTFOLHA.CODIGO, AFASTFOLHA.DESCRICAO from AFASTFOLHA"
    " inner join SFP017 on (AFASTFOLHA.CODIGO = SFP017.CODFOL)"
    " where ((SFP017.DTINICIO <= ?) or (SFP017.DTINICIO between ? and ?))"
    " and (SFP017.DTFIM >= ?)"
    " order by SFP017.MATRICULA, SFP017.DTINICIO desc";

}  // namespace

EventosMes::EventosMes(fb::Transacao& transacao, std::u16string_view Mes, std::u16string_view Ano,
                       std::u16string_view Folhas, const Interessa& interessa)
    : abono_(Folhas.find(u"ABONO") != std::u16string_view::npos) {
    const TDateTime dataMes = LerData(u"01/" + std::u16string(Mes) + u"/" + std::u16string(Ano));
    const TDateTime ultimoDia = UltimoDiaMes(dataMes);
    Observacao& obs = Observacao::Atual();
    obs.Etapa("Lendo demissões e afastamentos do mês");

    if (!abono_) {
        fb::Comando mes(transacao, kDemitidosNoMes, "ler as demissões do mês");
        // Month and year go in as texts, so the database converts them to the columns' types.
        auto c = mes.Abrir({std::u16string(Mes), std::u16string(Ano)});
        while (c.Proximo()) {
            obs.Avancar();
            ++eventos_;
            std::u16string chave = Chave(c.Texto(0u));
            if (!interessa || interessa(chave)) demitidosNoMes_.insert(std::move(chave));
        }
        fb::Comando anteriores(transacao, kDemissoesAnteriores,
                               "ler as demissões anteriores ao fim do mês");
        auto a = anteriores.Abrir({fb::Data{ultimoDia}});
        while (a.Proximo()) {
            obs.Avancar();
            ++eventos_;
            std::u16string chave = Chave(a.Texto(0u));
            if (!interessa || interessa(chave))
                demissaoAnterior_.try_emplace(std::move(chave), a.Linha<Afastamento>());
        }
    }
    fb::Comando afastamentos(transacao, kAfastamentos, "ler os afastamentos do mês");
    const fb::Data inicio{dataMes}, fim{ultimoDia};
    auto f = afastamentos.Abrir({inicio, inicio, fim, inicio});
    while (f.Proximo()) {
        obs.Avancar();
        ++eventos_;
        std::u16string chave = Chave(f.Texto(0u));
        if (!interessa || interessa(chave))
            afastamento_.try_emplace(std::move(chave), f.Linha<Afastamento>());
    }
}

Situacao EventosMes::Consultar(std::u16string_view Matricula) const {
    const std::u16string chave = Chave(Matricula);
    EventosDoServidor e;
    e.demitidoNoMes = demitidosNoMes_.contains(chave);
    if (auto it = demissaoAnterior_.find(chave); it != demissaoAnterior_.end())
        e.demissaoAnterior = it->second;
    if (auto it = afastamento_.find(chave); it != afastamento_.end()) e.afastamento = it->second;
    return DecidirSituacao(e, abono_);
}

}  // namespace kavlo
