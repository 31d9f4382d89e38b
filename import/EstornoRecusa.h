// The undo's refusals: the later imports not undone that posted for the same servants, and the
// account of everything that stops an undo, whole for the message and brief for a summary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dao/firebird/Firebird.h"
#include "import/Diario.h"
#include "util/Datas.h"

namespace kavlo::estorno {

// A later import not undone that posted for one of this import's servants in the same table:
// undoing this one would give the row the values from before both, and erase that posting (or
// the margin it took). Decided from the journal, not from the row's values, which a slot cleared
// by hand and posted again with the same values would not tell apart.
struct Posterior {
    int32_t importacao;
    std::u16string matricula;
    int slot;
    bool mesmoSlot;
};

// Every later posting for one of the import's servants, and their count in `total`.
std::vector<Posterior> ImportacoesPosteriores(fb::Transacao& t, const ImportacaoRegistrada& imp,
                                              int64_t& total);

// Why the import cannot be undone, if anything stops it: throws EstornoRecusado naming the later
// postings (`total` of them), the rows changed since and the rows not found (`recriadoEm`: when
// the database was restored after the import, if it was).
struct Impedimentos {
    std::vector<Posterior> posteriores;
    int64_t quantasPosteriores = 0;
    std::vector<std::string> conflitos, naoAchadas;
    bool restaurado = false;
    TDateTime recriadoEm = 0;
};
void RecusarSeHouver(const ImportacaoRegistrada& imp, const Impedimentos& i);

}  // namespace kavlo::estorno
