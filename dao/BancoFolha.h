// How the library reaches a payroll database: the design's credentials, in one place (a site
// may keep its own beside the library: dao/LoginBanco.h), and what a location says about where
// the database is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "dao/Firebird.h"

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

}  // namespace kavlo
