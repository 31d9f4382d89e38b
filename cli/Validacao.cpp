#include "cli/Validacao.h"

#include <regex>

namespace kavlo::cli {

CLI::Validator NumeroEntre(int minimo, int maximo) {
    return CLI::Validator(
        [minimo, maximo](std::string& valor) -> std::string {
            const auto faixa =
                "informe um número de " + std::to_string(minimo) + " a " + std::to_string(maximo);
            size_t fim = 0;
            long n = 0;
            try {
                n = std::stol(valor, &fim);
            } catch (const std::exception&) {
                fim = 0;
            }
            if (valor.empty() || fim != valor.size())
                return "'" + valor + "' não é um número; " + faixa;
            if (n < minimo || n > maximo) return valor + " fora da faixa; " + faixa;
            return {};
        },
        "");
}

CLI::Validator UmDe(std::vector<std::string> valores) {
    std::string lista;
    for (const auto& v : valores) lista += (lista.empty() ? "" : " ou ") + v;
    return CLI::Validator(
        [valores, lista](std::string& valor) -> std::string {
            for (const auto& v : valores)
                if (valor == v) return {};
            return "'" + valor + "' não é aceito; informe " + lista;
        },
        "");
}

CLI::Validator NaoVazio() {
    return CLI::Validator(
        [](std::string& valor) -> std::string {
            return valor.empty() ? "o valor não pode ficar vazio" : std::string();
        },
        "");
}

std::string MensagemDeUso(const CLI::App& app, const CLI::Error& erro) {
    const std::string texto = erro.what();
    std::smatch m;
    std::string r;
    if (dynamic_cast<const CLI::RequiredError*>(&erro)) {
        if (texto.find("subcommand") == std::string::npos &&
            std::regex_match(texto, m, std::regex("(.+) is required")))
            r = "A opção " + m[1].str() + " é obrigatória.";
        else
            r = "Informe um subcomando: gerar, importar, verificar, importacoes, estornar ou demo.";
    } else if (dynamic_cast<const CLI::ValidationError*>(&erro)) {
        // Our validators speak Portuguese; CLI11 puts the option's name before them.
        r = std::regex_match(texto, m, std::regex("(--[^:]+): (.*)"))
                ? "Valor inválido em " + m[1].str() + ": " + m[2].str() + "."
                : "Valor inválido: " + texto + ".";
    } else if (dynamic_cast<const CLI::ConversionError*>(&erro)) {
        r = std::regex_match(texto, m, std::regex("Could not convert: (.+) = (.*)"))
                ? "Valor inválido em " + m[1].str() + ": '" + m[2].str() + "'."
                : "Valor inválido: " + texto + ".";
    } else if (dynamic_cast<const CLI::ArgumentMismatch*>(&erro)) {
        r = std::regex_match(texto, m, std::regex("([^:]+): .*"))
                ? "A opção " + m[1].str() + " precisa de um valor."
                : "Argumentos incompletos: " + texto + ".";
    } else if (dynamic_cast<const CLI::ExtrasError*>(&erro)) {
        r = std::regex_match(texto, m,
                             std::regex("The following arguments? (?:was|were) not "
                                        "expected: (.*)"))
                ? "Argumentos não esperados: " + m[1].str() + "."
                : "Argumentos não esperados: " + texto + ".";
    } else {
        r = "Linha de comando inválida: " + texto + ".";
    }
    (void)app;
    return r + "\nUse kavlo --help (ou kavlo <subcomando> --help) para ver as opções.\n";
}

}  // namespace kavlo::cli
