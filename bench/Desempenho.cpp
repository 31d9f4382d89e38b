// kavlo_desempenho: GerarArquivo and ImportarArquivo (strict mode) on demo payrolls of growing
// size, embedded and through a local server, beside the raw references the library cannot beat:
// fetching the rows of the same three queries plus one read of the month's events, and the same
// count of keyed updates in one transaction (batched in EXECUTE BLOCK through the server). Prints
// the times, rates, peak memory and the ratios.
//   kavlo_desempenho [sizes...]        (default 10000 100000)
// The operations run as the `kavlo` tool, a real host in a process of its own, so its peak
// memory is the call's. Server figures need a server on localhost (scripts/servidor-firebird.sh).
#include <fmt/core.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dao/BancoFolha.h"
#include "dao/DaoKavlo.h"
#include "dao/Firebird.h"
#include "demonstracao/BancoDemo.h"
#include "tests/apoio/ServidorTeste.h"
#include "util/Codificacao.h"

namespace fs = std::filesystem;
using namespace kavlo;

namespace {

using Relogio = std::chrono::steady_clock;

double Segundos(const std::function<void()>& f) {
    const auto inicio = Relogio::now();
    f();
    return std::chrono::duration<double>(Relogio::now() - inicio).count();
}

struct Processo {
    double segundos = 0;
    long picoMiB = 0;
};

// Runs the tool and returns its wall time and peak resident memory.
Processo Rodar(const std::vector<std::string>& argumentos,
               const std::map<std::string, std::string>& ambiente = {}) {
    const auto inicio = Relogio::now();
    const pid_t filho = ::fork();
    if (filho == 0) {
        for (const auto& [k, v] : ambiente) ::setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> argv;
        for (const auto& a : argumentos) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (!std::freopen("/dev/null", "w", stderr) || !std::freopen("/dev/null", "w", stdout))
            std::_Exit(127);
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
    int estado = 0;
    rusage uso{};
    ::wait4(filho, &estado, 0, &uso);
    Processo p;
    p.segundos = std::chrono::duration<double>(Relogio::now() - inicio).count();
    p.picoMiB = uso.ru_maxrss / 1024;
    if (!WIFEXITED(estado) || WEXITSTATUS(estado) != 0)
        throw std::runtime_error("falhou: " + argumentos[1]);
    return p;
}

const std::u16string kFiltro = u"select matricula from SFP001FEV";
constexpr int kRepeticoes = 3;

// Fetches every row and column of the three generation queries and the whole of SFP017.
double ReferenciaLeitura(const std::u16string& local) {
    return Segundos([&] {
        fb::Conexao c;
        AbrirBancoDaFolha(c, local);
        fb::Transacao t(c, fb::ModoTransacao::Leitura);
        for (const std::u16string& sql :
             {SqlPessoas(u"FEV", kFiltro), SqlMargem(u"FEV", kFiltro),
              SqlTransferidos(u"FEV", u"JAN", kFiltro), std::u16string(u"select * from SFP017")}) {
            fb::Comando q(t, sql, "medir a leitura");
            auto cur = q.Abrir();
            size_t bytes = 0;
            while (cur.Proximo())
                for (unsigned i = 0; i < cur.Colunas(); ++i)
                    bytes += cur.Nulo(i) ? 0 : cur.Texto(i).size();
            if (bytes == 0) throw std::runtime_error("leitura vazia");
        }
    });
}

// `quantas` keyed updates of the month's table in one committed transaction, one statement per
// row, or in EXECUTE BLOCK batches of 32; plus one read of the month's events. Run on a copy.
double ReferenciaAtualizacao(const std::u16string& local, size_t quantas, bool emLotes) {
    fb::Conexao c;
    AbrirBancoDaFolha(c, local);
    fb::Transacao t(c, fb::ModoTransacao::Escrita);
    std::vector<std::string> chaves;
    double s = Segundos([&] {
        fb::Comando eventos(t, std::string_view("select * from SFP017"),
                            "medir a leitura dos eventos");
        auto e = eventos.Abrir();
        while (e.Proximo()) {
        }
        fb::Comando sel(t, std::string_view("select rdb$db_key from SFPDXX02FEV where ativo = 'T'"),
                        "medir");
        auto cur = sel.Abrir();
        while (cur.Proximo() && chaves.size() < quantas) chaves.push_back(cur.Bytes(0u));
    });
    s += Segundos([&] {
        if (!emLotes) {
            fb::Comando upd(
                t,
                std::string_view(
                    "update SFPDXX02FEV set COD17 = ?, VALOR17 = ?, QUANT17 = ?, PERC17 = ?,"
                    " TEMPO17 = ?, MCVALOR = ?, RECALCULAR = 'S' where rdb$db_key = ?"),
                "medir as atualizações");
            for (const auto& k : chaves)
                if (upd.Executar({std::u16string(u"35"), 10.0, int64_t{10}, int64_t{1}, int64_t{10},
                                  90.0, fb::Octetos{k}}) != 1)
                    throw std::runtime_error("atualização sem linha");
            return;
        }
        constexpr size_t kLote = 32;
        std::map<size_t, std::unique_ptr<fb::Comando>> blocos;
        for (size_t inicio = 0; inicio < chaves.size(); inicio += kLote) {
            const size_t n = std::min(kLote, chaves.size() - inicio);
            auto& bloco = blocos[n];
            if (!bloco) {
                std::string params, corpo;
                for (size_t i = 0; i < n; ++i) {
                    const std::string r = std::to_string(i);
                    params += (i ? ", " : "") + ("K" + r) + " char(8) character set octets = ?";
                    corpo +=
                        "update SFPDXX02FEV set COD17 = '35', VALOR17 = 10, QUANT17 = 10, PERC17 = "
                        "1, TEMPO17 = 10,"
                        " MCVALOR = 90, RECALCULAR = 'S' where rdb$db_key = :K" +
                        r + ";\n";
                }
                bloco = std::make_unique<fb::Comando>(
                    t, "execute block (" + params + ") as begin\n" + corpo + "end",
                    "medir as atualizações em lote");
            }
            std::vector<fb::Parametro> p;
            for (size_t i = inicio; i < inicio + n; ++i) p.emplace_back(fb::Octetos{chaves[i]});
            bloco->Executar(p);
        }
    });
    s += Segundos([&] { t.Commit(); });
    return s;
}

struct Medida {
    double leitura = 0, geracao = 0, atualizacao = 0, lotes = 0, importacao = 0;
    long picoGeracao = 0, picoImportacao = 0;
    bool medida = false;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> tamanhos;
    for (int i = 1; i < argc; ++i) tamanhos.push_back(std::atoi(argv[i]));
    if (tamanhos.empty()) tamanhos = {10000, 100000};
    const std::string kavlo = KAVLO_FERRAMENTA;
    const fs::path pasta =
        fs::temp_directory_path() / ("kavlo-desempenho-" + std::to_string(std::random_device{}()));
    fs::create_directories(pasta);
    const bool servidor = teste::ServidorFirebirdResponde() && fs::is_directory("/tmp/firebird");
    const fs::path pastaServidor = fs::path("/tmp/firebird") / pasta.filename();
    if (servidor) {
        fs::create_directories(pastaServidor);
        fs::permissions(pastaServidor, fs::perms::all);
    }

    std::map<int, Medida> embutido, remoto;
    std::map<int, int> linhasRetorno;
    for (int n : tamanhos) {
        const fs::path modelo = pasta / ("modelo-" + std::to_string(n) + ".fdb");
        const fs::path retorno = pasta / ("retorno-" + std::to_string(n) + ".txt");
        demo::OpcoesDemo o;
        o.banco = modelo.string();
        o.retorno = retorno.string();
        o.servidores = n;
        fmt::print(stderr, "Criando a folha de demonstração de {} servidores...\n", n);
        const double criacao =
            Segundos([&] { linhasRetorno[n] = demo::CriarBancoDemo(o).linhasRetorno; });
        fmt::print(stderr, "  {:.1f} s\n", criacao);

        for (const bool viaServidor : {false, true}) {
            if (viaServidor && !servidor) continue;
            Medida& m = (viaServidor ? remoto : embutido)[n];
            const fs::path base = viaServidor ? pastaServidor : pasta;
            const fs::path banco = base / ("folha-" + std::to_string(n) + ".fdb");
            auto copiar = [&] {
                fs::copy_file(modelo, banco, fs::copy_options::overwrite_existing);
                fs::permissions(banco, fs::perms::owner_read | fs::perms::owner_write |
                                           fs::perms::group_read | fs::perms::group_write |
                                           fs::perms::others_read | fs::perms::others_write);
            };
            copiar();
            const std::string local = (viaServidor ? "localhost:" : "") + banco.string();
            const std::u16string local16 = DeUtf8(local);
            fmt::print(stderr, "Medindo {} servidores, {}...\n", n,
                       viaServidor ? "pelo servidor" : "embutido");
            ReferenciaLeitura(local16);  // warms the file cache for both sides
            // The machine is noisy: each figure is the best of a few runs.
            m.leitura = 1e9;
            for (int k = 0; k < kRepeticoes; ++k)
                m.leitura = std::min(m.leitura, ReferenciaLeitura(local16));
            const fs::path saida = pasta / "saida";
            fs::create_directories(saida);
            m.geracao = 1e9;
            for (int k = 0; k < kRepeticoes; ++k) {
                const Processo g = Rodar({kavlo, "gerar", "--mes", "2", "--mes-anterior", "1",
                                          "--ano", "2024", "--banco", local, "--saida",
                                          saida.string() + "/", "--filtro", ParaUtf8(kFiltro)});
                m.geracao = std::min(m.geracao, g.segundos);
                m.picoGeracao = std::max(m.picoGeracao, g.picoMiB);
            }
            m.atualizacao = m.lotes = m.importacao = 1e9;
            for (int k = 0; k < kRepeticoes; ++k) {
                // The references change rows: each runs on a fresh copy, and the import on another.
                // One statement per row through a server is slow enough to measure once.
                if (k == 0 || !viaServidor) {
                    m.atualizacao = std::min(
                        m.atualizacao, ReferenciaAtualizacao(
                                           local16, static_cast<size_t>(linhasRetorno[n]), false));
                    copiar();
                }
                m.lotes = std::min(
                    m.lotes,
                    ReferenciaAtualizacao(local16, static_cast<size_t>(linhasRetorno[n]), true));
                copiar();
                const Processo i =
                    Rodar({kavlo, "importar", "--mes", "2", "--ano", "2024", "--banco", local,
                           "--resultado", (saida / "resultado.txt").string(), "--retorno",
                           retorno.string(), "--folhas", "MENSAL", "--verifica-margem", "S"});
                m.importacao = std::min(m.importacao, i.segundos);
                m.picoImportacao = std::max(m.picoImportacao, i.picoMiB);
                copiar();
            }
            m.medida = true;
            fs::remove(banco);
        }
    }

    fmt::print("\n{:>9} {:>10} {:>9} {:>9} {:>8} {:>7} {:>9} {:>9} {:>9} {:>9} {:>8} {:>7}\n",
               "servidores", "acesso", "leitura", "geração", "razão", "MiB", "atualiz.", "lotes",
               "importa.", "linhas/s", "razão", "MiB");
    for (const auto& [rotulo, medidas] :
         {std::pair{"embutido", &embutido}, std::pair{"servidor", &remoto}}) {
        for (const auto& [n, m] : *medidas) {
            if (!m.medida) continue;
            const double referenciaImportacao =
                std::string(rotulo) == "servidor" ? m.lotes : m.atualizacao;
            fmt::print(
                "{:>10} {:>10} {:>8.2f}s {:>8.2f}s {:>7.2f}x {:>7} {:>8.2f}s {:>8.2f}s {:>8.2f}s "
                "{:>9.0f} {:>7.2f}x {:>7}\n",
                n, rotulo, m.leitura, m.geracao, m.geracao / m.leitura, m.picoGeracao,
                m.atualizacao, m.lotes, m.importacao, linhasRetorno[n] / m.importacao,
                m.importacao / referenciaImportacao, m.picoImportacao);
        }
    }
    fmt::print(
        "\nrazão da geração: tempo / leitura bruta das três consultas e dos eventos (meta <= "
        "1,5x)\n");
    fmt::print(
        "razão da importação: tempo / atualizações por chave numa transação e leitura dos "
        "eventos\n");
    fmt::print("  (embutido: um comando por linha; servidor: lotes EXECUTE BLOCK; meta <= 2x)\n");
    if (tamanhos.size() >= 2) {
        const int a = tamanhos.front(), b = tamanhos.back();
        for (const auto& [rotulo, medidas] :
             {std::pair{"embutido", &embutido}, std::pair{"servidor", &remoto}}) {
            if (!(*medidas)[a].medida || !(*medidas)[b].medida) continue;
            fmt::print(
                "crescimento de {} para {} servidores ({}): geração {:.1f}x, importação {:.1f}x "
                "(meta <= {:.0f}x)\n",
                a, b, rotulo, (*medidas)[b].geracao / (*medidas)[a].geracao,
                (*medidas)[b].importacao / (*medidas)[a].importacao, 1.1 * b / a);
        }
    }
    std::error_code ec;
    fs::remove_all(pasta, ec);
    if (servidor) fs::remove_all(pastaServidor, ec);
    return 0;
}
