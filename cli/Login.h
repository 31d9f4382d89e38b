// The tool's login to the payroll database. kavlo carries the library's code, so it reads the same
// settings file the library would read beside itself: "DllKavlo.conf" beside the kavlo program.
// --usuario and --papel go over it; a password the file does not give for that user is asked on
// the terminal without echo, or read as one line from standard input when that is not a terminal
// (for scripts). Only a database reached through a server needs one.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace kavlo::cli {

struct OpcoesLogin {
    std::string usuario, papel;
};

// --usuario and --papel, for every command that works on a payroll database.
void RegistrarLogin(CLI::App& app, OpcoesLogin& opcoes);

// Sets this process's login for a command on `banco` (its --banco). Throws Erro when the settings
// file is malformed or no password is given.
void DefinirLoginDaFerramenta(const OpcoesLogin& opcoes, const std::string& banco);

}  // namespace kavlo::cli
