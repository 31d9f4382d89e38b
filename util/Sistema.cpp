#include "util/Sistema.h"

#include <array>
#include <string_view>

#include "util/Codificacao.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace kavlo {

#ifdef _WIN32

std::u16string UsuarioDoSistema() {
    wchar_t nome[257];
    DWORD n = 257;
    if (!GetUserNameW(nome, &n) || n == 0) return u"?";
    return std::u16string(nome, nome + n - 1);  // n counts the closing NUL
}

std::u16string NomeDaMaquina() {
    wchar_t nome[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(nome, &n) || n == 0) return u"?";
    return std::u16string(nome, nome + n);
}

#else

std::u16string UsuarioDoSistema() {
    // The account the process runs as; LOGNAME and USER can be set to anything.
    std::array<char, 4096> buf{};
    passwd pw{};
    passwd* achado = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &achado) == 0 && achado &&
        achado->pw_name && *achado->pw_name)
        return DeUtf8(achado->pw_name);
    return u"?";
}

std::u16string NomeDaMaquina() {
    std::array<char, 256> nome{};
    if (gethostname(nome.data(), nome.size() - 1) != 0 || !nome[0]) return u"?";
    return DeUtf8(nome.data());
}

#endif

}  // namespace kavlo
