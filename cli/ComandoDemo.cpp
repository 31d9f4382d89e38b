#include <fmt/core.h>

#include <memory>

#include "cli/BancoDemo.h"
#include "cli/Comandos.h"

namespace kavlo::cli {

Subcomando RegistrarDemo(CLI::App& app) {
    auto o = std::make_shared<demo::OpcoesDemo>();
    CLI::App* sub = NovoSubcomando(
        app, "demo", "Cria um banco de folha de demonstração e um arquivo de retorno");
    sub->add_option("--banco", o->banco, "Arquivo do banco a criar (substituído se existir)")
        ->required();
    sub->add_option("--retorno", o->retorno, "Arquivo de retorno a gravar");
    sub->add_option("--servidores", o->servidores, "Quantidade de servidores")
        ->capture_default_str()
        ->check(CLI::Range(1, 100000));
    sub->add_option("--mes", o->mes, "Mês da folha; o mês anterior também é criado")
        ->capture_default_str()
        ->check(CLI::Range(1, 12));
    sub->add_option("--ano", o->ano, "Ano da folha")->capture_default_str();
    return {sub, [o] {
                const auto r = demo::CriarBancoDemo(*o);
                fmt::print(stderr, "Banco de demonstração criado em {}: {} servidores\n", o->banco,
                           r.servidores);
                return 0;
            }};
}

}  // namespace kavlo::cli
