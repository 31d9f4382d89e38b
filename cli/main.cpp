// kavlo: the command-line host of DllKavlo. It calls the library through its two exports, the
// way the payroll application does, and builds demo databases.
#include <fmt/core.h>

#include <ibase.h>
#include <signal.h>

#include <exception>

#include "cli/Ajuda.h"
#include "cli/Comandos.h"
#include "cli/Interrupcao.h"
#include "cli/Login.h"
#include "cli/Validacao.h"
#include "util/Codificacao.h"
#include "util/Erros.h"

namespace kavlo::cli {

bool& Detalhes() {
    static bool detalhes = false;
    return detalhes;
}

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
    // Before any subcommand exists: each takes its parent's formatter.
    auto f = std::make_shared<kavlo::cli::FormatadorAjuda>();
    app.formatter(f);
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
    // Before any thread exists, so that every thread the Firebird client starts inherits it.
    Interrupcao::Bloquear();
    // Named here, so that the usage lines say kavlo, not the path it was started by.
    CLI::App app{
        "kavlo: troca de dados de consignados entre a folha de pagamento e a consignatária.",
        "kavlo"};
    TraduzirAjuda(app);
    app.option_defaults()->group("Opções");
    app.set_help_flag("-h,--help", "Mostra esta ajuda e sai");
    app.require_subcommand(1);
    // An option of the tool as a whole (--detalhes, --usuario, --papel) is taken after the
    // subcommand too: a subcommand passes what it does not know to the tool.
    app.fallthrough();
    app.set_version_flag("--version", KAVLO_VERSAO, "Mostra a versão do kavlo e sai");
    app.add_flag("--detalhes", Detalhes(),
                 "Num erro do banco de dados, mostra também o texto do Firebird e o comando SQL "
                 "que falhou; antes ou depois do subcomando");
    app.footer(
        "Exemplos:\n"
        "  kavlo demo --banco /tmp/folha.fdb --retorno /tmp/retorno.txt\n"
        "  kavlo gerar --help\n"
        "Saída: 0 concluído; 1 falhou; 2 linha de comando errada; 3 a verificação impede a "
        "importação;\n"
        "130 ou 143 interrompido.");
    OpcoesLogin login;
    RegistrarLogin(app, login);
    const Subcomando subcomandos[] = {RegistrarGerar(app),     RegistrarImportar(app),
                                      RegistrarVerificar(app), RegistrarImportacoes(app),
                                      RegistrarEstornar(app),  RegistrarDemo(app),
                                      RegistrarPreparar(app),  RegistrarLinha(app)};
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        fmt::print("{}", app.help());
        return 0;
    } catch (const CLI::CallForVersion& e) {
        fmt::print("kavlo {}\n", e.what());
        return 0;
    } catch (const CLI::ParseError& e) {
        fmt::print(stderr, "{}", MensagemDeUso(app, e));
        return 2;
    }
    const Subcomando* escolhido = nullptr;
    for (const auto& s : subcomandos)
        if (s.app->parsed()) escolhido = &s;
    if (!escolhido) return 2;
    // Before the waiting thread starts: a password may be asked on the terminal.
    try {
        const CLI::Option* banco = escolhido->app->get_option_no_throw("--banco");
        DefinirLoginDaFerramenta(
            login, banco && banco->count() ? banco->as<std::string>() : std::string());
    } catch (const std::exception& e) {
        fmt::print(stderr, "Erro: {}\n", e.what());
        return 1;
    }
    Interrupcao::Esperar();
    int saida = 1;
    std::string erro, sql, firebird;
    try {
        saida = escolhido->executar();
    } catch (const kavlo::ErroBanco& e) {
        erro = e.what();
        sql = e.Sql();
        firebird = e.TextoDoFirebird();
    } catch (const std::exception& e) {
        erro = e.what();
    }
    Interrupcao::Terminou();
    if (const int sinal = Interrupcao::Recebido()) {
        if (!erro.empty() && Interrupcao::Cancelou()) {
            fmt::print(stderr, "Interrompido pelo operador ({}): a operação foi cancelada e {}.\n",
                       sinal == SIGINT ? "SIGINT" : "SIGTERM", escolhido->seInterrompido);
            saida = 128 + sinal;
        } else if (erro.empty()) {
            fmt::print(stderr,
                       "O pedido de interrupção chegou quando a operação já terminava: ela foi "
                       "concluída.\n");
        } else {
            fmt::print(stderr, "Erro: {}\n", erro);
        }
    } else if (!erro.empty()) {
        fmt::print(stderr, "Erro: {}\n", erro);
        // The engine's own text, in English, only when asked for.
        if (Detalhes() && !firebird.empty()) fmt::print(stderr, "Firebird: {}\n", firebird);
        if (Detalhes() && !sql.empty()) fmt::print(stderr, "SQL: {}\n", sql);
    }
    Interrupcao::Encerrar();
    // Stop the Firebird client's threads before the process ends, not while it unloads: an
    // embedded engine writes what it still holds and closes its files first, however long that
    // takes; a process never ends while its engine writes.
    fb_shutdown(0, fb_shutrsn_app_stopped);
    return saida;
}
