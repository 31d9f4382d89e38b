// Exceptions of the library. Messages are UTF-8 and written for the payroll operator:
// they say which file, line, servant and field failed and quote the offending text.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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

// A failure reported by the database client, already wrapped with what was being done. The
// message is for the operator, in Portuguese alone; the client's error codes, the names it quoted,
// the statement and the engine's own (English) text stay beside it, for the code that can say more
// (a missing month table) and for a detailed view (kavlo --detalhes).
class ErroBanco : public Erro {
  public:
    // Where in a statement's text the client found its fault: line and column, from 1.
    struct Posicao {
        long linha = 0, coluna = 0;
    };

    explicit ErroBanco(const std::string& mensagem, std::vector<long> codigos = {},
                       std::vector<std::string> argumentos = {}, std::string sql = {},
                       std::string textoDoFirebird = {}, std::optional<Posicao> posicao = {})
        : Erro(mensagem),
          codigos_(std::move(codigos)),
          argumentos_(std::move(argumentos)),
          sql_(std::move(sql)),
          textoDoFirebird_(std::move(textoDoFirebird)),
          posicao_(posicao) {}

    bool Tem(long codigo) const {
        for (long c : codigos_)
            if (c == codigo) return true;
        return false;
    }
    // The texts the client quoted in its error (a table's name, a path).
    const std::vector<std::string>& Argumentos() const { return argumentos_; }
    // The statement that failed, when a statement did.
    const std::string& Sql() const { return sql_; }
    // What the engine said, on one line, as it said it; never part of the message.
    const std::string& TextoDoFirebird() const { return textoDoFirebird_; }
    // Where the statement's fault lies, when the client said.
    const std::optional<Posicao>& PosicaoNoSql() const { return posicao_; }
    // The same failure told another way.
    ErroBanco Com(const std::string& mensagem) const {
        return ErroBanco(mensagem, codigos_, argumentos_, sql_, textoDoFirebird_, posicao_);
    }

  private:
    std::vector<long> codigos_;
    std::vector<std::string> argumentos_;
    std::string sql_;
    std::string textoDoFirebird_;
    std::optional<Posicao> posicao_;
};

// A file that cannot be read, created or written.
class ErroArquivo : public Erro {
  public:
    using Erro::Erro;
};

}  // namespace kavlo
