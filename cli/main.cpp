// kavlo: the command-line host of DllKavlo. It calls the library through its two exports, the
// way the payroll application does, and builds demo databases.
#include <fmt/core.h>

#include <exception>

#include "cli/Comandos.h"
#include "util/Codificacao.h"

namespace kavlo::cli {

CadeiaHost Host(const std::string& utf8) {
    return CadeiaHost(DeUtf8(utf8));
}

CLI::App* NovoSubcomando(CLI::App& app, const std::string& nome, const std::string& descricao) {
    CLI::App* sub = app.add_subcommand(nome, descricao);
    sub->group("Subcomandos");
    sub->option_defaults()->group("Opções");
    sub->set_help_flag("-h,--help", "Mostra esta ajuda e sai");
    return sub;
}

}  // namespace kavlo::cli

namespace {

void TraduzirAjuda(CLI::App& app) {
    auto f = app.get_formatter();
    for (const auto& [de, para] : {std::pair{"Usage", "Uso"},
                                   {"OPTIONS", "OPÇÕES"},
                                   {"Options", "Opções"},
                                   {"SUBCOMMAND", "SUBCOMANDO"},
                                   {"SUBCOMMANDS", "SUBCOMANDOS"},
                                   {"Subcommands", "Subcomandos"},
                                   {"REQUIRED", "OBRIGATÓRIO"},
                                   {"TEXT", "TEXTO"},
                                   {"INT", "NÚMERO"},
                                   {"UINT", "NÚMERO"},
                                   {"Positionals", "Posicionais"},
                                   {"Needs", "Requer"},
                                   {"Excludes", "Exclui"}})
        f->label(de, para);
    f->column_width(34);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kavlo::cli;
    CLI::App app{
        "kavlo: troca de dados de consignados entre a folha de pagamento e a consignatária."};
    TraduzirAjuda(app);
    app.option_defaults()->group("Opções");
    app.set_help_flag("-h,--help", "Mostra esta ajuda e sai");
    app.require_subcommand(1);
    const Subcomando subcomandos[] = {RegistrarGerar(app), RegistrarImportar(app),
                                      RegistrarImportacoes(app), RegistrarEstornar(app),
                                      RegistrarDemo(app)};
    CLI11_PARSE(app, argc, argv);
    try {
        for (const auto& s : subcomandos)
            if (s.app->parsed()) return s.executar();
    } catch (const std::exception& e) {
        fmt::print(stderr, "Erro: {}\n", e.what());
        return 1;
    }
    return 2;
}
