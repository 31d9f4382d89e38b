// Who may read a file. The files the library and the tool write carry personal data (CPFs, bank
// accounts, pay) and the site's settings file carries a password: on Linux a new file is its
// owner's alone, and a file that replaces an earlier one keeps that one's permissions and owner.
// On Windows a new file takes its folder's permissions, as every program's files do there.
#pragma once

#include "util/Caminhos.h"

namespace kavlo {

// Whether somebody other than the file's owner may read it: on Linux by its mode (group or
// others), on Windows by its access list (an entry that lets read anyone but its owner, the
// Administrators and SYSTEM; a missing list lets everybody). False when it cannot be told.
bool LegivelPorOutros(const Caminho& arquivo);

#ifdef _WIN32
// The same for a security descriptor (SECURITY_DESCRIPTOR) holding the owner and the access list.
bool LegivelPorOutros(void* descritor);
#endif

#ifndef _WIN32
// The permissions of a file just created at `fd` to replace `destino`: readable and writable by
// its owner only (0600, whatever the umask), or, when `destino` exists, that file's mode and, as
// far as the process may give it, its owner and group. Never fails: a file it cannot change keeps
// the mode it was created with, which the umask can only narrow.
void PermissoesDoSubstituto(int fd, const Caminho& destino) noexcept;

// The mode new files with personal data are created with, before the umask.
inline constexpr unsigned kModoPrivado = 0600;
#endif

}  // namespace kavlo
