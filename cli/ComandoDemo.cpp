#include <fmt/core.h>

#include <chrono>
#include <memory>

#include "cli/Comandos.h"
#include "cli/Progresso.h"
#include "cli/Validacao.h"
#include "demonstracao/BancoDemo.h"
#include "util/Observacao.h"

namespace kavlo::cli {

Subcomando RegistrarDemo(CLI::App& app) {
    auto o = std::make_shared<demo::OpcoesDemo>();
    CLI::App* sub = NovoSubcomando(
        app, "demo", "Cria um banco de folha de demonstração e um arquivo de retorno");
    sub->add_option("--banco", o->banco, "Arquivo do banco a criar")->required()->check(NaoVazio());
    sub->add_option("--retorno", o->retorno, "Arquivo de retorno a gravar");
    sub->add_flag(
        "--substituir", o->substituir,
        "Substitui o banco e o retorno se já existirem, desde que criados por kavlo demo");
    sub->add_option("--servidores", o->servidores, "Quantidade de servidores")
        ->capture_default_str()
        ->check(NumeroEntre(1, demo::kMaximoServidores))
        ->type_name("NÚMERO");
    sub->add_option("--mes", o->mes, "Mês da folha; o mês anterior também é criado")
        ->capture_default_str()
        ->check(NumeroEntre(1, 12))
        ->type_name("NÚMERO");
    sub->add_option("--ano", o->ano, "Ano da folha")
        ->capture_default_str()
        ->check(NumeroEntre(1901, 9998))
        ->type_name("NÚMERO");
    sub->add_option("--semente", o->semente,
                    "Semente dos dados sorteados (mesma semente, mesmos dados)")
        ->capture_default_str();
    sub->footer(
        "Exemplos:\n"
        "  kavlo demo --banco /tmp/folha.fdb --retorno /tmp/retorno.txt\n"
        "  kavlo demo --banco /tmp/grande.fdb --retorno /tmp/grande.txt --servidores 100000 "
        "--substituir");
    return {
        sub,
        [o] {
            const auto inicio = std::chrono::steady_clock::now();
            // The demo runs in this process, not through the library's exports: the progress
            // the builder reports is this command's own.
            ProgressoNoTerminal progresso;
            Observacao observacao;
            struct Definida {
                explicit Definida(Observacao& o) { Observacao::Definir(&o); }
                ~Definida() { Observacao::Definir(nullptr); }
            } definida(observacao);
            const auto r = demo::CriarBancoDemo(*o);
            const std::chrono::duration<double> tempo = std::chrono::steady_clock::now() - inicio;
            fmt::print("Banco de demonstração criado em {} ({:.1f} s):\n", o->banco, tempo.count());
            fmt::print(
                "  {} servidores: {} ativos, {} transferidos de unidade, {} admitidos no mês\n",
                r.servidores, r.ativos, r.transferidos, r.novos);
            fmt::print("  {} eventos (funções, demissões e afastamentos)\n", r.eventos);
            if (!o->retorno.empty())
                fmt::print(
                    "  Retorno em {}: {} parcelas ({} de servidores inativos, {} sem "
                    "servidor na folha)\n",
                    o->retorno, r.linhasRetorno, r.linhasInativos, r.linhasDesconhecidas);
            return 0;
        },
        "nada foi criado"};
}

}  // namespace kavlo::cli
