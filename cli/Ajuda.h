// The tool's help and its command-line mistakes, the way operators know them from other tools:
// columns aligned by what the terminal shows (an accented letter is one column, not its bytes),
// long descriptions wrapped under their column, and a mistyped name answered with the nearest one.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavlo::cli {

// Columns a UTF-8 text takes on a terminal: one per character, whatever its bytes.
size_t Colunas(std::string_view utf8);

// `nome` and `descricao` in two columns, the first `largura` wide (the description below it when
// the name does not fit), the description wrapped at `total` columns under itself.
std::string DuasColunas(const std::string& nome, const std::string& descricao, size_t largura,
                        size_t total);

// CLI11's formatter, with columns counted in characters and descriptions wrapped.
class FormatadorAjuda : public CLI::Formatter {
  public:
    std::string make_option(const CLI::Option* opcao, bool posicional) const override;
    std::string make_subcommand(const CLI::App* sub) const override;
    std::string make_description(const CLI::App* app) const override;
};

// The candidate nearest to `digitado` by edit distance, when near enough to be a typing mistake.
std::optional<std::string> MaisProximo(const std::string& digitado,
                                       const std::vector<std::string>& candidatos);

}  // namespace kavlo::cli
