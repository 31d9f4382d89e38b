#include <fmt/core.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <memory>

#include "DllKavlo.h"
#include "cli/Comandos.h"
#include "cli/Json.h"
#include "cli/Progresso.h"
#include "cli/Validacao.h"
#include "entry/Chamadas.h"
#include "export/LayoutsKavlo.h"
#include "util/Caminhos.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"

namespace kavlo::cli {
namespace {

std::string Servidores(long long quantidade) {
    return std::to_string(quantidade) + (quantidade == 1 ? " servidor" : " servidores");
}

// The trailer of a file just written: its last line, with the record count at 2-11 and, in
// Margem.txt, the margin total at 12-26. The tool reads what a host would find on disk, but only
// the file's end: a state's margin file is hundreds of megabytes.
std::string Rodape(const std::string& pasta, const char* arquivo) {
    std::ifstream f(CaminhoDe(DeUtf8(pasta + arquivo)), std::ios::binary | std::ios::ate);
    if (!f) return {};
    const std::streamoff tamanho = f.tellg();
    const std::streamoff lido = std::min<std::streamoff>(tamanho, 4096);
    std::string fim(static_cast<size_t>(lido), '\0');
    f.seekg(tamanho - lido);
    if (!f.read(fim.data(), lido)) return {};
    while (!fim.empty() && (fim.back() == '\n' || fim.back() == '\r')) fim.pop_back();
    const size_t quebra = fim.find_last_of("\r\n");
    return ParaUtf8(DeWindows1252(quebra == std::string::npos ? fim : fim.substr(quebra + 1)));
}

// A field of a trailer read back where the layout puts it; empty when the line is shorter.
std::string CampoDoRodape(const std::string& rodape, Posicao p) {
    return rodape.size() >= static_cast<size_t>(p.Fim())
               ? rodape.substr(static_cast<size_t>(p.inicio - 1), static_cast<size_t>(p.largura))
               : std::string();
}

long long Quantidade(const std::string& rodape) {
    const std::string quantidade = CampoDoRodape(rodape, RODAPE_QUANTIDADE);
    return quantidade.empty() ? 0 : std::stoll(quantidade);
}

}  // namespace

Subcomando RegistrarGerar(CLI::App& app) {
    struct Opcoes {
        std::string mes, mesAnt, ano, banco, saida, filtro;
        bool json = false;
    };
    auto o = std::make_shared<Opcoes>();
    CLI::App* sub = NovoSubcomando(
        app, "gerar", "Gera Pessoas.csv, Margem.txt e Transferidos.txt de um mês da folha");
    OpcaoMes(sub, o->mes);
    OpcaoMes(sub, o->mesAnt, "--mes-anterior", "Mês anterior, para os transferidos (1 a 12)");
    OpcaoAno(sub, o->ano);
    OpcaoBanco(sub, o->banco);
    OpcaoTexto(sub, "--saida", o->saida, "Pasta que recebe os arquivos");
    OpcaoTexto(sub, "--filtro", o->filtro,
               "Select que devolve a coluna matricula dos servidores incluídos");
    OpcaoJson(sub, o->json);
    sub->footer(
        "Exemplos:\n"
        "  kavlo gerar --mes 2 --mes-anterior 1 --ano 2024 --banco /dados/folha.fdb \\\n"
        "              --saida /dados/saida --filtro \"select matricula from SFP001FEV\"\n"
        "  kavlo gerar --mes 1 --mes-anterior 12 --ano 2025 --banco localhost:/dados/folha.fdb \\\n"
        "              --saida /dados/saida --filtro \"select matricula from SFP001JAN\" --json");
    // A mistake of the command line, told before anything runs (and before a password is asked).
    sub->final_callback([o] {
        if (std::stoi(o->mesAnt) == std::stoi(o->mes))
            throw CLI::ValidationError(
                "--mes-anterior", o->mesAnt +
                                      " é o próprio mês da folha (--mes): nenhum servidor "
                                      "apareceria como transferido; informe o mês que antecede " +
                                      o->mes);
    });
    return {sub,
            [o] {
                // The library joins folder and name as text: the folder ends with its separator.
                if (o->saida.back() != '/' && o->saida.back() != '\\') o->saida += '/';
                ProgressoNoTerminal progresso;
                const auto inicio = std::chrono::steady_clock::now();
                if (Detalhes())
                    GerarArquivos({DeUtf8(o->mes), DeUtf8(o->mesAnt), DeUtf8(o->ano),
                                   DeUtf8(o->banco), DeUtf8(o->saida), DeUtf8(o->filtro)});
                else
                    GerarArquivo(Host(o->mes), Host(o->mesAnt), Host(o->ano), Host(o->banco),
                                 Host(o->saida), Host(o->filtro));
                const std::chrono::duration<double> tempo =
                    std::chrono::steady_clock::now() - inicio;

                const std::string margem = Rodape(o->saida, "Margem.txt");
                const long long pessoas = Quantidade(Rodape(o->saida, "Pessoas.csv"));
                const long long transferidos = Quantidade(Rodape(o->saida, "Transferidos.txt"));
                // Written as asked, but a filter that selects nobody is seldom what was meant.
                if (pessoas == 0 && Quantidade(margem) == 0 && transferidos == 0)
                    fmt::print(stderr,
                               "Aviso: os três arquivos foram gravados sem nenhum servidor: o "
                               "filtro não selecionou nenhum servidor da folha de {}/{}. Confira "
                               "o filtro (--filtro) e o mês.\n",
                               o->mes, o->ano);
                // Written with "." in the file; shown the Brazilian way, as the import's total is.
                const std::string campo = CampoDoRodape(margem, RODAPE_SOMA_MARGEM);
                std::u16string soma = DeUtf8(campo.empty() ? "0" : campo);
                if (auto p = soma.find(u'.'); p != std::u16string::npos) soma[p] = u',';
                const int64_t margemTotal = CentavosDoTexto(soma);
                if (o->json) {
                    Json j{{"comando", "gerar"},
                           {"mes", std::stoi(o->mes)},
                           {"mes_anterior", std::stoi(o->mesAnt)},
                           {"ano", std::stoi(o->ano)},
                           {"pasta", o->saida}};
                    Json pessoasJ{{"arquivo", "Pessoas.csv"},
                                  {"caminho", o->saida + "Pessoas.csv"},
                                  {"servidores", pessoas}};
                    Json margemJ{{"arquivo", "Margem.txt"},
                                 {"caminho", o->saida + "Margem.txt"},
                                 {"servidores", Quantidade(margem)}};
                    Dinheiro(margemJ, "margem_total", margemTotal);
                    Json transferidosJ{{"arquivo", "Transferidos.txt"},
                                       {"caminho", o->saida + "Transferidos.txt"},
                                       {"servidores", transferidos}};
                    j["arquivos"] = Json::array({pessoasJ, margemJ, transferidosJ});
                    j["segundos"] = std::round(tempo.count() * 100) / 100;
                    ImprimirJson(j);
                    return 0;
                }
                fmt::print("Arquivos gerados em {}\n", o->saida);
                fmt::print("  Pessoas.csv       {}\n", Servidores(pessoas));
                fmt::print("  Margem.txt        {}, margem total R$ {}\n",
                           Servidores(Quantidade(margem)), ReaisLegiveis(margemTotal));
                fmt::print("  Transferidos.txt  {}\n", Servidores(transferidos));
                std::string segundos = fmt::format("{:.2f}", tempo.count());
                if (auto p = segundos.find('.'); p != std::string::npos) segundos[p] = ',';
                fmt::print("Tempo: {} s\n", segundos);
                return 0;
            },
            "os arquivos anteriores foram mantidos"};
}

}  // namespace kavlo::cli
