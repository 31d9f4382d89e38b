#include <fmt/core.h>

#include <memory>

#include "DllKavlo.h"
#include "cli/Comandos.h"

namespace kavlo::cli {

Subcomando RegistrarGerar(CLI::App& app) {
    struct Opcoes {
        std::string mes, mesAnt, ano, banco, saida, filtro;
    };
    auto o = std::make_shared<Opcoes>();
    CLI::App* sub = NovoSubcomando(
        app, "gerar", "Gera Pessoas.csv, Margem.txt e Transferidos.txt de um mês da folha");
    sub->add_option("--mes", o->mes, "Mês da folha (1 a 12)")->required();
    sub->add_option("--mes-anterior", o->mesAnt, "Mês anterior, para os transferidos (1 a 12)")
        ->required();
    sub->add_option("--ano", o->ano, "Ano da folha")->required();
    sub->add_option("--banco", o->banco, "Banco de dados da folha (arquivo, ou localhost:arquivo)")
        ->required();
    sub->add_option("--saida", o->saida, "Pasta que recebe os arquivos, com a barra final")
        ->required();
    sub->add_option("--filtro", o->filtro,
                    "Select que devolve a coluna matricula dos servidores incluídos")
        ->required();
    return {sub, [o] {
                GerarArquivo(Host(o->mes), Host(o->mesAnt), Host(o->ano), Host(o->banco),
                             Host(o->saida), Host(o->filtro));
                fmt::print(stderr, "Arquivos gerados em {}\n", o->saida);
                return 0;
            }};
}

}  // namespace kavlo::cli
