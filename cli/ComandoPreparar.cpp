// kavlo preparar: what a site runs once, as the database's owner or SYSDBA, so that the library
// can work as a user that is neither: the import journal, the role KAVLO_OPERADOR with exactly the
// rights the library uses, and that role given to the user.
#include <fmt/core.h>

#include <map>
#include <memory>
#include <tuple>

#include "cli/Comandos.h"
#include "cli/Validacao.h"
#include "dao/BancoFolha.h"
#include "dao/Direitos.h"
#include "entry/PapelOperador.h"
#include "util/Codificacao.h"

namespace kavlo::cli {
namespace {

std::string Lista(const std::vector<std::string>& nomes) {
    std::string r;
    for (const std::string& n : nomes) r += (r.empty() ? "" : ", ") + n;
    return r;
}

// The rights granted now, object by object: a table's columns counted, not listed.
void MostrarConcedidas(const std::vector<Concessao>& concedidas) {
    std::map<std::tuple<std::string, std::string, std::string>, size_t> colunas;
    for (const Concessao& c : concedidas) {
        auto& n = colunas[{c.objeto, c.privilegio, c.tipo}];
        if (!c.coluna.empty()) ++n;
    }
    for (const auto& [chave, n] : colunas) {
        const auto& [objeto, privilegio, tipo] = chave;
        if (n == 0)
            fmt::print("  {}\n", DescreverDireito(privilegio, tipo, objeto));
        else
            fmt::print("  {} {} {} da tabela {}\n", VerboDoDireito(privilegio), n,
                       n == 1 ? "coluna" : "colunas", objeto);
    }
}

}  // namespace

Subcomando RegistrarPreparar(CLI::App& app) {
    struct Opcoes {
        std::string banco, usuario;
    };
    auto o = std::make_shared<Opcoes>();
    const std::string papel(kPapelOperador);
    CLI::App* sub = NovoSubcomando(
        app, "preparar",
        "Cria o diário de importações e o papel " + papel +
            ", com exatamente os direitos que a DllKavlo usa, e o concede a um usuário (uma vez, "
            "como dono do banco ou SYSDBA)");
    OpcaoBanco(sub, o->banco);
    sub->add_option("--usuario", o->usuario,
                    "Usuário do banco de dados que recebe o papel " + papel);
    sub->footer(
        "Exemplos:\n"
        "  kavlo preparar --banco localhost:/dados/folha.fdb --usuario ana\n"
        "  kavlo preparar --banco /dados/folha.fdb");
    return {sub,
            [o, papel] {
                fb::Conexao conexao;
                AbrirBancoDaFolha(conexao, DeUtf8(o->banco));
                const Preparo p = PrepararBanco(conexao, o->usuario);
                if (p.NadaMudou()) {
                    fmt::print("O banco já estava preparado: nada foi alterado.\n");
                } else {
                    if (p.diarioCriado) fmt::print("Diário de importações criado.\n");
                    if (p.papelCriado) fmt::print("Papel {} criado.\n", papel);
                    if (!p.concedidas.empty()) {
                        fmt::print("Direitos concedidos ao papel {}:\n", papel);
                        MostrarConcedidas(p.concedidas);
                    }
                    if (p.usuarioIncluido)
                        fmt::print("Papel {} concedido ao usuário {}.\n", papel,
                                   ParaMensagem(p.usuario));
                }
                if (!p.ausentes.meses.empty())
                    fmt::print("Meses sem tabelas neste banco, e sem direitos por isso: {}.\n",
                               Lista(p.ausentes.meses));
                if (!p.ausentes.objetos.empty())
                    fmt::print("Tabelas e colunas que a DllKavlo usa e este banco não tem: {}.\n",
                               Lista(p.ausentes.objetos));
                if (!p.ausentes.meses.empty() || !p.ausentes.objetos.empty())
                    fmt::print(
                        "Quando a folha criar tabelas, ou as recriar, execute kavlo "
                        "preparar de novo: os direitos são de cada tabela.\n");
                return 0;
            },
            "o que já tinha sido confirmado ficou; execute kavlo preparar de novo para completar"};
}

}  // namespace kavlo::cli
