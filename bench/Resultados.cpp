#include "bench/Resultados.h"

#include <fmt/core.h>

#include <algorithm>
#include <optional>

#include "util/Codificacao.h"

namespace kavlo::bench {
namespace {

constexpr double kMetaGeracao = 1.1, kMetaImportacao = 1.1, kMetaImportar = 1.25,
                 kMetaEstorno = 1.0, kMetaCrescimentoPorServidor = 1.1;

long PicoMiBPermitido(int servidores) {
    return servidores <= 100000 ? 100 : 256;
}

std::string Marca(bool ok) {
    return ok ? "ok" : "ACIMA";
}

std::string Tempo(double segundos) {
    return Decimal(segundos, 2) + " s";
}

// One operation against what it is held to.
struct Linha {
    std::string operacao;
    const Figura& figura;
    const Figura* referencia;
    double meta;
};

std::string Razao(double valor, double referencia) {
    return Decimal(valor / referencia, 2) + "x";
}

constexpr std::string_view kFormato =
    "{:>10}  {:<8}  {:<24} {:>10} {:>11} {:>7} {:>9} {:<5} {:>5} {:<5} {:>9} {:>11} {:>7}\n";

void ImprimirLinha(int n, bool servidor, const Linha& l) {
    const Figura& f = l.figura;
    const Figura* r = l.referencia;
    const double razao = r ? f.segundos / r->segundos : 0;
    // Through the server the engine's work is the server's: the client's CPU says nothing.
    const bool cpu = !servidor;
    fmt::print(kFormato, n, servidor ? "servidor" : "embutido", l.operacao, Tempo(f.segundos),
               r ? Tempo(r->segundos) : "-", r ? Razao(f.segundos, r->segundos) : "-",
               r ? "<= " + Decimal(l.meta, 2) + "x" : "", r ? Marca(razao <= l.meta) : "",
               f.picoMiB, Marca(f.picoMiB <= PicoMiBPermitido(n)), cpu ? Tempo(f.cpu) : "-",
               cpu && r ? Tempo(r->cpu) : "-", cpu && r ? Razao(f.cpu, r->cpu) : "-");
}

}  // namespace

void Figura::Incluir(const Processo& p) {
    segundos = std::min(segundos, p.segundos);
    cpu = std::min(cpu, p.cpu);
    picoMiB = std::max(picoMiB, p.picoMiB);
}

std::string Decimal(double valor, int casas) {
    std::string r = fmt::format("{:.{}f}", valor, casas);
    std::replace(r.begin(), r.end(), '.', ',');
    return r;
}

void Imprimir(const Medidas& medidas, const std::vector<int>& tamanhos,
              const std::u16string& filtroTrivial) {
    fmt::print(
        "\nFiltro do hospedeiro: select matricula from SFP001FEV where matricula not in (...), "
        "{} matrículas na lista\n\n",
        kExcluidasPeloFiltro);
    fmt::print(kFormato, "servidores", "acesso", "operação", "tempo", "referência", "razão", "meta",
               "", "pico", "MiB", "CPU", "CPU ref.", "razão");
    for (const bool viaServidor : {false, true})
        for (const auto& [chave, m] : medidas) {
            const auto [n, servidor] = chave;
            if (servidor != viaServidor) continue;
            for (const Linha& l : {
                     Linha{"geração", m.geracao, &m.referenciaGeracao, kMetaGeracao},
                     Linha{"importação exportada", m.importacao, &m.referenciaImportacao,
                           kMetaImportacao},
                     Linha{"kavlo importar", m.importar, &m.importacao, kMetaImportar},
                     Linha{"kavlo estornar", m.estorno, &m.importacao, kMetaEstorno},
                     Linha{"geração, filtro trivial", m.geracaoTrivial, nullptr, 0},
                 })
                ImprimirLinha(n, servidor, l);
        }
    if (tamanhos.size() >= 2) {
        const int a = tamanhos.front(), b = tamanhos.back();
        const double meta = kMetaCrescimentoPorServidor * b / a;
        fmt::print("\n");
        for (const bool viaServidor : {false, true}) {
            if (!medidas.contains({a, viaServidor})) continue;
            const Medida &ma = medidas.at({a, viaServidor}), &mb = medidas.at({b, viaServidor});
            const double geracao = mb.geracao.segundos / ma.geracao.segundos;
            const double importacao = mb.importacao.segundos / ma.importacao.segundos;
            fmt::print(
                "crescimento de {} para {} servidores ({}): geração {}x {}, importação {}x "
                "{} (meta <= {}x)\n",
                a, b, viaServidor ? "servidor" : "embutido", Decimal(geracao, 1),
                Marca(geracao <= meta), Decimal(importacao, 1), Marca(importacao <= meta),
                Decimal(meta, 1));
        }
    }
    fmt::print(
        "\nMetas (cada tempo é {}; o pico de memória, o maior delas; pico "
        "<= 100 MiB\naté 100000 servidores e <= 256 MiB acima; o tempo de CPU, só no acesso "
        "embutido, em que o\nmotor do banco roda no próprio processo, é o do processo e mostra o "
        "trabalho quando a máquina\nestá dividida com outros):\n"
        "  geração <= {}x a referência: numa conexão WIN1252, o filtro avaliado uma vez e a "
        "leitura de\n"
        "    todas as linhas e colunas das três consultas da geração sem o filtro e dos eventos do "
        "mês (SFP017);\n"
        "  importação exportada (ImportarArquivo, sem a verificação) <= {}x a referência: o "
        "diário criado,\n"
        "    uma leitura dos eventos do mês e das colunas que a importação lê de SFPDXX02FEV, e "
        "numa transação\n"
        "    confirmada a linha da importação no diário e as parcelas que o modo estrito lança, "
        "cada uma com\n"
        "    sua linha no diário (valores de antes e depois do UPDATE ... RETURNING), em lotes "
        "EXECUTE BLOCK\n"
        "    de até 32 linhas com os mesmos slots;\n"
        "  kavlo importar (com a verificação do arquivo) <= {}x a importação exportada;\n"
        "  kavlo estornar (da importação exportada que acabou de ser medida) <= {}x o tempo "
        "dela;\n"
        "  crescimento de 100000 para 1000000 servidores <= 11x na geração e na importação "
        "(entre outros\n"
        "    tamanhos, {}x a razão entre eles);\n"
        "  filtro trivial: a geração com o filtro \"{}\", uma execução, só para comparar.\n",
        Repeticoes() == 1 ? std::string("o de uma execução")
                          : fmt::format("o melhor de {} execuções", Repeticoes()),
        Decimal(kMetaGeracao, 1), Decimal(kMetaImportacao, 1), Decimal(kMetaImportar, 2),
        Decimal(kMetaEstorno, 0), Decimal(kMetaCrescimentoPorServidor, 1), ParaUtf8(filtroTrivial));
}

namespace {
int repeticoes = 3;
}  // namespace

int Repeticoes() {
    return repeticoes;
}

void DefinirRepeticoes(int n) {
    repeticoes = n;
}

}  // namespace kavlo::bench
