// The undo's writing: the journal's postings read back row by row, and each row given its earlier
// values in blocks of one shape, only where it still holds what the import wrote; rows their kept
// keys no longer find are sought by their servant. What it could not give back is kept for the
// refusal (EstornoRecusa.h).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dao/firebird/Firebird.h"
#include "import/ColunasDaDeducao.h"
#include "import/Diario.h"
#include "util/Datas.h"

namespace kavlo {
struct ResultadoEstorno;
}

namespace kavlo::estorno {

// What the journal says of one posting: each value as stored, NULL kept.
struct Lancado {
    int slot;
    std::u16string matricula;
    // The slot's columns (kColunasDoSlot) and the row's (kColunasDaLinha), before and after.
    std::array<fb::Parametro, kColunasDoSlot.size()> antes, depois;
    std::array<fb::Parametro, kColunasDaLinha.size()> daLinhaAntes, daLinhaDepois;
};

// A payroll row's key, as the journal keeps it (CHAR(8) OCTETS); compared byte by byte, as the
// server orders it.
using ChaveLinha = std::array<unsigned char, 8>;

struct LinhaLancada {
    ChaveLinha chave;                  // RDB$DB_KEY
    std::vector<Lancado> lancamentos;  // by slot, which is also the order they were posted in
};

// The slots a row had posted, one bit each: a row's shape, which decides the block that undoes it.
using Slots = uint32_t;

// Each row the import posted to, with its shape, sorted by key: 12 bytes a row, all the undo
// keeps of the whole import while it streams the postings.
struct FormaDaLinha {
    ChaveLinha chave;
    Slots slots;
};

std::vector<int> ListaDeSlots(Slots slots);
Slots FormaDe(const LinhaLancada& l);
std::vector<FormaDaLinha> FormasDasLinhas(fb::Transacao& t, int32_t id);

// The rows the keys cannot find, found by the servant's registration in one pass over `tabela`;
// gives each row found its new key, leaves out the ones it cannot find and says why of each.
std::vector<std::string> ProcurarPelaMatricula(fb::Transacao& t, const std::u16string& tabela,
                                               std::vector<LinhaLancada>& perdidas);

// Gives the import's rows back their earlier values, counting them in `resultado`, and keeps the
// rows that changed since and those not found, in the order the refusal tells them.
class Devolucao {
  public:
    // `restaurado`: the database was restored after the import, and every row is sought by its
    // servant.
    Devolucao(fb::Transacao& t, const ImportacaoRegistrada& importacao, bool restaurado,
              ResultadoEstorno& resultado);
    ~Devolucao();
    Devolucao(const Devolucao&) = delete;
    Devolucao& operator=(const Devolucao&) = delete;

    // The postings come one at a time; a row is undone in its shape's next block once all its
    // postings have come, so the undo holds a block per shape, never the whole import.
    void Percorrer(const std::vector<FormaDaLinha>& formas);
    // The rows the keys did not find (all of them after a restore), found by their servant and
    // given back.
    void PelaMatricula();

    // "servidor 123456-7: mudou desde a importação em VALOR4"
    std::vector<std::string> Conflitos() const;
    const std::vector<std::string>& NaoAchadas() const { return naoAchadas_; }

  private:
    struct Conflito {
        Slots slots;
        ChaveLinha chave;
        std::string texto;
    };
    class Blocos;
    void Lote(Slots slots, std::vector<LinhaLancada>& lote, std::vector<LinhaLancada>& perdidas);
    void Todas(std::vector<LinhaLancada> quais, std::vector<LinhaLancada>& perdidas);

    fb::Transacao& t_;
    const ImportacaoRegistrada& importacao_;
    const bool restaurado_;
    ResultadoEstorno& resultado_;
    std::unique_ptr<Blocos> blocos_;
    std::vector<Conflito> conflitos_;
    std::vector<std::string> naoAchadas_;
    std::vector<LinhaLancada> porMatricula_, todas_;
};

}  // namespace kavlo::estorno
