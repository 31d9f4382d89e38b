// Finished output files put in place as one set, all or nothing, and the settling of sets a dead
// process left before their fate was known.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "util/ArquivoTemporario.h"
#include "util/Caminhos.h"
#include "util/RegistroDeColocacao.h"

namespace kavlo {

// Puts finished files in place as one set: each file it replaces is kept aside until Concluir(),
// so that a failure before then (the third of three files, a commit that comes after the files)
// removes the new files and brings every earlier one back. Dropped unconcluded, it undoes.
class Substituicao {
  public:
    Substituicao() = default;
    ~Substituicao();
    Substituicao(const Substituicao&) = delete;
    Substituicao& operator=(const Substituicao&) = delete;

    // For a set whose fate is decided elsewhere once it is in place (an import's commit): before
    // any file moves, writes a durable record of the set (each destination, the name its earlier
    // file is kept under, the new file's SHA-256, and `decisao`, an opaque text naming what
    // decides) beside each destination and in PastaDasColocacoes(). This process holds the record
    // until the set is concluded, undone or left (Deixar); a later run that finds it unheld
    // settles it (AcertarColocacoes). The files must be closed. Throws ErroArquivo, nothing moved,
    // when the record cannot be written beside a destination.
    void Registrar(const std::vector<const ArquivoTemporario*>& arquivos, std::string decisao);
    // Moves a finished temporary file to its destination; on failure the whole set is undone.
    void Colocar(ArquivoTemporario& arquivo);
    // Drops the earlier files kept aside (and the record).
    void Concluir() noexcept;
    // Leaves the set as it stands, new files in place, earlier ones kept aside and the record
    // unheld, for a later run to settle by its decision (a commit whose outcome is unknown).
    void Deixar() noexcept;

  private:
    void Desfazer() noexcept;
    void SoltarRegistro(bool remover) noexcept;
    struct Item {
        Caminho destino;
        Caminho anterior;  // empty when nothing was there
        bool colocado = false;
        int trava = -1;  // held on the earlier file while it is kept aside
    };
    std::vector<Item> itens_;
    bool concluida_ = false;
    // The record, when the set has one: the earlier files' names chosen in advance, and the
    // record's copies, held.
    std::vector<std::pair<Caminho, Caminho>> anteriores_;  // destination, kept-aside name
    std::vector<Caminho> registros_;
    std::vector<int> travasDosRegistros_;
};

enum class DestinoDaColocacao {
    Valer,     // the new files stand: the earlier ones kept aside go
    Desfazer,  // the earlier files come back; a new file whose place was empty goes
    Manter,    // undecided: everything stays, record included, for a later run
};

struct ColocacaoAcertada {
    ColocacaoPendente colocacao;
    DestinoDaColocacao destino;
    // Destinations that hold neither the new file nor the earlier one any more (somebody wrote
    // there since): left as they are, their earlier file still kept aside.
    std::vector<ColocacaoPendente::Item> alterados;
};

// Settles each record that no live process holds, found beside `destinos` and in
// PastaDasColocacoes(), by what `decidir` says of it. A destination that holds another file than
// the set's is never overwritten nor removed. Returns what was done, a set each.
std::vector<ColocacaoAcertada> AcertarColocacoes(
    const std::vector<Caminho>& destinos,
    const std::function<DestinoDaColocacao(const ColocacaoPendente&)>& decidir);

}  // namespace kavlo
