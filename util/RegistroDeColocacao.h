// Records of sets of files placed before their fate is known (Substituicao::Registrar). A record
// is a small text file, one field a line, written whole and synced before any file of its set
// moves:
//
//   KAVLO-COLOCACAO 1
//   decisao=<what decides>
//   registro=<a copy of this record>          one line per copy
//   destino=<path>  anterior=<path or empty>  hash=<SHA-256 of the new file>   three lines per file
//   fim
//
// Values are UTF-8 with "%", CR and LF written as %25, %0D and %0A. A record is written under a
// temporary name and named only once complete and held (CriarRegistro); a file of that name that
// does not read as one is not this library's, and is left alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/Caminhos.h"

namespace kavlo {

// Where a process keeps a copy of each record of a set it is placing (Substituicao::Registrar),
// so that any later run finds those a dead process left, whatever its destinations:
// $XDG_STATE_HOME/kavlo, else ~/.local/state/kavlo; %LOCALAPPDATA%\DllKavlo on Windows. Empty
// when there is no such folder.
Caminho PastaDasColocacoes();

// A set of files a process placed and then died, or left (Deixar), before its fate was known.
struct ColocacaoPendente {
    struct Item {
        Caminho destino;
        Caminho anterior;  // where the earlier file is kept; empty when there was none
        std::string hash;  // SHA-256 of the new file
    };
    std::string decisao;
    std::vector<Item> itens;
    std::vector<Caminho> registros;  // the record's copies
};

// "<destino>.pendenteNNNNNN": a record's copy beside a destination of its set.
inline constexpr std::string_view kMarcaRegistro = ".pendente";

std::string TextoDoRegistro(const ColocacaoPendente& c);
// Nothing when the text is not a whole record.
std::optional<ColocacaoPendente> LerRegistro(std::string_view texto);
// A path as a record writes it (UTF-8 on Windows, the bytes as they are elsewhere).
std::string CaminhoParaRegistro(const Caminho& c);

// A record's lock: held by its writer while it lives, by a settler while it settles; -1 when
// somebody else holds it (or the file is gone).
int TravarRegistro(const Caminho& c);
void SoltarTrava(int& fd);
// The whole file behind a held lock.
std::string LerDoDescritor(int fd);
// Writes and syncs a record's copy under the name `temporario`, takes its lock and only then
// gives it its name `registro`, so that nobody ever finds a copy incomplete or unheld while its
// writer lives. Returns the lock, or -1 with errno set (nothing left behind).
int CriarRegistro(const Caminho& registro, const Caminho& temporario, std::string_view texto);

}  // namespace kavlo
