// Subcommands of the kavlo tool; each registers its options and returns how to run it.
#pragma once

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <functional>
#include <string>

#include "CadeiaHost.h"
#include "import/Verificacao.h"

namespace kavlo::cli {

// A subcommand: its options, how to run it, and what an interruption leaves as it was, which it
// must say (the database work it cancels is found by Interrupcao, whatever it opened).
struct Subcomando {
    Subcomando(CLI::App* app_, std::function<int()> executar_, std::string seInterrompido_)
        : app(app_), executar(std::move(executar_)), seInterrompido(std::move(seInterrompido_)) {}

    CLI::App* app;
    std::function<int()> executar;  // exit code
    // What an interrupted run left as it was, for the line the tool prints.
    std::string seInterrompido;
};

Subcomando RegistrarGerar(CLI::App& app);
Subcomando RegistrarImportar(CLI::App& app);
Subcomando RegistrarDemo(CLI::App& app);
Subcomando RegistrarImportacoes(CLI::App& app);
Subcomando RegistrarEstornar(CLI::App& app);
Subcomando RegistrarVerificar(CLI::App& app);
Subcomando RegistrarPreparar(CLI::App& app);
Subcomando RegistrarLinha(CLI::App& app);

// Exit codes besides 0 (done), 1 (failed) and 2 (command line): the check found something that
// stops the import, and the operator interrupted the tool (128 + the signal).
constexpr int kSaidaVerificacao = 3;

// The check of a return file against the month's payroll, on a connection of its own.
struct ParaVerificar {
    std::string banco, mes, ano, retorno;
    bool estrito = true;
};
// `lido`, when given, receives the return file as the check read it, for the import to post from.
Verificacao VerificarAntes(const ParaVerificar& pedido,
                           std::optional<ArquivoDeRetorno>* lido = nullptr);
// The same on a connection the caller holds open.
Verificacao VerificarAntes(fb::Conexao& conexao, const ParaVerificar& pedido,
                           std::optional<ArquivoDeRetorno>* lido = nullptr);
// Prints the findings of one severity, at most `limite` of each kind (0: all); returns how many
// it left out.
size_t MostrarAchados(std::FILE* saida, const Verificacao& v, Gravidade g, size_t limite);
// Every finding, a line each, for a file.
std::string TextoDosAchados(const Verificacao& v);
// The check's figures and every finding, for --json.
nlohmann::ordered_json JsonDaVerificacao(const Verificacao& v);

// --detalhes: a database error shows its SQL too. The exported functions give a host the message
// alone, so with it the tool runs gerar and importar inside its own process.
bool& Detalhes();

// A host string from a command-line (UTF-8) text.
CadeiaHost Host(const std::string& utf8);

// A subcommand with the Portuguese help flag.
CLI::App* NovoSubcomando(CLI::App& app, const std::string& nome, const std::string& descricao);

}  // namespace kavlo::cli
