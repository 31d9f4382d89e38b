// Thin RAII layer over the Firebird 3 OO API. Every handle has exactly one owner and is released
// on every path; a transaction rolls back unless it was committed. Statements are prepared in SQL
// dialect 1 on a WIN1252 connection, values travel as parameters, columns are found by name.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "util/Datas.h"

namespace Firebird {
class IAttachment;
class ITransaction;
class IStatement;
class IResultSet;
class IMessageMetadata;
class IStatus;
class IMaster;
}  // namespace Firebird

namespace kavlo::fb {

// The client library's entry point; throws ErroBanco when the client cannot be loaded.
Firebird::IMaster* Mestre();

class Status;

// A date-time parameter (plain doubles go in as reals).
struct Data {
    TDateTime valor = 0;
};
// Raw bytes, for RDB$DB_KEY.
struct Octetos {
    std::string bytes;
};
struct Nulo {};

using Parametro = std::variant<Nulo, std::u16string, int64_t, double, Data, Octetos>;

class Conexao {
  public:
    Conexao();
    ~Conexao();
    Conexao(const Conexao&) = delete;
    Conexao& operator=(const Conexao&) = delete;

    // Attaches to `local` (a file path opens the database embedded; "host:path" through a
    // server) in dialect 1 with the WIN1252 connection character set.
    void Abrir(std::u16string_view local, std::string_view usuario, std::string_view senha);
    // Creates a new dialect-1 WIN1252 database at `local` and stays attached to it.
    void Criar(std::u16string_view local, std::string_view usuario, std::string_view senha);
    // Detaches; never throws.
    void Fechar() noexcept;
    bool Aberta() const { return attachment_ != nullptr; }
    const std::u16string& Local() const { return local_; }
    Firebird::IAttachment* Handle() const { return attachment_; }

  private:
    void Anexar(std::u16string_view local, std::string_view usuario, std::string_view senha,
                bool criar);
    Firebird::IAttachment* attachment_ = nullptr;
    std::u16string local_;
};

// How long a write transaction waits for a row another connection holds before it gives up.
inline constexpr int kEsperaPorBloqueio = 10;

enum class ModoTransacao {
    Leitura,  // read-only snapshot: every query of the call sees the same data
    Escrita,  // read-write snapshot; waits up to kEsperaPorBloqueio s for rows others hold
};

class Transacao {
  public:
    Transacao(Conexao& conexao, ModoTransacao modo);
    ~Transacao();  // rolls back what was not committed
    Transacao(const Transacao&) = delete;
    Transacao& operator=(const Transacao&) = delete;

    void Commit();
    void Rollback();
    bool Ativa() const { return transaction_ != nullptr; }
    Conexao& Dono() const { return conexao_; }
    Firebird::ITransaction* Handle() const;

  private:
    Conexao& conexao_;
    Firebird::ITransaction* transaction_ = nullptr;
};

class Cursor;

// A statement prepared once and run many times with different parameters.
class Comando {
  public:
    // `oQue` says what the statement is for ("ler os servidores do mês"); it goes into errors.
    Comando(Transacao& transacao, std::u16string_view sql, std::string oQue);
    Comando(Transacao& transacao, std::string_view sql, std::string oQue);
    ~Comando();
    Comando(const Comando&) = delete;
    Comando& operator=(const Comando&) = delete;

    Cursor Abrir(const std::vector<Parametro>& parametros = {});
    // Runs a statement without a result set; returns the number of rows it changed.
    uint64_t Executar(const std::vector<Parametro>& parametros = {});

    const std::string& OQue() const { return oQue_; }
    const std::u16string& Sql() const { return sql_; }
    [[noreturn]] void Falhar(const Status& status) const;

  private:
    friend class Cursor;
    void Preparar();
    void MontarEntrada(const std::vector<Parametro>& parametros);

    Transacao& transacao_;
    std::u16string sql_;
    std::string oQue_;
    Firebird::IStatement* statement_ = nullptr;
    Firebird::IMessageMetadata* entradaOriginal_ = nullptr;
    Firebird::IMessageMetadata* entrada_ = nullptr;
    std::vector<std::pair<unsigned, unsigned>> formaEntrada_;
    std::vector<unsigned char> bufferEntrada_;
    Firebird::IMessageMetadata* saida_ = nullptr;
};

// A forward-only result set. Columns are found by name (case does not matter); a NULL reads as the
// empty text, 0 or the zero date; a CHAR value reads without the blanks that pad it to its width.
class Cursor {
  public:
    Cursor(Cursor&& outro) noexcept;
    Cursor& operator=(Cursor&&) = delete;
    ~Cursor();

    bool Proximo();
    void Fechar();

    // Index of a column; throws ErroBanco naming the column and the statement when missing.
    unsigned Indice(std::string_view nome) const;
    std::optional<unsigned> IndiceSeHouver(std::string_view nome) const;
    unsigned Colunas() const { return static_cast<unsigned>(colunas_.size()); }
    const std::string& NomeColuna(unsigned i) const { return colunas_[i].nome; }

    bool Nulo(unsigned i) const;
    std::u16string Texto(unsigned i) const;
    double Real(unsigned i) const;
    int32_t Inteiro(unsigned i) const;
    TDateTime Data(unsigned i) const;
    std::string Bytes(unsigned i) const;  // raw value of a text or octets column
    // Whether the column reads as the empty text, without building it.
    bool TextoVazio(unsigned i) const;

    bool Nulo(std::string_view nome) const { return Nulo(Indice(nome)); }
    std::u16string Texto(std::string_view nome) const { return Texto(Indice(nome)); }
    double Real(std::string_view nome) const { return Real(Indice(nome)); }
    int32_t Inteiro(std::string_view nome) const { return Inteiro(Indice(nome)); }
    TDateTime Data(std::string_view nome) const { return Data(Indice(nome)); }

  private:
    friend class Comando;
    struct Coluna {
        std::string nome;  // upper case alias
        unsigned tipo, subtipo, tamanho, offset, offsetNulo, charset;
        int escala;
    };
    Cursor(Comando& comando, Firebird::IResultSet* resultado);
    const Coluna& Col(unsigned i) const;
    std::string_view ValorTexto(const Coluna& c) const;
    std::string Descrever(const Coluna& c) const;

    Comando* comando_;
    Firebird::IResultSet* resultado_;
    std::vector<Coluna> colunas_;
    std::unordered_map<std::string, unsigned> porNome_;
    std::vector<unsigned char> buffer_;
    bool temLinha_ = false;
};

}  // namespace kavlo::fb
