#include "util/Permissoes.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: aclapi.h needs its types.
#include <aclapi.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kavlo {

#ifdef _WIN32

bool LegivelPorOutros(void* descritor) {
    PSID dono = nullptr;
    PACL lista = nullptr;
    BOOL padrao = FALSE, presente = FALSE;
    if (!GetSecurityDescriptorOwner(descritor, &dono, &padrao) ||
        !GetSecurityDescriptorDacl(descritor, &presente, &lista, &padrao))
        return false;
    if (!presente || !lista) return true;  // no list: everybody may do everything
    constexpr ACCESS_MASK kLer = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL | MAXIMUM_ALLOWED;
    for (DWORD i = 0; i < lista->AceCount; ++i) {
        void* entrada = nullptr;
        if (!GetAce(lista, i, &entrada)) continue;
        const auto* cabecalho = static_cast<const ACE_HEADER*>(entrada);
        // An entry only for what is created inside does not apply to the file itself.
        if (cabecalho->AceType != ACCESS_ALLOWED_ACE_TYPE ||
            (cabecalho->AceFlags & INHERIT_ONLY_ACE))
            continue;
        const auto* permite = static_cast<const ACCESS_ALLOWED_ACE*>(entrada);
        if (!(permite->Mask & kLer)) continue;
        PSID sid = const_cast<DWORD*>(&permite->SidStart);
        if ((dono && EqualSid(sid, dono)) || IsWellKnownSid(sid, WinCreatorOwnerRightsSid) ||
            IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
            IsWellKnownSid(sid, WinLocalSystemSid))
            continue;
        return true;
    }
    return false;
}

bool LegivelPorOutros(const Caminho& arquivo) {
    PSECURITY_DESCRIPTOR descritor = nullptr;
    if (GetNamedSecurityInfoW(arquivo.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descritor) != ERROR_SUCCESS)
        return false;
    const bool outros = LegivelPorOutros(descritor);
    LocalFree(descritor);
    return outros;
}

#else

bool LegivelPorOutros(const Caminho& arquivo) {
    struct stat s {};
    if (::stat(arquivo.c_str(), &s) != 0) return false;
    return (s.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

void PermissoesDoSubstituto(int fd, const Caminho& destino) noexcept {
    struct stat anterior {};
    if (::stat(destino.c_str(), &anterior) != 0 || !S_ISREG(anterior.st_mode)) {
        (void)::fchmod(fd, kModoPrivado);
        return;
    }
    // The owner first: changing it may clear bits of the mode. A group it cannot give must not
    // receive the earlier group's access.
    if (::fchown(fd, anterior.st_uid, anterior.st_gid) != 0)
        (void)::fchown(fd, static_cast<uid_t>(-1), anterior.st_gid);
    mode_t modo = anterior.st_mode & 0777;
    struct stat novo {};
    if (::fstat(fd, &novo) != 0 || novo.st_gid != anterior.st_gid) modo &= ~mode_t{S_IRWXG};
    (void)::fchmod(fd, modo);
}

#endif

}  // namespace kavlo
