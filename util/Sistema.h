// Who and where: the operating-system user and machine name an operation records.
#pragma once

#include <string>

namespace kavlo {

// The login of the process's user; "?" when the system does not say.
std::u16string UsuarioDoSistema();
// The machine's network name; "?" when the system does not say.
std::u16string NomeDaMaquina();

}  // namespace kavlo
