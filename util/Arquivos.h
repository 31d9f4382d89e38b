// File access at the edge: reading a return file into lines and writing output files so that a
// failure never leaves a half-written file where a finished one is expected.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

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
// one would destroy the other. Throws Erro naming both roles and the file.
void ConferirArquivosDistintos(const std::vector<PapelDeArquivo>& arquivos);

// All bytes of a file, opened so that nobody may write it while it is read (where the platform
// offers such sharing). Throws ErroArquivo naming the file and the system's reason.
std::string LerBytes(const Caminho& caminho);

// Decodes by byte-order mark (UTF-8, UTF-16 LE, UTF-16 BE; Windows-1252 without one) and splits at
// CR LF, CR or LF, in time linear in the size whatever the bytes are. A NUL ends the text; a final
// line end adds no empty line. A NUL followed by more than padding throws ErroArquivo naming the
// line, rather than drop what follows; that is decided before anything is decoded.
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
