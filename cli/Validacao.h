// The command line in Portuguese: validators whose messages the operator reads as they are, and
// CLI11's own parse errors put into Portuguese.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace kavlo::cli {

// A whole number between `minimo` and `maximo`.
CLI::Validator NumeroEntre(int minimo, int maximo);
// One of the texts given, exactly.
CLI::Validator UmDe(std::vector<std::string> valores);
// Anything but the empty text.
CLI::Validator NaoVazio();

// The options the payroll commands share, required and checked before anything runs.
CLI::Option* OpcaoMes(CLI::App* sub, std::string& mes, const std::string& nome = "--mes",
                      const std::string& descricao = "Mês da folha (1 a 12)");
CLI::Option* OpcaoAno(CLI::App* sub, std::string& ano);
CLI::Option* OpcaoBanco(CLI::App* sub, std::string& banco);
// A required text that may not be empty (a file, a folder, a filter).
CLI::Option* OpcaoTexto(CLI::App* sub, const std::string& nome, std::string& valor,
                        const std::string& descricao);
// S or N, "S" by default.
CLI::Option* OpcaoVerificaMargem(CLI::App* sub, std::string& verificaMargem,
                                 const std::string& descricao);

// A parse error of the command line, in Portuguese, with a hint at --help.
std::string MensagemDeUso(const CLI::App& app, const CLI::Error& erro);

}  // namespace kavlo::cli
