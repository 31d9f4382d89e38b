// Thin RAII layer over the Firebird 3 OO API. Every interface has exactly one owner from the
// moment it is obtained and is released on every path; a transaction rolls back unless it was
// committed. Statements are prepared in SQL dialect 1, values travel as parameters, columns are
// found by name.
//
// Text: the connection speaks the character set NONE, so the server hands every text column over
// in its own character set and the statement's metadata says which one it is. Each column is read
// in a form this layer decodes exactly, whatever it holds: NONE and WIN1252 bytes as Windows-1252
// (NONE holds what the payroll application, a Windows-1252 program, wrote), ISO8859_1 and ASCII
// as Latin-1, UTF8 and UNICODE_FSS as UTF-8, and any other character set asked of the server as
// UTF-8 (the output message names a character set per column). Parameters go as Windows-1252 (as
// UTF-8 where the statement expects UTF8 or UNICODE_FSS), and string literals of the SQL text keep
// their Windows-1252 meaning (see TextoDoComando).
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
#include "util/Erros.h"

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

// Ends an interface the way its kind ends (an attachment is detached, a transaction rolled back,
// a statement freed, a cursor closed) and so lets go of it: each of those calls releases the
// interface when it succeeds; when it fails, the reference is released instead. Metadata is
// released. Never throws.
struct Encerrar {
    void operator()(Firebird::IAttachment* p) const noexcept;
    void operator()(Firebird::ITransaction* p) const noexcept;
    void operator()(Firebird::IStatement* p) const noexcept;
    void operator()(Firebird::IResultSet* p) const noexcept;
    void operator()(Firebird::IMessageMetadata* p) const noexcept;
};
// The one owner of an interface.
template <class T>
using Posse = std::unique_ptr<T, Encerrar>;

class Status;

// The text of a statement as it is sent on the layer's connection (character set NONE): UTF-8,
// except that a string literal holding more than ASCII goes as the hexadecimal of its
// Windows-1252 bytes behind the WIN1252 introducer (_WIN1252 x'C9'). Such a literal keeps the
// meaning it has on a WIN1252 connection: compared with a NONE column it matches the bytes the
// payroll application wrote, and the server converts it exactly to any other character set. A
// literal that Windows-1252 cannot hold goes as UTF-8 (_UTF8 x'...'); a literal that has its own
// introducer keeps it, its bytes in UTF-8 for UTF8 and UNICODE_FSS and in Windows-1252 otherwise.
std::string TextoDoComando(std::u16string_view sql);

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

// Whether the engine waits for each page write to reach the disk (forced writes). A new database
// has them on; a bulk load into a database nobody uses yet may attach with them off and switch
// them back on when done.
enum class EscritaForcada { Manter, Ligar, Desligar };

// The connection's character set: NONE, so that every column comes as stored (see above).
// WIN1252, where the server converts every text column and literal to it, is there only to
// measure what the conversions of a NONE connection cost.
enum class ConjuntoDaConexao { Nenhum, Win1252 };

class Conexao {
  public:
    Conexao();
    ~Conexao();
    Conexao(const Conexao&) = delete;
    Conexao& operator=(const Conexao&) = delete;

    // Attaches to `local` (a file path opens the database embedded; "host:path" through a
    // server) in dialect 1. The path may hold any character (it goes to the client in UTF-8).
    // With `papel`, the session takes that SQL role (the server ignores one not granted).
    void Abrir(std::u16string_view local, std::string_view usuario, std::string_view senha,
               EscritaForcada escrita = EscritaForcada::Manter, std::string_view papel = {},
               ConjuntoDaConexao conjunto = ConjuntoDaConexao::Nenhum);
    // Creates a new dialect-1 WIN1252 database at `local` and stays attached to it.
    void Criar(std::u16string_view local, std::string_view usuario, std::string_view senha,
               EscritaForcada escrita = EscritaForcada::Manter);
    // Detaches; never throws.
    void Fechar() noexcept;
    bool Aberta() const { return attachment_ != nullptr; }
    const std::u16string& Local() const { return local_; }
    Firebird::IAttachment* Handle() const { return attachment_.get(); }

  private:
    void Anexar(std::u16string_view local, std::string_view usuario, std::string_view senha,
                bool criar, EscritaForcada escrita, std::string_view papel,
                ConjuntoDaConexao conjunto);
    Posse<Firebird::IAttachment> attachment_;
    std::u16string local_;
};

// Ends, from any thread, the work of every attachment this process has open, whichever code
// opened it: an embedded one is shut down by its engine, whose running call then fails and rolls
// back; one through a server is cut on this side (the server rolls its transaction back), so that
// no call of this process waits on it any more. Attachments opened afterwards are not touched.
// Returns how many it reached.
int AbortarAnexos() noexcept;

// Whether the failure is a table that does not exist (a month whose tables are not there).
bool TabelaInexistente(const ErroBanco& erro);

// How long a write transaction waits for a row another connection holds before it gives up.
inline constexpr int kEsperaPorBloqueio = 10;

enum class ModoTransacao {
    Leitura,  // read-only snapshot: every query of the call sees the same data
    Escrita,  // read-write snapshot; waits up to kEsperaPorBloqueio s for rows others hold
    // Read-only, each row as last committed; a row another transaction is changing is waited for
    // (up to kEsperaPorBloqueio s) until that one ends, so what is read is settled.
    LeituraDoConfirmado,
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
    Posse<Firebird::ITransaction> transaction_;
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

    // The character set and collation of a text result column as the server describes it (the
    // collation 0 is the set's default); nothing for a column that is not text.
    struct Colacao {
        unsigned charset, colacao;
    };
    std::optional<Colacao> ColacaoDoTexto(unsigned i) const;
    // The same for an input parameter, as the server infers it from where the parameter stands
    // ("coluna = ?" takes the column's).
    unsigned Parametros() const;
    std::optional<Colacao> ColacaoDoParametro(unsigned i) const;

    const std::string& OQue() const { return oQue_; }
    const std::u16string& Sql() const { return sql_; }
    [[noreturn]] void Falhar(const Status& status) const;
    [[noreturn]] void Falhar(const std::string& problema) const;

  private:
    friend class Cursor;
    // How the bytes of a text column are turned into UTF-16.
    enum class Leitura : unsigned char { Windows1252, Latin1, Utf8, UnicodeFss, Octetos };
    struct Coluna {
        std::string nome;  // upper case alias
        unsigned tipo, tamanho, offset, offsetNulo;
        int escala;
        Leitura leitura;
        unsigned
            charset;  // of a text column as the server describes it, collation in the high byte
    };
    // The shape of one input parameter: its type, its length, its character set.
    struct Forma {
        unsigned tipo, tamanho, charset;
        bool operator==(const Forma&) const = default;
    };
    void Preparar();
    void DescreverSaida();
    void MontarEntrada(const std::vector<Parametro>& parametros);

    Transacao& transacao_;
    std::u16string sql_;
    std::string oQue_;
    Posse<Firebird::IStatement> statement_;
    Posse<Firebird::IMessageMetadata> entradaOriginal_;
    Posse<Firebird::IMessageMetadata> entrada_;
    std::vector<Forma> formaEntrada_;
    std::vector<unsigned char> bufferEntrada_;
    Posse<Firebird::IMessageMetadata> saida_;
    unsigned tamanhoSaida_ = 0;
    std::vector<Coluna> colunas_;
    std::unordered_map<std::string, unsigned> porNome_;
};

// A forward-only result set. Columns are found by name (case does not matter); a NULL reads as the
// empty text, 0 or the zero date; a CHAR value reads without the blanks that pad it to its width.
class Cursor {
  public:
    Cursor(Cursor&& outro) noexcept = default;
    Cursor& operator=(Cursor&&) = delete;
    ~Cursor() = default;

    bool Proximo();
    void Fechar();

    // Index of a column; throws ErroBanco naming the column and the statement when missing.
    unsigned Indice(std::string_view nome) const;
    std::optional<unsigned> IndiceSeHouver(std::string_view nome) const;
    unsigned Colunas() const { return static_cast<unsigned>(comando_->colunas_.size()); }
    const std::string& NomeColuna(unsigned i) const { return comando_->colunas_[i].nome; }

    bool Nulo(unsigned i) const;
    // The value as text; the text of a Unicode column (UTF8, UNICODE_FSS, converted by the
    // server) composed (Compor), as every width and comparison of the payroll's text wants.
    std::u16string Texto(unsigned i) const { return TextoDaColuna(i, true); }
    // The same without composing, for a name the library wrote itself and must find again as it
    // was (a path in the journal: a decomposed accent is another file name).
    std::u16string TextoComoGravado(unsigned i) const { return TextoDaColuna(i, false); }
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
    using Coluna = Comando::Coluna;
    Cursor(Comando& comando, Posse<Firebird::IResultSet> resultado);
    const Coluna& Col(unsigned i) const;
    std::u16string TextoDaColuna(unsigned i, bool compor) const;
    std::string_view ValorTexto(const Coluna& c) const;
    std::string Descrever(const Coluna& c) const;

    Comando* comando_;
    Posse<Firebird::IResultSet> resultado_;
    std::vector<unsigned char> buffer_;
    bool temLinha_ = false;
};

}  // namespace kavlo::fb
