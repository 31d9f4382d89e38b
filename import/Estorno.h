// Undoing one import from its journal: every column the import changed gets its earlier value
// back, in one transaction, but only where the row still holds what the import wrote and no later
// import not undone posted for the same servants (the journal says so, whatever the values). If
// any row changed since (by hand, by the payroll, by a later import) nothing is changed at all.
// Rows are found by the keys the journal kept; after a restore from a backup, which changes the
// keys, and for a row a key no longer finds, by the servant's MATRICULA and the values the import
// wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dao/firebird/Firebird.h"
#include "import/Diario.h"
#include "util/Erros.h"

namespace kavlo {

struct ResultadoEstorno {
    ImportacaoRegistrada importacao;
    int64_t linhas = 0;       // payroll rows given back their earlier values
    int64_t lancamentos = 0;  // postings undone
    bool simulacao = false;
};

// An undo refused because rows changed since, cannot be found, or later imports not undone posted
// for the same servants. What() is the whole account (the first lines of each kind); the summary
// and the full list let a caller say it briefly and keep the rest in a file.
class EstornoRecusado : public Erro {
  public:
    EstornoRecusado(const std::string& completo, std::string resumo,
                    std::vector<std::string> linhas, std::u16string resultado)
        : Erro(completo),
          resumo_(std::move(resumo)),
          linhas_(std::move(linhas)),
          resultado_(std::move(resultado)) {}
    // How many servants stop the undo and why, and what to do next, in which order.
    const std::string& Resumo() const { return resumo_; }
    // One line per changed row, row not found and later posting, every one of them.
    const std::vector<std::string>& Linhas() const { return linhas_; }
    // The result file of the import, as the journal has it.
    const std::u16string& ResultadoDaImportacao() const { return resultado_; }

  private:
    std::string resumo_;
    std::vector<std::string> linhas_;
    std::u16string resultado_;
};

// Throws EstornoRecusado when a later import posted for its servants, or a row changed since or
// cannot be found (the message names the servants, the slots and columns, any later import that
// posted there, and says when the database was restored since), and Erro when the import does not
// exist or was undone already.
// `simular` checks everything and rolls back.
ResultadoEstorno EstornarImportacao(fb::Conexao& conexao, int32_t id, bool simular);

}  // namespace kavlo
