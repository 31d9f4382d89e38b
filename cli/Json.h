// Summaries a program reads: with --json a command prints one JSON object on standard output, and
// nothing else there (progress and errors stay on standard error).
#pragma once

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace kavlo::cli {

// Fields keep the order they were written in, as the text summary has them.
using Json = nlohmann::ordered_json;

CLI::Option* OpcaoJson(CLI::App* sub, bool& json);

// An amount as whole cents (`nome`_centavos) and as the summary writes it (`nome`: "1.234,56").
void Dinheiro(Json& objeto, const std::string& nome, int64_t centavos);

// The object on one line of standard output. Text that is not UTF-8 (a path in another encoding)
// is written with U+FFFD in place of the bytes it cannot hold, never as invalid JSON.
void ImprimirJson(const Json& objeto);

}  // namespace kavlo::cli
