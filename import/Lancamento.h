// Deciding and posting one instalment into a servant's row of the month's deduction table. Money
// is counted in whole cents here; it becomes a real only in the parameter of the column.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "import/ArquivoRetorno.h"
#include "import/ColunasDaDeducao.h"
#include "util/ConjuntoDeChaves.h"

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

struct Lancamento {
    std::u16string codigo;
    int64_t valor;  // cents
    int32_t quant;
    int32_t perc;
    int64_t novaMargem;   // cents, after this posting
    size_t linhaRetorno;  // 1-based line of the return file
};

// What the run keeps of one active row, compact because a run keeps one per servant the return
// file names: where it is, which slots are taken and its margin as the earlier lines of the run
// left them, and the postings not yet written (GravadorLancamentos's). The servant's key is the
// run's ConjuntoDeChaves's, by index.
struct LinhaDeducao {
    static constexpr uint32_t kNenhum = UINT32_MAX;

    std::array<char, 8> chaveBanco{};  // RDB$DB_KEY
    int64_t margem = 0;                // cents
    uint32_t ocupados = 0;             // bit n set: slot n taken
    uint32_t indice = 0;               // the servant's key in the run's ConjuntoDeChaves
    uint32_t pendente = kNenhum;       // the latest posting not yet written
    bool naFila = false;               // complete, waiting for its batch

    bool Ocupado(int slot) const { return (ocupados >> slot & 1u) != 0; }
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
// The same for an instalment already read (ParcelaDaLinha), without what the posting stores.
Avaliacao Avaliar(const LinhaDeducao& linha, int64_t parcela, bool estrito);

// Takes `slot` for a posting and leaves the row with the margin after it.
void Ocupar(LinhaDeducao& linha, int slot, int64_t novaMargem);

// Keeps the run's postings and writes each changed row once, by RDB$DB_KEY, in EXECUTE BLOCK
// batches of rows that changed the same slots, so that a server is asked once per batch and not
// once per instalment. Each UPDATE must change exactly one row. In the same statement every
// posting goes into the import journal (KAVLO_LANCAMENTO) with the values each changed column held
// before and after, as the server stored them, so the journal alone can undo the import.
//
// A row is written once it is complete (Concluida: the return file has no later line for it) and
// a batch of its shape is full. A prepared batch is large (megabytes in an embedded server), so
// only a few are kept, and a shape whose statement is not among them waits until its rows are
// many, or until the end: the postings held at any moment are those of the rows still open and of
// at most kMaximoNaFila complete rows. Gravar writes what is left.
class GravadorLancamentos {
  public:
    // Rows per EXECUTE BLOCK at the most; fewer when the statement would grow too long.
    static constexpr size_t kLote = 32;
    // Prepared batch statements kept at once: shapes interleave in a run, but a few are most of it.
    static constexpr size_t kBlocosPreparados = 4;
    // Complete rows waiting for their batch, at the most.
    static constexpr size_t kMaximoNaFila = 16384;

    // `chaves` names the rows' servants (LinhaDeducao::indice); at most `maximoNaFila` complete
    // rows wait for their batch.
    GravadorLancamentos(fb::Transacao& transacao, std::u16string tabela, int32_t idImportacao,
                        const ConjuntoDeChaves& chaves, size_t maximoNaFila = kMaximoNaFila);
    ~GravadorLancamentos();
    GravadorLancamentos(const GravadorLancamentos&) = delete;
    GravadorLancamentos& operator=(const GravadorLancamentos&) = delete;

    // Takes `slot` of the row for the posting and sets the new margin, in memory.
    void Lancar(LinhaDeducao& linha, int slot, const Lancamento& lancamento);

    // The row takes no more postings: it joins the batch of its shape, written when full.
    void Concluida(LinhaDeducao& linha);

    // Writes every posting not yet written; called once, after the last line.
    void Gravar();

  private:
    // A posting kept until its row is written; the code is at most two characters (88-89).
    struct Pendente {
        int64_t valor;
        int64_t novaMargem;
        int32_t quant;
        int32_t perc;
        uint32_t linhaRetorno;
        uint32_t anterior;  // the row's earlier posting, or the next free place
        std::array<char16_t, 2> codigo;
        uint8_t tamanhoCodigo;
        uint8_t slot;
    };
    struct Fila {
        size_t lote = 0;
        std::vector<LinhaDeducao*> linhas;
    };
    struct Bloco {
        uint32_t forma;
        size_t linhas;
        uint64_t uso;
        std::unique_ptr<fb::Comando> comando;
    };
    std::vector<const Pendente*> DaLinha(const LinhaDeducao& linha) const;
    uint32_t Forma(const LinhaDeducao& linha) const;
    Fila& FilaDa(uint32_t forma);
    // Writes the queue's full batches, and the rest too when `tudo`.
    void Escoar(uint32_t forma, Fila& fila, bool tudo);
    void GravarLote(uint32_t forma, std::span<LinhaDeducao* const> linhas);
    bool Preparavel(uint32_t forma, size_t linhas) const;
    fb::Comando& Preparado(uint32_t forma, size_t linhas);

    fb::Transacao& transacao_;
    std::u16string tabela_;
    int32_t idImportacao_;
    const ConjuntoDeChaves& chaves_;
    size_t maximoNaFila_;
    std::vector<Pendente> pendentes_;  // postings not yet written, and free places
    uint32_t livre_ = LinhaDeducao::kNenhum;
    // Rows with postings not yet written, and some already written (dropped now and then).
    std::vector<LinhaDeducao*> abertas_;
    size_t abertasAposLimpeza_ = 0;
    std::map<uint32_t, Fila> filas_;  // by shape: the slots a row takes, as bits
    size_t naFila_ = 0;
    std::vector<Bloco> blocos_;
    uint64_t usos_ = 0;
};

}  // namespace kavlo
