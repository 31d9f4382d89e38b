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

// A parse error of the command line, in Portuguese, with a hint at --help.
std::string MensagemDeUso(const CLI::App& app, const CLI::Error& erro);

}  // namespace kavlo::cli
