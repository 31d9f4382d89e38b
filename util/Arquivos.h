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

// All bytes of a file, opened so that nobody may write it while it is read (where the platform
// offers such sharing). Throws ErroArquivo naming the file and the system's reason.
std::string LerBytes(const Caminho& caminho);

// Decodes by byte-order mark (UTF-8, UTF-16 LE, UTF-16 BE; Windows-1252 without one) and splits at
// CR LF, CR or LF, in time linear in the size whatever the bytes are. A NUL ends the text; a final
// line end adds no empty line. A NUL followed by more than padding throws ErroArquivo naming the
// line, rather than drop what follows; that is decided before anything is decoded.
std::vector<std::u16string> LinhasDoTexto(std::string_view bytes);
std::vector<std::u16string> LerLinhas(const Caminho& caminho);

// Encodes lines in Windows-1252, each followed by CR LF.
std::string LinhasWindows1252(const std::vector<std::u16string>& linhas);

// A file written beside its destination under a temporary name and moved into place only by
// Confirmar(); dropped without confirmation it is removed, and the destination is untouched.
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
    };
    std::vector<Item> itens_;
    bool concluida_ = false;
};

}  // namespace kavlo
