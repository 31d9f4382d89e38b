#include <fmt/core.h>

#include <memory>

#include "DllKavlo.h"
#include "cli/Comandos.h"

namespace kavlo::cli {

Subcomando RegistrarImportar(CLI::App& app) {
    struct Opcoes {
        std::string mes, ano, banco, resultado, retorno, folhas, verificaMargem = "S";
    };
    auto o = std::make_shared<Opcoes>();
    CLI::App* sub =
        NovoSubcomando(app, "importar", "Importa o arquivo de retorno da consignatária");
    sub->add_option("--mes", o->mes, "Mês da folha (1 a 12)")->required();
    sub->add_option("--ano", o->ano, "Ano da folha")->required();
    sub->add_option("--banco", o->banco, "Banco de dados da folha (arquivo, ou localhost:arquivo)")
        ->required();
    sub->add_option("--resultado", o->resultado, "Arquivo de resultado a gravar")->required();
    sub->add_option("--retorno", o->retorno, "Arquivo de retorno recebido da consignatária")
        ->required();
    sub->add_option("--folhas", o->folhas, "Folhas de pagamento envolvidas (ex.: MENSAL, ABONO)");
    sub->add_option(
           "--verifica-margem", o->verificaMargem,
           "\"S\" só desconta quando a margem cobre a parcela; outro valor desconta sempre")
        ->capture_default_str();
    return {sub, [o] {
                ImportarArquivo(Host(o->mes), Host(o->ano), Host(o->banco), Host(o->resultado),
                                Host(o->retorno), Host(o->folhas), Host(o->verificaMargem));
                fmt::print(stderr, "Importação concluída; resultado em {}\n", o->resultado);
                return 0;
            }};
}

}  // namespace kavlo::cli
