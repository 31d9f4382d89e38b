// The system's file calls the line reader, the temporary file and the output set share: a failed
// call's reason in Portuguese, opening with the sharing each needs, and the locks that tell a file
// in use from one a killed process left behind.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <system_error>

#include "util/Caminhos.h"

namespace kavlo {

// The system's reason for a failed file operation, in Portuguese for the ones an operator meets.
std::string Motivo(int erro);
// The same for the file system library's errors, which carry errno values on POSIX.
std::string Motivo(const std::error_code& ec);

// Readers deny writers; the temporary files we write deny everybody (where the platform offers
// such sharing).
std::FILE* Abrir(const Caminho& caminho, bool escrita);

// "<base><marca>NNNNNN": a temporary or kept-aside file of the destination named `base`.
bool NomeDeResto(const std::string& nome, const std::string& base, std::string_view marca);

#ifndef _WIN32
// A lock for as long as the file is in use; a file whose lock can be taken was left behind.
int Travar(const Caminho& c);
bool Abandonado(const Caminho& c);
#endif
void Destravar(int& fd);

}  // namespace kavlo
