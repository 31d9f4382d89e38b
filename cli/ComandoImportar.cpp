#include <fmt/core.h>

#include <map>
#include <memory>
#include <vector>

#include "DllKavlo.h"
#include "cli/Comandos.h"
#include "cli/ResumoDaChamada.h"

namespace kavlo::cli {
namespace {

struct Resumo {
    std::map<std::string, std::string> valores;
    std::vector<std::string> naoEncontradas, inativas;
    std::string operator[](const std::string& chave) const {
        auto it = valores.find(chave);
        return it == valores.end() ? "0" : it->second;
    }
};

Resumo LerResumo(const ResumoDaChamada& resumo) {
    Resumo r;
    for (auto& [chave, valor] : resumo.Ler()) {
        if (chave == "nao_encontrada")
            r.naoEncontradas.push_back(valor);
        else if (chave == "inativa")
            r.inativas.push_back(valor);
        else
            r.valores[chave] = valor;
    }
    return r;
}

// "8 999999-9" -> "linha 8: 999999-9"
void ListarLinhas(const std::vector<std::string>& linhas) {
    for (const auto& l : linhas) {
        const auto espaco = l.find(' ');
        fmt::print("      linha {}: {}\n", l.substr(0, espaco),
                   espaco == std::string::npos ? "" : l.substr(espaco + 1));
    }
}

void MostrarResumo(const Resumo& r) {
    const bool simulacao = r["simulacao"] == "1";
    fmt::print("{}\n", simulacao
                           ? "Simulação concluída: nenhuma parcela foi gravada no banco de dados."
                           : "Importação concluída.");
    fmt::print("  Linhas lidas do arquivo de retorno: {} ({} de parcelas)\n", r["linhas"],
               r["detalhes"]);
    fmt::print("  Parcelas {}descontadas integralmente: {}\n", simulacao ? "que seriam " : "",
               r["descontadas_integral"]);
    fmt::print("  Parcelas descontadas em parte: {}\n", r["descontadas_parcial"]);
    fmt::print("  Parcelas não descontadas por falta de margem: {}\n", r["nao_descontadas"]);
    fmt::print("  Parcelas sem slot de desconto livre: {}\n", r["sem_slot"]);
    fmt::print("  Linhas com servidor não encontrado no mês: {}\n", r.naoEncontradas.size());
    ListarLinhas(r.naoEncontradas);
    fmt::print("  Linhas com servidor inativo no mês: {}\n", r.inativas.size());
    ListarLinhas(r.inativas);
    fmt::print("  Total descontado: R$ {}\n", r["total_descontado"]);
    fmt::print("  Arquivo de resultado: {}\n",
               r.valores.count("resultado") ? r.valores.at("resultado") : "");
    fmt::print("  Relatório de servidores sem margem: {}\n",
               r.valores.count("relatorio") ? r.valores.at("relatorio") : "");
}

}  // namespace

Subcomando RegistrarImportar(CLI::App& app) {
    struct Opcoes {
        std::string mes, ano, banco, resultado, retorno, folhas, verificaMargem = "S";
        bool simular = false;
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
    sub->add_flag("--simular", o->simular,
                  "Faz tudo e grava o resultado e o relatório, mas desfaz os lançamentos no banco");
    return {sub, [o] {
                ResumoDaChamada resumo;
                VariavelDaChamada s("KAVLO_SIMULAR_IMPORTACAO", o->simular ? "1" : "0");
                ImportarArquivo(Host(o->mes), Host(o->ano), Host(o->banco), Host(o->resultado),
                                Host(o->retorno), Host(o->folhas), Host(o->verificaMargem));
                MostrarResumo(LerResumo(resumo));
                return 0;
            }};
}

}  // namespace kavlo::cli
