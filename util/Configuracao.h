// A site's own settings: a small text file of "chave = valor" lines that a site keeps beside the
// library. It may hold a password, so nothing read from it is ever quoted in a message: an error
// names the file and the line only.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "util/Caminhos.h"

namespace kavlo {

class Configuracao {
  public:
    struct Valor {
        std::string texto;  // UTF-8, without the blanks around it
        size_t linha = 0;
    };

    // The settings of `bytes`, read from `arquivo` (which only names it in messages). Lines are
    // "chave = valor"; blank lines and lines whose first character that is not a blank is "#"
    // count for nothing (a "#" elsewhere is part of the value: a password may hold one). Keys are
    // ASCII, in any case, and must be among `chaves`; each may appear once; a value may not be
    // empty. The text is UTF-8 or UTF-16 by byte-order mark, UTF-8 without one when it is valid
    // UTF-8, Windows-1252 otherwise. Throws ErroArquivo naming the file and the line at fault.
    static Configuracao Interpretar(const Caminho& arquivo, std::string_view bytes,
                                    std::initializer_list<std::string_view> chaves);
    // The same for the file itself; nothing when it does not exist.
    static std::optional<Configuracao> Ler(const Caminho& arquivo,
                                           std::initializer_list<std::string_view> chaves);

    Configuracao() = default;
    ~Configuracao();
    Configuracao(const Configuracao& outra) = default;
    Configuracao& operator=(const Configuracao& outra) = default;

    const Caminho& Arquivo() const { return arquivo_; }
    // The value of `chave` (lower case), if the file gives it.
    const Valor* Buscar(std::string_view chave) const;

  private:
    Caminho arquivo_;
    std::map<std::string, Valor, std::less<>> valores_;
};

// Overwrites a text that held a secret before its memory is let go, where the compiler cannot
// drop the writes as dead.
void Apagar(std::string& texto) noexcept;
void Apagar(std::u16string& texto) noexcept;

}  // namespace kavlo
