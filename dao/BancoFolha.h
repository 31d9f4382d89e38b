// How the library reaches a payroll database: the design's credentials, in one place (a site
// may keep its own beside the library: dao/LoginBanco.h), and what a location says about where
// the database is.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dao/firebird/Firebird.h"
#include "util/Caminhos.h"

namespace kavlo {

inline constexpr std::string_view kUsuarioBanco = "SYSDBA";
inline constexpr std::string_view kSenhaBanco = "quillbank";

// Attaches `conexao` to the payroll database at `local` (a file path, or "host:path") with the
// login of LoginDoBanco() (dao/LoginBanco.h).
void AbrirBancoDaFolha(fb::Conexao& conexao, std::u16string_view local);

// The location without its first "localhost:" (exact case): the database's own file path.
std::u16string SemLocalhost(std::u16string_view caminhoBanco);

// The database's own file when `caminhoBanco` (without "localhost:") names a local one; nothing
// when it still names a server ("host:path", the host longer than a drive letter).
std::optional<std::u16string> ArquivoDoBanco(std::u16string_view caminhoBanco);

// Every file a location may name on this machine: the location read as a path, and the path
// after the host of every form that names a server ("host:path", "host/porta:path",
// "[::1]:path", "inet://host[:porta]/path" with inet4, inet6 and wnet, "\\host\path",
// "xnet://path"). A single letter before ":" is a drive. No host is judged remote by its name: a
// server on this machine (localhost, 127.0.0.1, ::1, its own names and addresses, in any case)
// serves that path from this machine's disk, and for one elsewhere the only cost is a refusal
// where an output has the very same path.
std::vector<std::u16string> ArquivosPossiveisDoBanco(std::u16string_view caminhoBanco);

// The database's file as the engine that opened it names it (MON$DATABASE_NAME), aliases and
// relative paths resolved: the file itself when that engine runs on this machine. Nothing when
// the engine does not say.
std::optional<std::u16string> ArquivoSegundoOBanco(fb::Conexao& conexao);

// Both, as the role of the database among the files a call reads and writes: every spelling of
// it, and the engine's own name for it.
std::vector<PapelDeArquivo> PapeisDoBanco(std::u16string_view caminhoBanco, fb::Conexao& conexao);

}  // namespace kavlo
