// Who the library is in the payroll database. The design's login (SYSDBA with its fixed password)
// unless the site keeps its own in "DllKavlo.conf" beside the library file, as "chave = valor"
// lines: usuario, senha, papel. The library finds that file from its own location, never from
// what the host passes, and reads it again at each connection; the password goes nowhere but to
// the database client.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "dao/BancoFolha.h"
#include "util/Caminhos.h"
#include "util/Configuracao.h"

namespace kavlo {

inline constexpr std::string_view kArquivoDeConfiguracao = "DllKavlo.conf";

struct LoginBanco {
    std::string usuario{kUsuarioBanco};
    std::string senha{kSenhaBanco};
    std::string papel;  // empty: none
    Caminho arquivo;    // the settings file it came from; empty for the design's login

    LoginBanco() = default;
    LoginBanco(const LoginBanco&) = default;
    LoginBanco& operator=(const LoginBanco&) = default;
    ~LoginBanco() { Apagar(senha); }
};

// Whether two user or role names are the same to the server, which takes plain names in any case.
bool MesmoNomeNoBanco(std::string_view a, std::string_view b);

// The file that holds this code: the library (libDllKavlo.so, DllKavlo.dll), or the program it
// is linked into. Empty when the system does not say.
Caminho ArquivoDestaBiblioteca();

// The login that "DllKavlo.conf" in `pasta` gives (a key it lacks keeps the design's value, but a
// user named without a password has none); the design's login when the file does not exist.
// Throws ErroArquivo naming the file and line of a malformed file. A file that others than its
// owner may read is reported on standard error, once per process.
LoginBanco LoginDaPasta(const Caminho& pasta);

// The login every connection to the payroll takes: the one set for this process by DefinirLogin,
// otherwise the one beside ArquivoDestaBiblioteca().
LoginBanco LoginDoBanco();
// For a program that decides the login itself (the kavlo tool: its options, and the file beside
// the library it loads); nothing goes back to the file beside this code.
void DefinirLogin(std::optional<LoginBanco> login);

}  // namespace kavlo
