// File access at the edge: reading a return file into lines and writing output files so that a
// failure never leaves a half-written file where a finished one is expected.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/Sha256.h"

namespace kavlo {

using Caminho = std::filesystem::path;

Caminho CaminhoDe(std::u16string_view texto);
// A path quoted in a message (see ParaMensagem).
std::string NomeParaMensagem(const Caminho& caminho);

// Whether two paths name the same file: the same file on disk where both exist (hard links and
// symbolic links included), otherwise the same absolute path once ".", ".." and the links of the
// part that exists are resolved; letter case does not count on Windows.
bool MesmoArquivo(const Caminho& a, const Caminho& b);

// A file a call reads or writes, and what it is for ("o arquivo de resultado").
struct PapelDeArquivo {
    std::string papel;
    Caminho caminho;
};
// Refuses, before anything is written, a call in which two of these are the same file: writing
// one would destroy the other. Entries of the same role are spellings of one file (the database
// as the host named it and as its engine names it) and are not held against each other. Throws
// Erro naming both roles and the file.
void ConferirArquivosDistintos(const std::vector<PapelDeArquivo>& arquivos);

// All bytes of a file, opened so that nobody may write it while it is read (where the platform
// offers such sharing). Throws ErroArquivo naming the file and the system's reason.
std::string LerBytes(const Caminho& caminho);

// A text's lines one at a time, from a file or from bytes in memory, holding only the line being
// read and one block of the bytes, so a file of any size is read in the same small memory.
// Decodes by byte-order mark (UTF-8, UTF-16 LE, UTF-16 BE; Windows-1252 without one) and splits at
// CR LF, CR or LF, in time linear in the size whatever the bytes are. A NUL ends the text; a final
// line end adds no empty line. A NUL followed by more than padding throws ErroArquivo naming the
// line, rather than drop what follows; that is decided when the NUL is met, before its line is
// given. Every byte read, those after a NUL too, goes into the SHA-256 of the text.
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
    bool aposCR_ = false;          // the last line ended at a CR: an LF next is its own
    Codificacao codificacao_ = Codificacao::Indefinida;
    size_t unidade_ = 1;
    std::string bytesDaLinha_;
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

// Encodes lines in Windows-1252, each followed by CR LF.
std::string LinhasWindows1252(const std::vector<std::u16string>& linhas);

// A file written beside its destination under a temporary name and moved into place only by
// Confirmar(); dropped without confirmation it is removed, and the destination is untouched.
// A process killed outright leaves such files behind: the next one for the same destination
// removes them (the destination's own ".tmpNNNNNN" and ".anteriorNNNNNN" files that no live
// process holds) and puts back an earlier file whose place is empty.
class ArquivoTemporario {
  public:
    explicit ArquivoTemporario(Caminho destino);
    ~ArquivoTemporario();
    ArquivoTemporario(const ArquivoTemporario&) = delete;
    ArquivoTemporario& operator=(const ArquivoTemporario&) = delete;

    void Escrever(std::string_view bytes);
    // Writes one line of text in Windows-1252 followed by CR LF.
    void EscreverLinha(std::u16string_view linha);
    // Flushes and closes; any write error surfaces here at the latest.
    void Fechar();
    // Replaces the destination with the finished file.
    void Confirmar();
    const Caminho& Destino() const { return destino_; }
    const Caminho& Temporario() const { return temporario_; }

  private:
    [[noreturn]] void FalhaEscrita(int erro);
    Caminho destino_;
    Caminho temporario_;
    std::FILE* arquivo_ = nullptr;
    bool confirmado_ = false;
};

// Puts finished files in place as one set: each file it replaces is kept aside until Concluir(),
// so that a failure before then (the third of three files, a commit that comes after the files)
// removes the new files and brings every earlier one back. Dropped unconcluded, it undoes.
class Substituicao {
  public:
    Substituicao() = default;
    ~Substituicao();
    Substituicao(const Substituicao&) = delete;
    Substituicao& operator=(const Substituicao&) = delete;

    // Moves a finished temporary file to its destination; on failure the whole set is undone.
    void Colocar(ArquivoTemporario& arquivo);
    // Drops the earlier files kept aside.
    void Concluir() noexcept;

  private:
    void Desfazer() noexcept;
    struct Item {
        Caminho destino;
        Caminho anterior;  // empty when nothing was there
        bool colocado = false;
        int trava = -1;  // held on the earlier file while it is kept aside
    };
    std::vector<Item> itens_;
    bool concluida_ = false;
};

}  // namespace kavlo
