#include "cli/Json.h"

#include <fmt/core.h>

#include "util/Numeros.h"

namespace kavlo::cli {

CLI::Option* OpcaoJson(CLI::App* sub, bool& json) {
    return sub->add_flag("--json", json,
                         "Mostra o resumo como um objeto JSON na saída padrão, para outro programa "
                         "ler (veja o README)");
}

void Dinheiro(Json& objeto, const std::string& nome, int64_t centavos) {
    objeto[nome + "_centavos"] = centavos;
    objeto[nome] = ReaisLegiveis(centavos);
}

void ImprimirJson(const Json& objeto) {
    fmt::print("{}\n", objeto.dump(-1, ' ', false, Json::error_handler_t::replace));
    std::fflush(stdout);
}

}  // namespace kavlo::cli
