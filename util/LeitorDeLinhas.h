// Reading a text file at the edge: all its bytes, or its lines one at a time in small memory,
// decoded by its byte-order mark.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/Caminhos.h"
#include "util/Sha256.h"

namespace kavlo {

// All bytes of a file, opened so that nobody may write it while it is read (where the platform
// offers such sharing). Throws ErroArquivo naming the file and the system's reason.
std::string LerBytes(const Caminho& caminho);

// A text's lines one at a time, from a file or from bytes in memory, holding only the line being
// read and one block of the bytes, so a file of any size is read in the same small memory.
// Decodes by byte-order mark (UTF-8, UTF-16 LE, UTF-16 BE; Windows-1252 without one), composes
// Unicode lines (Compor), and splits at CR LF, CR or LF, in time linear in the size whatever the
// bytes are. A NUL ends the text; a final line end adds no empty line. A NUL followed by more than
// padding throws ErroArquivo naming the line, rather than drop what follows; that is decided when
// the NUL is met, before its line is given. Every byte read, those after a NUL too, goes into the
// SHA-256 of the text.
class LeitorDeLinhas {
  public:
    static constexpr size_t kBloco = 64 * 1024;

    // Opened so that nobody may write the file while it is open (where the platform offers such
    // sharing). Errors name the file.
    explicit LeitorDeLinhas(const Caminho& caminho, size_t bloco = kBloco);
    // Bytes in memory, which must outlive the reader.
    static LeitorDeLinhas DeBytes(std::string_view bytes, size_t bloco = kBloco) {
        return LeitorDeLinhas(bytes, bloco);
    }
    ~LeitorDeLinhas();
    LeitorDeLinhas(const LeitorDeLinhas&) = delete;
    LeitorDeLinhas& operator=(const LeitorDeLinhas&) = delete;

    // The next line into `linha`; false when the text has no more.
    bool Proxima(std::u16string& linha);
    // Lines given so far.
    size_t Lidas() const { return lidas_; }
    // The last line given as it stands in the bytes: without its line end, and its line end (CR
    // LF, LF or CR in the text's encoding; empty for a last line that has none).
    std::string_view BytesDaLinha() const { return bytesDaLinha_; }
    std::string_view FimDaLinha() const { return fimDaLinha_; }
    // The byte-order mark the text begins with (empty without one), once a line was read.
    std::string_view Marca() const;
    // Text in the text's own encoding (Windows-1252 as Windows writes it, without a mark).
    std::string Codificar(std::u16string_view texto) const;
    // Reads what is left without decoding it and gives the SHA-256 of every byte; no line follows.
    std::string Hash();
    // Back to the first byte for another pass (of the same open file), with a new hash.
    void Rebobinar();
    // Called with each block of bytes as it is read, before any of its lines is given.
    void AoLer(std::function<void(std::string_view)> observador) {
        observador_ = std::move(observador);
    }

  private:
    LeitorDeLinhas(std::string_view bytes, size_t bloco);
    enum class Codificacao { Indefinida, Windows1252, Utf8, Utf16LE, Utf16BE };
    bool Encher();
    unsigned Unidade(size_t i) const;
    void Decodificar(std::u16string& linha) const;
    void ConferirDepoisDoNul();
    [[noreturn]] void FalhaLeitura(int erro) const;

    Caminho caminho_;  // empty for bytes in memory
    std::FILE* arquivo_ = nullptr;
    std::string_view memoria_;
    size_t posicaoMemoria_ = 0;
    size_t bloco_;
    std::string buffer_;
    size_t inicio_ = 0, fim_ = 0;  // bytes of buffer_ not yet taken
    bool esgotado_ = false;        // every byte is in the buffer
    bool terminado_ = false;       // no line follows
    Codificacao codificacao_ = Codificacao::Indefinida;
    size_t unidade_ = 1;
    std::string bytesDaLinha_, fimDaLinha_;
    size_t lidas_ = 0;
    Sha256Incremental hash_;
    std::optional<std::string> resumo_;
    std::function<void(std::string_view)> observador_;
};

// Every line at once, by the same rules.
std::vector<std::u16string> LinhasDoTexto(std::string_view bytes);
std::vector<std::u16string> LerLinhas(const Caminho& caminho);
// The lines of bytes already read from `caminho`; errors name the file.
std::vector<std::u16string> LinhasDoArquivo(const Caminho& caminho, std::string_view bytes);

}  // namespace kavlo
