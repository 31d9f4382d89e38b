// A servant's situation in a payroll month (dismissed, on a leave, or active), as the result file
// of the import shows it: the rule, in one function fed by the servant's events, and the design's
// per-servant lookups. The import answers from the month's events read once (dao/EventosMes);
// the per-servant statements here are the design's lookups, kept as the reference the tests hold
// EventosMes against.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "dao/firebird/Firebird.h"
#include "util/Datas.h"

namespace kavlo {

// Both forms of one answer: the code ("022", "0" + leave code, or empty) and the description
// ("Demissão", a leave description, or "ATIVO").
struct Situacao {
    std::u16string codigo;
    std::u16string descricao;
};

// A dismissal or leave as the payroll registers it: its leave type's code and description.
struct Afastamento {
    std::u16string codigo;
    std::u16string descricao;

    // As a row of AFASTFOLHA gives it.
    static constexpr std::tuple kColunas{fb::Campo{"CODIGO", &Afastamento::codigo},
                                         fb::Campo{"DESCRICAO", &Afastamento::descricao}};
};

// What the month's events say of one servant, each as the database found it: a dismissal
// registered for the month, the first dismissal that started before the month's last day, and
// the leave overlapping the month that started last.
struct EventosDoServidor {
    bool demitidoNoMes = false;
    std::optional<Afastamento> demissaoAnterior;
    std::optional<Afastamento> afastamento;
};

// The situation those events give. With the ABONO payroll run only leaves count. Each form (code
// and description) falls through on its own: a dismissal type without a description still
// decides the code, while the description comes from the leave.
Situacao DecidirSituacao(const EventosDoServidor& eventos, bool abono);

// Answers the situation questions of one month on one transaction. Statements are prepared on
// first use and reused for every servant; every value travels as a parameter.
class ConsultaSituacao {
  public:
    ConsultaSituacao(fb::Transacao& transacao, std::u16string Mes, std::u16string Ano,
                     std::u16string Folhas);
    ~ConsultaSituacao();
    ConsultaSituacao(const ConsultaSituacao&) = delete;
    ConsultaSituacao& operator=(const ConsultaSituacao&) = delete;

    // A dismissal (code 22) registered for the month (Modo 0) or for any month of the year
    // (Modo 1); any other Modo is "no" without a query.
    bool PossuiDemissao(std::u16string_view Matricula, int32_t Modo);

    // Both forms from one set of queries. Throws ErroConversao when month and year do not form a
    // date, before any query runs.
    Situacao Consultar(std::u16string_view Matricula);

  private:
    void Datas();
    fb::Comando& Preparar(std::unique_ptr<fb::Comando>& comando, std::string_view sql,
                          const char* oQue);

    fb::Transacao& transacao_;
    std::u16string mes_, ano_;
    bool abono_;
    std::optional<TDateTime> dataMes_;
    TDateTime ultimoDia_ = 0;
    std::unique_ptr<fb::Comando> demissaoMes_, demissaoAno_, demissaoAnterior_, afastamento_;
};

// The lookups on their own, each in a read transaction on `conexao`.
bool PossuiDemissao(fb::Conexao& conexao, std::u16string_view Mes, std::u16string_view Ano,
                    std::u16string_view Matricula, int32_t Modo);
// Modo 1: the code form; any other value: the description form.
std::u16string SituacaoServidor(fb::Conexao& conexao, std::u16string_view Mes,
                                std::u16string_view Ano, std::u16string_view Folhas,
                                std::u16string_view Matricula, int32_t Modo);

}  // namespace kavlo
