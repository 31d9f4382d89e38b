// Exceptions of the library. Messages are UTF-8 and written for the payroll operator:
// they say which file, line, servant and field failed and quote the offending text.
#pragma once

#include <stdexcept>
#include <string>

namespace kavlo {

// Base of every failure the library raises on purpose.
class Erro : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A text that does not convert to the number or date it must hold.
class ErroConversao : public Erro {
  public:
    using Erro::Erro;
};

// A failure reported by the database client, already wrapped with what was being done.
class ErroBanco : public Erro {
  public:
    using Erro::Erro;
};

// A file that cannot be read, created or written.
class ErroArquivo : public Erro {
  public:
    using Erro::Erro;
};

}  // namespace kavlo
