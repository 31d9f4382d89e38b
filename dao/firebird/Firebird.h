// Thin RAII layer over the Firebird 3 OO API. Every interface has exactly one owner from the
// moment it is obtained and is released on every path; a transaction rolls back unless it was
// committed. Every call of the client takes one status that throws ErroBanco when the call fails
// (Status, in FirebirdInterno.h, as the OO API's ThrowStatusWrapper), its message in Portuguese
// and the engine's own text beside it. Statements are prepared in SQL dialect 1, values travel as
// parameters; columns are found by name, read one by one (a NULL as empty or 0, or as
// std::optional), or a whole row at once into a struct that names its columns or into a tuple.
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
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
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

class Diagnostico;

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

// One column of a row read whole into a struct (Cursor::Linha): the column's name in the result
// and the member it fills. The member's type says how it is read (see Cursor::Como).
template <class Linha, class T>
struct Campo {
    std::string_view nome;
    T Linha::*membro;
};
template <class Linha, class T>
Campo(std::string_view, T Linha::*) -> Campo<Linha, T>;

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
    [[noreturn]] void Falhar(const Diagnostico& falha) const;
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
    // Where a parameter's value and its null flag lie in the input message.
    struct Lugar {
        unsigned valor, nulo;
    };
    void Preparar();
    void DescreverEntrada();
    void DescreverSaida();
    void MontarEntrada(const std::vector<Parametro>& parametros);
    unsigned ConferirQuantidade(const std::vector<Parametro>& parametros) const;
    Forma FormaDoParametro(unsigned i, const Parametro& p, std::string& texto) const;
    Forma FormaDoTexto(unsigned i, std::u16string_view valor, std::string& texto) const;
    void RefazerEntrada(const std::vector<Forma>& forma);
    void GravarParametro(unsigned i, const Parametro& p, const std::string& texto);

    Transacao& transacao_;
    std::u16string sql_;
    std::string oQue_;
    Posse<Firebird::IStatement> statement_;
    Posse<Firebird::IMessageMetadata> entradaOriginal_;
    std::vector<Forma> formaOriginal_;  // the length and character set of text places alone
    Posse<Firebird::IMessageMetadata> entrada_;
    std::vector<Forma> formaEntrada_;
    std::vector<Lugar> lugaresEntrada_;
    std::vector<unsigned char> bufferEntrada_;
    Posse<Firebird::IMessageMetadata> saida_;
    unsigned tamanhoSaida_ = 0;
    std::vector<Coluna> colunas_;
    std::unordered_map<std::string, unsigned> porNome_;
};

// A forward-only result set. Columns are found by name (case does not matter); a NULL reads as the
// empty text, 0 or the zero date; a CHAR value reads without the blanks that pad it to its width.
// A column that may be NULL is read as std::optional (Valor), and a whole row into a struct that
// names its columns (Linha) or into a tuple in the select list's order (Valores).
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
    int64_t Inteiro64(unsigned i) const;
    TDateTime Data(unsigned i) const;
    std::string Bytes(unsigned i) const;  // raw value of a text or octets column
    // Whether the column reads as the empty text, without building it.
    bool TextoVazio(unsigned i) const;

    bool Nulo(std::string_view nome) const { return Nulo(Indice(nome)); }
    std::u16string Texto(std::string_view nome) const { return Texto(Indice(nome)); }
    double Real(std::string_view nome) const { return Real(Indice(nome)); }
    int32_t Inteiro(std::string_view nome) const { return Inteiro(Indice(nome)); }
    TDateTime Data(std::string_view nome) const { return Data(Indice(nome)); }

    // The value as T, read as its reader above reads it: std::u16string (Texto), int32_t
    // (Inteiro), int64_t (Inteiro64), double (Real), fb::Data (Data: TDateTime is a double, which
    // reads as a number), fb::Octetos (Bytes); std::optional of one of them (Valor).
    template <class T>
    T Como(unsigned i) const;
    // A column that may be NULL: nothing for NULL, else its value as T.
    template <class T>
    std::optional<T> Valor(unsigned i) const {
        if (Nulo(i)) return std::nullopt;
        return Como<T>(i);
    }
    template <class T>
    std::optional<T> Valor(std::string_view nome) const {
        return Valor<T>(Indice(nome));
    }

    // The row as a struct T whose `static constexpr std::tuple kColunas` lists, as fb::Campo,
    // the column each member is read from. The columns are looked up at the first call (or at
    // PrepararLinha); a missing one throws ErroBanco naming it and the statement.
    template <class T>
    T Linha() const {
        T linha{};
        const std::vector<unsigned>& indices = IndicesDe<T>();
        [&]<size_t... K>(std::index_sequence<K...>) {
            (Preencher(linha, std::get<K>(T::kColunas), indices[K]), ...);
        }
        (std::make_index_sequence<std::tuple_size_v<decltype(T::kColunas)>>{});
        return linha;
    }
    // Looks the columns of T up now, so that a missing one fails before any row is handed on.
    template <class T>
    void PrepararLinha() const {
        IndicesDe<T>();
    }
    // The row as values in the select list's order; a list of another length throws ErroBanco
    // naming the statement.
    template <class... T>
    std::tuple<T...> Valores() const {
        ConferirColunas(sizeof...(T));
        return [&]<size_t... K>(std::index_sequence<K...>) {
            return std::tuple<T...>{Como<T>(static_cast<unsigned>(K))...};
        }
        (std::index_sequence_for<T...>{});
    }

  private:
    friend class Comando;
    using Coluna = Comando::Coluna;
    Cursor(Comando& comando, Posse<Firebird::IResultSet> resultado);
    const Coluna& Col(unsigned i) const;
    void ConferirColunas(size_t esperadas) const;
    template <class L, class M>
    void Preencher(L& linha, const Campo<L, M>& campo, unsigned i) const {
        linha.*(campo.membro) = Como<M>(i);
    }
    template <class T>
    const std::vector<unsigned>& IndicesDe() const {
        if (ligacao_ != &T::kColunas) {
            indices_ = std::apply(
                [&](const auto&... campo) { return std::vector<unsigned>{Indice(campo.nome)...}; },
                T::kColunas);
            ligacao_ = &T::kColunas;
        }
        return indices_;
    }
    std::u16string TextoDaColuna(unsigned i, bool compor) const;
    std::string_view ValorTexto(const Coluna& c) const;
    std::string Descrever(const Coluna& c) const;

    Comando* comando_;
    Posse<Firebird::IResultSet> resultado_;
    std::vector<unsigned char> buffer_;
    bool temLinha_ = false;
    // The columns of the last struct read whole, and which struct's they are.
    mutable const void* ligacao_ = nullptr;
    mutable std::vector<unsigned> indices_;
};

template <class T>
inline constexpr bool kOpcional = false;
template <class T>
inline constexpr bool kOpcional<std::optional<T>> = true;

template <class T>
T Cursor::Como(unsigned i) const {
    if constexpr (kOpcional<T>)
        return Valor<typename T::value_type>(i);
    else if constexpr (std::is_same_v<T, std::u16string>)
        return Texto(i);
    else if constexpr (std::is_same_v<T, int32_t>)
        return Inteiro(i);
    else if constexpr (std::is_same_v<T, int64_t>)
        return Inteiro64(i);
    else if constexpr (std::is_same_v<T, double>)
        return Real(i);
    else if constexpr (std::is_same_v<T, fb::Data>)
        return fb::Data{Data(i)};
    else if constexpr (std::is_same_v<T, Octetos>)
        return Octetos{Bytes(i)};
    else
        static_assert(!sizeof(T), "a column is read as one of the types Cursor::Como lists");
}

}  // namespace kavlo::fb
