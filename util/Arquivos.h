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
// The other way: a path as text.
std::u16string TextoDoCaminho(const Caminho& caminho);
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

// Encodes lines in Windows-1252, each followed by CR LF.
std::string LinhasWindows1252(const std::vector<std::u16string>& linhas);

// A file written beside its destination under a temporary name and moved into place only by
// Confirmar(); dropped without confirmation it is removed, and the destination is untouched.
// A process killed outright leaves such files behind: the next one for the same destination
// removes them (the destination's own ".tmpNNNNNN" and ".anteriorNNNNNN" files that no live
// process holds) and puts back an earlier file whose place is empty. An earlier file kept aside
// for a set still waiting to be settled (".pendenteNNNNNN" beside it, see Substituicao::Registrar)
// is left to AcertarColocacoes.
// On Linux the file is its owner's alone, or has the permissions and owner of the file it will
// replace (PermissoesDoSubstituto): it holds personal data.
class ArquivoTemporario {
  public:
    explicit ArquivoTemporario(Caminho destino);
    ~ArquivoTemporario();
    ArquivoTemporario(const ArquivoTemporario&) = delete;
    ArquivoTemporario& operator=(const ArquivoTemporario&) = delete;

    void Escrever(std::string_view bytes);
    // Writes one line of text in Windows-1252 as Windows writes it (ParaWindows1252MelhorAjuste)
    // followed by CR LF.
    void EscreverLinha(std::u16string_view linha);
    // Flushes and closes; any write error surfaces here at the latest.
    void Fechar();
    // Replaces the destination with the finished file.
    void Confirmar();
    const Caminho& Destino() const { return destino_; }
    const Caminho& Temporario() const { return temporario_; }
    // SHA-256 of every byte written, once closed.
    const std::string& Hash() const { return hash_; }

  private:
    [[noreturn]] void FalhaEscrita(int erro);
    Caminho destino_;
    Caminho temporario_;
    std::FILE* arquivo_ = nullptr;
    // The lock that tells other runs this temporary file is in use; held from its creation until
    // it is moved into place or removed, not only while it is being written.
    int trava_ = -1;
    bool confirmado_ = false;
    Sha256Incremental somador_;
    std::string hash_;
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

    // For a set whose fate is decided elsewhere once it is in place (an import's commit): before
    // any file moves, writes a durable record of the set (each destination, the name its earlier
    // file is kept under, the new file's SHA-256, and `decisao`, an opaque text naming what
    // decides) beside each destination and in PastaDasColocacoes(). This process holds the record
    // until the set is concluded, undone or left (Deixar); a later run that finds it unheld
    // settles it (AcertarColocacoes). The files must be closed. Throws ErroArquivo, nothing moved,
    // when the record cannot be written beside a destination.
    void Registrar(const std::vector<const ArquivoTemporario*>& arquivos, std::string decisao);
    // Moves a finished temporary file to its destination; on failure the whole set is undone.
    void Colocar(ArquivoTemporario& arquivo);
    // Drops the earlier files kept aside (and the record).
    void Concluir() noexcept;
    // Leaves the set as it stands, new files in place, earlier ones kept aside and the record
    // unheld, for a later run to settle by its decision (a commit whose outcome is unknown).
    void Deixar() noexcept;

  private:
    void Desfazer() noexcept;
    void SoltarRegistro(bool remover) noexcept;
    struct Item {
        Caminho destino;
        Caminho anterior;  // empty when nothing was there
        bool colocado = false;
        int trava = -1;  // held on the earlier file while it is kept aside
    };
    std::vector<Item> itens_;
    bool concluida_ = false;
    // The record, when the set has one: the earlier files' names chosen in advance, and the
    // record's copies, held.
    std::vector<std::pair<Caminho, Caminho>> anteriores_;  // destination, kept-aside name
    std::vector<Caminho> registros_;
    std::vector<int> travasDosRegistros_;
};

// Where a process keeps a copy of each record of a set it is placing (Substituicao::Registrar),
// so that any later run finds those a dead process left, whatever its destinations:
// $XDG_STATE_HOME/kavlo, else ~/.local/state/kavlo; %LOCALAPPDATA%\DllKavlo on Windows. Empty
// when there is no such folder.
Caminho PastaDasColocacoes();

// A set of files a process placed and then died, or left (Deixar), before its fate was known.
struct ColocacaoPendente {
    struct Item {
        Caminho destino;
        Caminho anterior;  // where the earlier file is kept; empty when there was none
        std::string hash;  // SHA-256 of the new file
    };
    std::string decisao;
    std::vector<Item> itens;
    std::vector<Caminho> registros;  // the record's copies
};

enum class DestinoDaColocacao {
    Valer,     // the new files stand: the earlier ones kept aside go
    Desfazer,  // the earlier files come back; a new file whose place was empty goes
    Manter,    // undecided: everything stays, record included, for a later run
};

struct ColocacaoAcertada {
    ColocacaoPendente colocacao;
    DestinoDaColocacao destino;
    // Destinations that hold neither the new file nor the earlier one any more (somebody wrote
    // there since): left as they are, their earlier file still kept aside.
    std::vector<ColocacaoPendente::Item> alterados;
};

// Settles each record that no live process holds, found beside `destinos` and in
// PastaDasColocacoes(), by what `decidir` says of it. A destination that holds another file than
// the set's is never overwritten nor removed. Returns what was done, a set each.
std::vector<ColocacaoAcertada> AcertarColocacoes(
    const std::vector<Caminho>& destinos,
    const std::function<DestinoDaColocacao(const ColocacaoPendente&)>& decidir);

}  // namespace kavlo
