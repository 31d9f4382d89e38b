// The month's events (dismissals and leaves) read once per run and answered from memory. The
// database still decides which events touch the month — each statement keeps its predicates and
// only loses the per-servant filter — so the answers are those of the per-servant lookups.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "dao/SituacaoServidor.h"

namespace kavlo {

namespace fb {
class Transacao;
}

class EventosMes {
  public:
    // Which servants' events to keep, by MATRICULA without trailing blanks (every one when
    // empty): a run that asks about a few servants of a large payroll keeps only theirs.
    using Interessa = std::function<bool(std::u16string_view matricula)>;

    // Reads the events of month `Mes`/`Ano`. Throws ErroConversao when they do not form a date.
    EventosMes(fb::Transacao& transacao, std::u16string_view Mes, std::u16string_view Ano,
               std::u16string_view Folhas, const Interessa& interessa = {});

    // The same answer as ConsultaSituacao::Consultar, without a statement (for a servant kept).
    Situacao Consultar(std::u16string_view Matricula) const;

    size_t Eventos() const { return eventos_; }

  private:
    bool abono_;
    size_t eventos_ = 0;
    std::unordered_set<std::u16string> demitidosNoMes_;
    std::unordered_map<std::u16string, Afastamento> demissaoAnterior_;
    std::unordered_map<std::u16string, Afastamento> afastamento_;
};

}  // namespace kavlo
