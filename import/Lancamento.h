// Deciding and posting one instalment into a servant's row of the month's deduction table. Money
// is counted in whole cents here; it becomes a real only in the parameter of the column.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "import/ArquivoRetorno.h"

namespace kavlo {

namespace fb {
class Transacao;
class Comando;
}  // namespace fb

enum class Resultado {
    Integral,  // posted whole
    // The margin posted, the rest reported. The lenient mode posts every instalment whole, so
    // Decidir does not produce it; the result file and the report keep their layouts for it.
    Parcial,
    NaoDescontado,  // the margin did not cover it: nothing posted
    SemSlot,        // every usable slot taken: nothing posted
};

inline bool Lancado(Resultado r) {
    return r == Resultado::Integral || r == Resultado::Parcial;
}

// Outcome of one instalment, in cents: what was deducted, what was left and the new margin.
struct Desfecho {
    Resultado resultado;
    int64_t descontado;
    int64_t resto;
    int64_t novaMargem;
};

// Strict mode ("S" exactly) posts only an instalment the margin covers (m >= p); the lenient mode
// posts every instalment whole, letting the margin fall below zero.
Desfecho Decidir(bool estrito, int64_t margem, int64_t parcela);

// Slots the import uses, in the order they are tried; slot 10 belongs to the payroll itself.
inline constexpr std::array<int, 16> SlotsUsaveis = {1, 2,  3,  4,  5,  6,  7,  8,
                                                     9, 11, 12, 13, 14, 15, 16, 17};

struct Lancamento {
    std::u16string codigo;
    int64_t valor;  // cents
    int32_t quant;
    int32_t perc;
    int64_t novaMargem;   // cents, after this posting
    size_t linhaRetorno;  // 1-based line of the return file
};

// What the run keeps of one active row: where it is, which slots are taken, its margin and the
// postings not yet written, so a later line of the same servant sees what the earlier ones posted.
struct LinhaDeducao {
    std::u16string matricula;
    std::string chaveBanco;                             // RDB$DB_KEY
    std::array<bool, 18> ocupado{};                     // by slot number; [0] unused
    int64_t margem = 0;                                 // cents
    std::vector<std::pair<int, Lancamento>> pendentes;  // by slot, in slot order
};

// First free usable slot, or 0 when all are taken.
int PrimeiroSlotLivre(const LinhaDeducao& linha);

// What the import does with one instalment line, against the row as the earlier lines of the
// run left it: the amount read and checked, the slot, the margin before, the outcome and, for an
// outcome that posts, what the posting stores. Throws the line's conversion errors (amount,
// code, counters), as the import reports them.
struct Avaliacao {
    int64_t parcela;  // cents
    int64_t margem;   // cents, before this line
    int slot;         // 0 when none is free
    Desfecho desfecho;
    std::optional<DadosDoLancamento> dados;  // when it posts
};
Avaliacao Avaliar(const LinhaDeducao& linha, std::u16string_view linhaRetorno, bool estrito);

// Takes `slot` for a posting and leaves the row with the margin after it.
void Ocupar(LinhaDeducao& linha, int slot, int64_t novaMargem);

// Keeps the run's postings and writes each changed row once, by RDB$DB_KEY, in EXECUTE BLOCK
// batches of rows that changed the same slots, so that a server is asked once per batch and not
// once per instalment. Each UPDATE must change exactly one row. In the same statement every
// posting goes into the import journal (KAVLO_LANCAMENTO) with the values each changed column held
// before and after, as the server stored them, so the journal alone can undo the import.
class GravadorLancamentos {
  public:
    GravadorLancamentos(fb::Transacao& transacao, std::u16string tabela, int32_t idImportacao);
    ~GravadorLancamentos();
    GravadorLancamentos(const GravadorLancamentos&) = delete;
    GravadorLancamentos& operator=(const GravadorLancamentos&) = delete;

    // Takes `slot` of the row for the posting and sets the new margin, in memory.
    void Lancar(LinhaDeducao& linha, int slot, const Lancamento& lancamento);

    // Writes every changed row; called once, after the last line.
    void Gravar();

    // Rows per EXECUTE BLOCK at the most; fewer when the statement would grow too long.
    static constexpr size_t kLote = 32;

  private:
    fb::Comando& Bloco(const std::vector<int>& slots, size_t linhas);

    fb::Transacao& transacao_;
    std::u16string tabela_;
    int32_t idImportacao_;
    std::vector<LinhaDeducao*> alteradas_;
    std::map<std::pair<std::vector<int>, size_t>, std::unique_ptr<fb::Comando>> blocos_;
};

}  // namespace kavlo
