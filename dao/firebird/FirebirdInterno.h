// What the pieces of the Firebird layer share and its users need not see: the status every call
// reports into, the owner of disposable objects, the character sets the layer tells apart.
#pragma once

#include <firebird/Interface.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <locale.h>
#endif

#include "dao/firebird/Firebird.h"

#include "util/Erros.h"

namespace kavlo::fb {

// Character set numbers of the Firebird 3 catalogue (RDB$CHARACTER_SETS).
namespace charset {
constexpr unsigned Nenhum = 0;  // NONE
constexpr unsigned Octetos = 1;
constexpr unsigned Ascii = 2;
constexpr unsigned UnicodeFss = 3;
constexpr unsigned Utf8 = 4;
constexpr unsigned Latin1 = 21;  // ISO8859_1
constexpr unsigned Win1252 = 53;
}  // namespace charset

// Owns an object the client creates for the caller alone (a status, a parameter buffer builder):
// disposed of, never released.
struct Descartar {
    void operator()(Firebird::IDisposable* p) const noexcept {
        if (p) p->dispose();
    }
};
template <class T>
using Descartavel = std::unique_ptr<T, Descartar>;

// Owns a reference that has nothing to end before it is let go (the dispatcher, a metadata
// builder).
struct Soltar {
    void operator()(Firebird::IReferenceCounted* p) const noexcept {
        if (p) p->release();
    }
};
template <class T>
using Referencia = std::unique_ptr<T, Soltar>;

// What a failed call of the client left in its status, read for the operator: a view of the
// status vector, valid while the status it comes from is not used again.
class Diagnostico {
  public:
    explicit Diagnostico(Firebird::IStatus& status) : status_(status) {}

    // The error for the operator, in Portuguese alone, saying what to check; an error of an
    // unknown kind says the database refused and how to see the client's text (Original).
    std::string Mensagem() const;
    // The client's error codes and the texts it quoted.
    std::vector<long> Codigos() const;
    std::vector<std::string> Argumentos() const;
    // The texts quoted by the error `codigo` alone (those that follow it in the status).
    std::vector<std::string> ArgumentosDe(long codigo) const;
    // An ErroBanco of this failure with `mensagem` and, when a statement failed, its text.
    ErroBanco Erro(const std::string& mensagem, std::string sql = {}) const;
    // Where in the statement's text the client found the fault, when it said.
    std::optional<ErroBanco::Posicao> PosicaoNoSql() const;
    // The operating system's error code the engine reported with a file operation; 0 if none.
    int ErroDoSistema() const;
    // The client's own text, on one line.
    std::string Original() const;

  private:
    Firebird::IStatus& status_;
};

// The status the OO API's calls take, in the manner of Firebird::ThrowStatusWrapper: a call that
// fails throws at once, from checkException, an ErroBanco whose message is what was being done
// followed by the Portuguese explanation ("Não foi possível iniciar uma transação no banco de
// dados: ..."), with the client's codes, its text and, for a statement, the SQL beside it.
class Status final : public Firebird::BaseStatusWrapper<Status> {
  public:
    // `contexto` says what was being done.
    explicit Status(std::string contexto);
    // A statement's call: the statement says it (Comando::Falhar).
    explicit Status(const Comando& comando);
    ~Status();
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;

    // Called by every OO API call after the client returns.
    static void checkException(Status* status);

  private:
    std::string contexto_;
    const Comando* comando_ = nullptr;
};

// A status for the calls whose failure is looked at rather than thrown: ending an interface,
// which must never throw, and cutting an attachment from another thread.
class StatusVerificado final : public Firebird::CheckStatusWrapper {
  public:
    StatusVerificado() : CheckStatusWrapper(Mestre()->getStatus()) {}
    ~StatusVerificado() { dispose(); }  // disposes of the status it wraps
    StatusVerificado(const StatusVerificado&) = delete;
    StatusVerificado& operator=(const StatusVerificado&) = delete;

    bool Falhou() const { return (getState() & Firebird::IStatus::STATE_ERRORS) != 0; }
};

template <class T>
T Ler(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void Gravar(unsigned char* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// ASCII letters in upper case: column names are found regardless of case.
inline std::string Maiusculas(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

// Enough of a statement to recognise it; a batch of updates would bury the message.
std::string SqlParaMensagem(std::u16string_view sql);

#ifndef _WIN32
// While it lives, the calling thread's character type is UTF-8, so that the client takes a
// database path in UTF-8 for what it is (it converts paths through the locale's code set).
class NomesDeArquivoEmUtf8 {
  public:
    NomesDeArquivoEmUtf8();
    ~NomesDeArquivoEmUtf8();
    NomesDeArquivoEmUtf8(const NomesDeArquivoEmUtf8&) = delete;
    NomesDeArquivoEmUtf8& operator=(const NomesDeArquivoEmUtf8&) = delete;

  private:
    locale_t utf8_ = nullptr;
    locale_t anterior_ = nullptr;
};
#endif

}  // namespace kavlo::fb
