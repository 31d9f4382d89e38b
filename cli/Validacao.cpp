#include "cli/Validacao.h"

#include <cctype>
#include <regex>

#include "cli/Ajuda.h"

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

CLI::Option* OpcaoMes(CLI::App* sub, std::string& mes, const std::string& nome,
                      const std::string& descricao) {
    return sub->add_option(nome, mes, descricao)
        ->required()
        ->check(NumeroEntre(1, 12))
        ->type_name("NÚMERO");
}

CLI::Option* OpcaoAno(CLI::App* sub, std::string& ano) {
    return sub->add_option("--ano", ano, "Ano da folha")
        ->required()
        ->check(NumeroEntre(1901, 9998))
        ->type_name("NÚMERO");
}

CLI::Option* OpcaoBanco(CLI::App* sub, std::string& banco) {
    return OpcaoTexto(sub, "--banco", banco,
                      "Banco de dados da folha (arquivo, ou localhost:arquivo)");
}

CLI::Option* OpcaoTexto(CLI::App* sub, const std::string& nome, std::string& valor,
                        const std::string& descricao) {
    return sub->add_option(nome, valor, descricao)->required()->check(NaoVazio());
}

CLI::Option* OpcaoVerificaMargem(CLI::App* sub, std::string& verificaMargem,
                                 const std::string& descricao) {
    return sub->add_option("--verifica-margem", verificaMargem, descricao)
        ->capture_default_str()
        ->check(UmDe({"S", "N"}))
        ->type_name("S|N");
}

namespace {

// The subcommand the command line chose, if any.
const CLI::App* Escolhido(const CLI::App& app) {
    const auto escolhidos = app.get_subcommands();
    return escolhidos.empty() ? nullptr : escolhidos.front();
}

std::vector<std::string> NomesDeSubcomandos(const CLI::App& app) {
    std::vector<std::string> nomes;
    for (const CLI::App* sub : app.get_subcommands({})) nomes.push_back(sub->get_name());
    return nomes;
}

std::string Lista(const std::vector<std::string>& nomes) {
    std::string r;
    for (size_t i = 0; i < nomes.size(); ++i)
        r += (i == 0 ? "" : i + 1 == nomes.size() ? " ou " : ", ") + nomes[i];
    return r;
}

// What the command line named that the tool does not know: an option of neither the subcommand
// nor the tool, or, before any subcommand, a word that names none. CLI11 reports these last, after
// a required option the mistyped one left out; they come first here, since they are the cause.
std::string Desconhecidos(const CLI::App& app) {
    const CLI::App* sub = Escolhido(app);
    const std::vector<std::string> resto = app.remaining(true);
    if (!sub) {
        // The subcommand's options mean nothing before the subcommand is known.
        for (const std::string& arg : resto) {
            if (arg.empty() || arg[0] == '-') continue;
            const auto nomes = NomesDeSubcomandos(app);
            const auto perto = MaisProximo(arg, nomes);
            return "subcomando desconhecido: " + arg +
                   (perto ? "; quis dizer " + *perto + "?"
                          : "; os subcomandos são " + Lista(nomes)) +
                   "\n";
        }
    }
    std::vector<std::string> opcoes;
    for (const CLI::App* a : {sub, &app}) {
        if (!a) continue;
        for (const CLI::Option* o : a->get_options()) {
            for (const auto& l : o->get_lnames()) opcoes.push_back("--" + l);
            for (const auto& c : o->get_snames()) opcoes.push_back("-" + c);
        }
    }
    std::string r;
    for (const std::string& arg : resto) {
        if (arg.size() < 2 || arg[0] != '-') continue;
        const std::string nome = arg.substr(0, arg.find('='));
        const auto perto = MaisProximo(nome, opcoes);
        r += "opção desconhecida: " + nome + (perto ? "; quis dizer " + *perto + "?" : "") + "\n";
    }
    return r;
}

}  // namespace

std::string MensagemDeUso(const CLI::App& app, const CLI::Error& erro) {
    const std::string dica =
        "Use kavlo --help (ou kavlo <subcomando> --help) para ver as opções.\n";
    if (std::string desconhecidos = Desconhecidos(app); !desconhecidos.empty()) {
        desconhecidos[0] = static_cast<char>(std::toupper(desconhecidos[0]));
        return desconhecidos + dica;
    }
    const std::string texto = erro.what();
    std::smatch m;
    std::string r;
    if (dynamic_cast<const CLI::RequiredError*>(&erro)) {
        if (texto.find("subcommand") == std::string::npos &&
            std::regex_match(texto, m, std::regex("(.+) is required")))
            r = "A opção " + m[1].str() + " é obrigatória.";
        else
            r = "Informe um subcomando: " + Lista(NomesDeSubcomandos(app)) + ".";
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
    return r + "\n" + dica;
}

}  // namespace kavlo::cli
