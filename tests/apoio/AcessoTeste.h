// What the tests of the library's login and rights share: a copy of the built library in a
// folder of its own (so that a settings file beside it concerns that copy alone, whatever other
// tests run at the same time) and users of the local Firebird server that exist for one test.
// Programs are run through Ferramenta.h.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "DllKavlo.h"
#include "tests/apoio/Ferramenta.h"

namespace kavlo::teste {

// The library file copied into `pasta` and loaded from there, apart from every other copy.
class BibliotecaCopiada {
  public:
    BibliotecaCopiada(const std::filesystem::path& original, const std::filesystem::path& pasta);
    ~BibliotecaCopiada();
    BibliotecaCopiada(const BibliotecaCopiada&) = delete;
    BibliotecaCopiada& operator=(const BibliotecaCopiada&) = delete;

    decltype(&GerarArquivo) Gerar() const { return gerar_; }
    decltype(&ImportarArquivo) Importar() const { return importar_; }

  private:
    void* handle_ = nullptr;
    decltype(&GerarArquivo) gerar_ = nullptr;
    decltype(&ImportarArquivo) importar_ = nullptr;
};

// What standard error received while `f` ran in this process.
std::string ErroPadraoDurante(const std::function<void()>& f);

// A user of the local server, created through it as SYSDBA (on a connection to `local`, a
// "localhost:" database that must outlive it) with a name and password drawn for the test,
// dropped at the end.
class UsuarioDoServidor {
  public:
    explicit UsuarioDoServidor(std::u16string local);
    ~UsuarioDoServidor();
    UsuarioDoServidor(const UsuarioDoServidor&) = delete;
    UsuarioDoServidor& operator=(const UsuarioDoServidor&) = delete;
    const std::string& Nome() const { return nome_; }
    const std::string& Senha() const { return senha_; }

  private:
    std::u16string local_;
    std::string nome_, senha_;
};

}  // namespace kavlo::teste
