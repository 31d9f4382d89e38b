// Subcommands of the kavlo tool; each registers its options and returns how to run it.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

#include "CadeiaHost.h"

namespace kavlo::cli {

struct Subcomando {
    CLI::App* app = nullptr;
    std::function<int()> executar;  // exit code
};

Subcomando RegistrarGerar(CLI::App& app);
Subcomando RegistrarImportar(CLI::App& app);
Subcomando RegistrarDemo(CLI::App& app);
Subcomando RegistrarImportacoes(CLI::App& app);
Subcomando RegistrarEstornar(CLI::App& app);

// A host string from a command-line (UTF-8) text.
CadeiaHost Host(const std::string& utf8);

// A subcommand with the Portuguese help flag.
CLI::App* NovoSubcomando(CLI::App& app, const std::string& nome, const std::string& descricao);

}  // namespace kavlo::cli
