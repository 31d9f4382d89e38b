// kavlo importacoes and kavlo estornar: the import journal, listed and undone.
#include <fmt/core.h>

#include <filesystem>
#include <memory>

#include "cli/Comandos.h"
#include "cli/Interrupcao.h"
#include "cli/Json.h"
#include "cli/Validacao.h"
#include "dao/BancoFolha.h"
#include "import/Estorno.h"
#include "util/ArquivoTemporario.h"
#include "util/Caminhos.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"

namespace kavlo::cli {
namespace {

std::string Quando(TDateTime data) {
    return ParaUtf8(FormatarData(data, u"dd/mm/yyyy hh:nn"));
}

std::string Linha(const ImportacaoRegistrada& i) {
    std::string estado = i.estornoQuando ? "estornada em " + Quando(*i.estornoQuando) + " por " +
                                               ParaMensagem(i.estornoUsuario)
                                         : "vigente";
    return fmt::format(
        "{:>5}  {}  {:02}/{}  {}@{}  {}  margem {}{}: {} descontadas, {} sem margem, {} sem slot, "
        "{} não encontradas, {} inativas; total R$ {}; {}",
        i.id, Quando(i.quando), i.mes, i.ano, ParaMensagem(i.usuario), ParaMensagem(i.maquina),
        ParaMensagem(i.arquivo), i.margemVerificada ? "verificada" : "não verificada",
        i.reimportacao ? ", reimportação" : "", i.descontadas, i.naoDescontadas, i.semSlot,
        i.naoEncontradas, i.inativas, ReaisLegiveis(i.totalCentavos), estado);
}

// A journal row for a program: dates as ISO 8601 text (local time, as the journal keeps them).
Json JsonDaImportacao(const ImportacaoRegistrada& i) {
    const auto iso = [](TDateTime d) { return ParaUtf8(FormatarData(d, u"yyyy-mm-dd hh:nn")); };
    Json j{{"importacao", i.id},
           {"quando", iso(i.quando)},
           {"mes", i.mes},
           {"ano", i.ano},
           {"usuario", ParaUtf8(i.usuario)},
           {"maquina", ParaUtf8(i.maquina)},
           {"arquivo", ParaUtf8(i.arquivo)},
           {"tabela", ParaUtf8(i.tabela)},
           {"margem_verificada", i.margemVerificada},
           {"reimportacao", i.reimportacao},
           {"descontadas", i.descontadas},
           {"nao_descontadas", i.naoDescontadas},
           {"sem_slot", i.semSlot},
           {"nao_encontradas", i.naoEncontradas},
           {"inativas", i.inativas}};
    Dinheiro(j, "total", i.totalCentavos);
    j["estornada"] = i.estornoQuando.has_value();
    if (i.estornoQuando) {
        j["estorno_quando"] = iso(*i.estornoQuando);
        j["estorno_usuario"] = ParaUtf8(i.estornoUsuario);
    }
    return j;
}

struct OpcoesEstorno {
    std::string banco;
    int32_t id = 0;
    bool simular = false, json = false;
};

// An undo that failed because the operator interrupted it may have gone through all the same: its
// commit was on its way when the connection was cut. The journal says, once whoever still holds
// the import's row (the undo's own transaction, on a server finishing it) has ended.
bool EstornoGravado(const OpcoesEstorno& o) {
    try {
        fb::Conexao conexao;
        AbrirBancoDaFolha(conexao, DeUtf8(o.banco));
        fb::Transacao t(conexao, fb::ModoTransacao::LeituraDoConfirmado);
        const auto importacao = BuscarImportacao(t, o.id);
        return importacao && importacao->estornoQuando;
    } catch (const Erro& e) {
        throw Erro("O estorno da importação " + std::to_string(o.id) +
                   " foi interrompido quando talvez já fosse confirmado, e não foi possível saber "
                   "se ele foi gravado (" +
                   e.what() + "). Confira com kavlo importacoes --banco '" + o.banco +
                   "': a importação aparece como estornada se ele foi gravado; se não, estorne de "
                   "novo.");
    }
}

// The full list of a refused undo goes to a file, beside the import's result file when that folder
// takes it, else in the current folder, under a name no file has yet; the screen gets the summary
// and the file's name.
std::string RecusaComLista(int32_t id, const EstornoRecusado& e) {
    const std::string nome = "ESTORNO" + std::to_string(id);
    std::vector<Caminho> lugares;
    if (!e.ResultadoDaImportacao().empty()) {
        const Caminho resultado = CaminhoDe(e.ResultadoDaImportacao());
        Caminho arquivo = resultado.stem();
        arquivo += "." + nome;
        arquivo += resultado.extension();
        lugares.push_back(resultado.parent_path() / arquivo);
    }
    lugares.push_back(std::filesystem::current_path() / ("kavlo." + nome + ".txt"));
    std::string texto;
    for (const std::string& l : e.Linhas()) texto += l + "\n";
    for (const Caminho& lugar : lugares) {
        try {
            Caminho destino = lugar;
            for (int n = 2; std::filesystem::exists(destino); ++n) {
                Caminho outro = lugar.stem();
                outro += "-" + std::to_string(n);
                outro += lugar.extension();
                destino = lugar.parent_path() / outro;
            }
            ArquivoTemporario f(destino);
            f.Escrever(texto);
            f.Confirmar();
            return e.Resumo() + "\nA lista completa, linha a linha (" +
                   std::to_string(e.Linhas().size()) + "), está em " + NomeParaMensagem(destino) +
                   ".";
        } catch (const std::exception&) {
        }
    }
    return std::string(e.what()) + "\n(a lista não pôde ser gravada num arquivo)";
}

}  // namespace

Subcomando RegistrarImportacoes(CLI::App& app) {
    struct Opcoes {
        std::string banco;
        bool json = false;
    };
    auto o = std::make_shared<Opcoes>();
    CLI::App* sub = NovoSubcomando(app, "importacoes",
                                   "Lista as importações registradas no diário do banco da folha");
    OpcaoBanco(sub, o->banco);
    OpcaoJson(sub, o->json);
    sub->footer(
        "Exemplos:\n"
        "  kavlo importacoes --banco /dados/folha.fdb\n"
        "  kavlo importacoes --banco localhost:/dados/folha.fdb --json");
    return {sub,
            [o] {
                fb::Conexao conexao;
                AbrirBancoDaFolha(conexao, DeUtf8(o->banco));
                fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
                const auto lista =
                    DiarioExiste(t) ? ListarImportacoes(t) : std::vector<ImportacaoRegistrada>{};
                if (o->json) {
                    Json itens = Json::array();
                    for (const auto& i : lista) itens.push_back(JsonDaImportacao(i));
                    ImprimirJson(Json{{"comando", "importacoes"}, {"importacoes", itens}});
                    return 0;
                }
                if (lista.empty()) fmt::print("Nenhuma importação registrada neste banco.\n");
                for (const auto& i : lista) fmt::print("{}\n", Linha(i));
                return 0;
            },
            "nada foi alterado"};
}

Subcomando RegistrarEstornar(CLI::App& app) {
    auto o = std::make_shared<OpcoesEstorno>();
    CLI::App* sub = NovoSubcomando(
        app, "estornar",
        "Desfaz os lançamentos de uma importação, devolvendo a cada coluna o valor de antes");
    OpcaoBanco(sub, o->banco);
    sub->add_option("--importacao", o->id, "Número da importação (veja kavlo importacoes)")
        ->required();
    sub->add_flag("--simular", o->simular, "Mostra o que seria desfeito, sem alterar nada");
    OpcaoJson(sub, o->json);
    sub->footer(
        "Exemplos:\n"
        "  kavlo estornar --banco /dados/folha.fdb --importacao 7 --simular\n"
        "  kavlo estornar --banco /dados/folha.fdb --importacao 7");
    return {sub,
            [o] {
                ResultadoEstorno r;
                try {
                    fb::Conexao conexao;
                    AbrirBancoDaFolha(conexao, DeUtf8(o->banco));
                    r = EstornarImportacao(conexao, o->id, o->simular);
                } catch (const EstornoRecusado& e) {
                    throw Erro(RecusaComLista(o->id, e));
                } catch (const Erro&) {
                    if (!Interrupcao::Cancelou() || o->simular || !EstornoGravado(*o)) throw;
                    if (o->json) {
                        ImprimirJson(Json{{"comando", "estornar"},
                                          {"simulacao", false},
                                          {"importacao", o->id},
                                          {"confirmado_apesar_da_interrupcao", true}});
                        return 0;
                    }
                    fmt::print(
                        "Importação {} estornada: a interrupção chegou quando o estorno já "
                        "era confirmado no banco.\n",
                        o->id);
                    return 0;
                }
                if (o->json) {
                    Json j{{"comando", "estornar"}, {"simulacao", o->simular},
                           {"importacao", o->id},   {"lancamentos", r.lancamentos},
                           {"linhas", r.linhas},    {"tabela", ParaUtf8(r.importacao.tabela)}};
                    Dinheiro(j, "total", r.importacao.totalCentavos);
                    ImprimirJson(j);
                    return 0;
                }
                fmt::print(
                    "{} {}: {} lançamentos em {} linhas de {} {} aos valores de antes da "
                    "importação (total R$ {}).\n",
                    o->simular ? "Simulação do estorno da importação" : "Importação",
                    o->simular ? fmt::format("{}", o->id) : fmt::format("{} estornada", o->id),
                    r.lancamentos, r.linhas, ParaUtf8(r.importacao.tabela),
                    o->simular ? "voltariam" : "voltaram",
                    ReaisLegiveis(r.importacao.totalCentavos));
                return 0;
            },
            "nenhum lançamento foi desfeito: o banco ficou como estava"};
}

}  // namespace kavlo::cli
