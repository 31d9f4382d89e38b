// Paths at the edge: from and to the library's UTF-16 text, quoted in messages, and whether two
// of them name the same file.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

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

}  // namespace kavlo
