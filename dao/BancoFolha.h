// How the library reaches a payroll database: the fixed credentials, in one place.
#pragma once

#include <string_view>

#include "dao/Firebird.h"

namespace kavlo {

inline constexpr std::string_view kUsuarioBanco = "SYSDBA";
inline constexpr std::string_view kSenhaBanco = "quillbank";

// Attaches `conexao` to the payroll database at `local` (a file path, or "host:path").
inline void AbrirBancoDaFolha(fb::Conexao& conexao, std::u16string_view local) {
    conexao.Abrir(local, kUsuarioBanco, kSenhaBanco);
}

}  // namespace kavlo
