// The month's deduction table as the import sees it, for the servants a return file names and
// only for them: the first active row of each such MATRICULA, compared exactly as it stands (the
// first the database returns wins), and whether the ones without an active row have inactive rows,
// only to tell the operator why a line was dropped. A row is kept compact (LinhaDeducao), so a
// whole payroll fits a 32-bit host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "import/Lancamento.h"
#include "util/ConjuntoDeChaves.h"

namespace kavlo {

namespace fb {
class Conexao;
class Transacao;
}  // namespace fb

class TabelaDeducao {
  public:
    enum class Estado : uint8_t { SemLinha, Inativa, Ativa };

    // One pass over `tabela` (SFPDXX02 + month), reading only the columns the import uses and
    // keeping the rows of the keys in `chaves`, which must outlive the table.
    TabelaDeducao(fb::Transacao& transacao, const std::u16string& tabela,
                  const ConjuntoDeChaves& chaves);

    // The key's place in `chaves`; nothing for a key the set lacks.
    std::optional<uint32_t> Indice(std::u16string_view chave) const {
        return chaves_.Indice(chave);
    }
    Estado EstadoDe(uint32_t indice) const { return estados_[indice]; }
    // The key's active row (EstadoDe is Ativa).
    LinhaDeducao& Linha(uint32_t indice) { return linhas_[indice]; }
    const ConjuntoDeChaves& Chaves() const { return chaves_; }

  private:
    const ConjuntoDeChaves& chaves_;
    std::vector<LinhaDeducao> linhas_;  // by key
    std::vector<Estado> estados_;       // by key
};

// Whether `tabela` can be read at all, without reading it: a month whose table is missing fails
// here, saying which month to check, before anything is written.
void ConferirTabela(fb::Conexao& conexao, const std::u16string& tabela);

}  // namespace kavlo
