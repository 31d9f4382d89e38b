#include <fmt/core.h>

#include <chrono>
#include <map>
#include <memory>

#include "DllKavlo.h"
#include "cli/Comandos.h"
#include "cli/ResumoDaChamada.h"

namespace kavlo::cli {
namespace {

std::string Servidores(const std::string& quantidade) {
    return quantidade + (quantidade == "1" ? " servidor" : " servidores");
}

}  // namespace

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
                ResumoDaChamada resumo;
                const auto inicio = std::chrono::steady_clock::now();
                GerarArquivo(Host(o->mes), Host(o->mesAnt), Host(o->ano), Host(o->banco),
                             Host(o->saida), Host(o->filtro));
                const std::chrono::duration<double> tempo =
                    std::chrono::steady_clock::now() - inicio;

                std::map<std::string, std::string> r;
                for (auto& [chave, valor] : resumo.Ler()) r[chave] = valor;
                const std::string pasta = r.count("arquivos") ? r["arquivos"] : o->saida;
                fmt::print(stderr, "Arquivos gerados em {}\n", pasta);
                fmt::print(stderr, "  Pessoas.csv       {}\n", Servidores(r["pessoas"]));
                // Written with "." in the file; shown the Brazilian way, as the import's total is.
                std::string soma = r["soma_margem"];
                if (auto p = soma.find('.'); p != std::string::npos) soma[p] = ',';
                fmt::print(stderr, "  Margem.txt        {}, margem total R$ {}\n",
                           Servidores(r["margem"]), soma);
                fmt::print(stderr, "  Transferidos.txt  {}\n", Servidores(r["transferidos"]));
                std::string segundos = fmt::format("{:.2f}", tempo.count());
                if (auto p = segundos.find('.'); p != std::string::npos) segundos[p] = ',';
                fmt::print(stderr, "Tempo: {} s\n", segundos);
                return 0;
            }};
}

}  // namespace kavlo::cli
