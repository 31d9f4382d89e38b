// kavlo_desempenho: GerarArquivo and ImportarArquivo (strict mode) on demo payrolls of growing
// size, embedded and through a local server, beside raw references measured in the same run, and
// against the targets a state-sized payroll inside a 32-bit host needs:
// - generation, with a host filter of the kind hosts keep (a select that leaves out about 1,400
//   registrations by a literal list), within 1.3x of "the filter evaluated once plus a fetch of the
//   rows the files need": the filter's rows fetched once, every row and column of the three
//   generation queries without the filter, and one read of the month's events;
// - import within 1.25x of "the month's events plus the active rows plus one batched update per
//   servant named in the return file": one read of the events, the active rows of the month's
//   deduction table (the columns the import reads), and one keyed update per distinct servant the
//   return file names, in EXECUTE BLOCK batches of 32 by RDB$DB_KEY, in one committed transaction;
// - peak resident memory of either operation within 100 MiB up to 100,000 servants and 256 MiB
//   beyond (1,000,000), and time growing at most 11x from 100,000 to 1,000,000 servants.
//   kavlo_desempenho [sizes...]        (default 100000 1000000)
// The operations run as the `kavlo` tool, a real host in a process of its own, so its peak
// memory is the call's. Every time is the best of three runs, each import and each update
// reference on a fresh copy of the database. Progress goes to standard error, the table to
// standard output. Server figures need a server on localhost (scripts/servidor-firebird.sh).
#include <fcntl.h>
#include <fmt/core.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "bench/PastaDoBench.h"
#include "dao/BancoFolha.h"
#include "dao/DaoKavlo.h"
#include "dao/Firebird.h"
#include "demonstracao/BancoDemo.h"
#include "import/ArquivoRetorno.h"
#include "import/Lancamento.h"
#include "tests/apoio/ServidorTeste.h"
#include "util/Arquivos.h"
#include "util/Codificacao.h"

namespace fs = std::filesystem;
using namespace kavlo;

namespace {

using Relogio = std::chrono::steady_clock;

constexpr int kRepeticoes = 3;
// Registrations the host's filter leaves out.
constexpr size_t kExcluidasPeloFiltro = 1400;
constexpr size_t kLoteDeAtualizacoes = 32;
constexpr double kMetaGeracao = 1.3, kMetaImportacao = 1.25, kMetaCrescimentoPorServidor = 1.1;

double Segundos(const std::function<void()>& f) {
    const auto inicio = Relogio::now();
    f();
    return std::chrono::duration<double>(Relogio::now() - inicio).count();
}

long PicoMiBPermitido(int servidores) {
    return servidores <= 100000 ? 100 : 256;
}

struct Processo {
    double segundos = 0;
    long picoMiB = 0;
};

bool Enviar(int fd, const void* dados, size_t n) {
    const auto* p = static_cast<const char*>(dados);
    while (n > 0) {
        const ssize_t k = ::write(fd, p, n);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

bool Receber(int fd, void* dados, size_t n) {
    auto* p = static_cast<char*>(dados);
    while (n > 0) {
        const ssize_t k = ::read(fd, p, n);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

struct Desfecho {
    int estado = 0;
    long picoKiB = 0;
    double segundos = 0;
};

// Runs the tool from a process of its own, forked first thing while the benchmark is still small.
// A process's peak memory starts from what it was forked from (Linux counts the resident pages of
// the parent at the fork, and the parent's own peak when they share memory until the exec), and the
// benchmark holds the database engine and the return file's keys: forked from it, the tool would be
// charged for them.
class Lancador {
  public:
    Lancador() {
        int pedidos[2], respostas[2];
        if (::pipe(pedidos) != 0 || ::pipe(respostas) != 0)
            throw std::runtime_error("não foi possível criar os canais do lançador");
        pid_ = ::fork();
        if (pid_ < 0) {
            for (int fd : {pedidos[0], pedidos[1], respostas[0], respostas[1]}) ::close(fd);
            throw std::runtime_error("não foi possível iniciar o lançador");
        }
        if (pid_ == 0) {
            ::close(pedidos[1]);
            ::close(respostas[0]);
            Servir(pedidos[0], respostas[1]);
        }
        ::close(pedidos[0]);
        ::close(respostas[1]);
        pedidos_ = pedidos[1];
        respostas_ = respostas[0];
    }
    ~Lancador() {
        ::close(pedidos_);
        ::close(respostas_);
        ::waitpid(pid_, nullptr, 0);
    }
    Lancador(const Lancador&) = delete;
    Lancador& operator=(const Lancador&) = delete;

    // Runs the tool with `argumentos` and returns its wall time and peak resident memory. Its
    // standard error goes to `erros`, whose end a failure quotes.
    Processo Rodar(std::vector<std::string> argumentos, const fs::path& erros) const {
        argumentos.push_back(erros.string());
        const auto n = static_cast<uint32_t>(argumentos.size());
        bool ok = Enviar(pedidos_, &n, sizeof n);
        for (const auto& a : argumentos) {
            const auto tamanho = static_cast<uint32_t>(a.size());
            ok = ok && Enviar(pedidos_, &tamanho, sizeof tamanho) &&
                 Enviar(pedidos_, a.data(), a.size());
        }
        Desfecho d;
        if (!ok || !Receber(respostas_, &d, sizeof d))
            throw std::runtime_error("o lançador do kavlo parou");
        if (!WIFEXITED(d.estado) || WEXITSTATUS(d.estado) != 0) {
            std::string mensagem;
            try {
                mensagem = LerBytes(erros);
            } catch (const std::exception&) {
            }
            throw std::runtime_error(
                "kavlo " + argumentos[1] + " falhou: " +
                mensagem.substr(mensagem.size() - std::min<size_t>(mensagem.size(), 2000)));
        }
        return {d.segundos, d.picoKiB / 1024};
    }

  private:
    // The launcher's loop: a request is the count of texts, then each text's length and bytes;
    // the last text names the file for standard error. Ends when the benchmark closes the channel.
    [[noreturn]] static void Servir(int pedidos, int respostas) {
        for (;;) {
            uint32_t n = 0;
            if (!Receber(pedidos, &n, sizeof n)) ::_exit(0);
            std::vector<std::string> textos(n);
            for (auto& t : textos) {
                uint32_t tamanho = 0;
                if (!Receber(pedidos, &tamanho, sizeof tamanho)) ::_exit(1);
                t.resize(tamanho);
                if (!Receber(pedidos, t.data(), tamanho)) ::_exit(1);
            }
            const std::string erros = textos.back();
            textos.pop_back();
            std::vector<char*> argv;
            for (auto& t : textos) argv.push_back(t.data());
            argv.push_back(nullptr);
            const auto inicio = Relogio::now();
            const pid_t filho = ::fork();
            if (filho == 0) {
                const int saida = ::open("/dev/null", O_WRONLY);
                const int erro = ::open(erros.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (saida < 0 || erro < 0 || ::dup2(saida, STDOUT_FILENO) < 0 ||
                    ::dup2(erro, STDERR_FILENO) < 0)
                    ::_exit(127);
                ::execv(argv[0], argv.data());
                ::_exit(127);
            }
            Desfecho d;
            rusage uso{};
            if (filho < 0 || ::wait4(filho, &d.estado, 0, &uso) < 0) d.estado = 127 << 8;
            d.segundos = std::chrono::duration<double>(Relogio::now() - inicio).count();
            d.picoKiB = uso.ru_maxrss;
            if (!Enviar(respostas, &d, sizeof d)) ::_exit(1);
        }
    }

    int pedidos_ = -1, respostas_ = -1;
    pid_t pid_ = -1;
};

// Reads every row and column of `sql`, as text, the way generation reads its columns; returns
// the row count.
size_t LerTudo(fb::Transacao& t, const std::u16string& sql) {
    fb::Comando q(t, sql, "medir a leitura");
    auto cur = q.Abrir();
    size_t linhas = 0, bytes = 0;
    while (cur.Proximo()) {
        ++linhas;
        for (unsigned i = 0; i < cur.Colunas(); ++i) bytes += cur.Nulo(i) ? 0 : cur.Texto(i).size();
    }
    if (linhas == 0 || bytes == 0) throw std::runtime_error("leitura vazia: " + ParaUtf8(sql));
    return linhas;
}

struct Consultas {
    std::u16string pessoas, margem, transferidos;
};

// The generation statements without the host's filter: the rows the files need.
Consultas ConsultasSemFiltro() {
    return {SqlPessoas(u"FEV", std::nullopt), SqlMargem(u"FEV", std::nullopt),
            SqlTransferidos(u"FEV", u"JAN", std::nullopt)};
}

const std::u16string kEventos = u"select * from SFP017";

// The filter evaluated once, the rows the three files need and the month's events.
double ReferenciaGeracao(const std::u16string& local, const std::u16string& filtro) {
    static const Consultas consultas = ConsultasSemFiltro();
    return Segundos([&] {
        fb::Conexao c;
        AbrirBancoDaFolha(c, local);
        fb::Transacao t(c, fb::ModoTransacao::Leitura);
        LerTudo(t, u"select matricula from (" + filtro + u")");
        for (const auto* sql : {&consultas.pessoas, &consultas.margem, &consultas.transferidos})
            LerTudo(t, *sql);
        LerTudo(t, kEventos);
    });
}

// The registrations the return file names, each once: the keys of its instalment lines (every
// line between the header and the trailer).
std::unordered_set<std::u16string> ServidoresNomeados(const fs::path& retorno) {
    const auto linhas = LerLinhas(retorno);
    std::unordered_set<std::u16string> nomeados;
    for (size_t k = 1; k + 1 < linhas.size(); ++k) nomeados.insert(ChaveServidor(linhas[k]));
    return nomeados;
}

// The month's events, the active rows of the month's deduction table (the columns the import
// reads) and one keyed update per servant named in the return file, in EXECUTE BLOCK batches,
// committed. Changes the database: run on a fresh copy.
double ReferenciaImportacao(const std::u16string& local,
                            const std::unordered_set<std::u16string>& nomeados) {
    return Segundos([&] {
        fb::Conexao c;
        AbrirBancoDaFolha(c, local);
        fb::Transacao t(c, fb::ModoTransacao::Escrita);
        LerTudo(t, kEventos);

        std::u16string colunas = u"rdb$db_key, MATRICULA, MCVALOR, ATIVO";
        for (int slot : SlotsUsaveis) colunas += u", COD" + DeUtf8(std::to_string(slot));
        fb::Comando ativas(t, u"select " + colunas + u" from SFPDXX02FEV where ATIVO = 'T'",
                           "medir a leitura das linhas ativas");
        struct Alvo {
            std::string chave;
            double margem;
        };
        std::vector<Alvo> alvos;
        std::unordered_set<std::u16string> atualizados;
        auto cur = ativas.Abrir();
        size_t ocupadas = 0;
        while (cur.Proximo()) {
            for (unsigned i = 4; i < cur.Colunas(); ++i) ocupadas += !cur.TextoVazio(i);
            std::u16string m = cur.Texto(1u);
            if (nomeados.contains(m) && atualizados.insert(std::move(m)).second)
                alvos.push_back({cur.Bytes(0u), cur.Real(2u)});
        }
        if (alvos.empty() || ocupadas == 0) throw std::runtime_error("nenhuma linha a atualizar");

        std::map<size_t, std::unique_ptr<fb::Comando>> blocos;
        std::vector<fb::Parametro> p;
        for (size_t inicio = 0; inicio < alvos.size(); inicio += kLoteDeAtualizacoes) {
            const size_t n = std::min(kLoteDeAtualizacoes, alvos.size() - inicio);
            auto& bloco = blocos[n];
            if (!bloco) {
                std::string parametros, corpo;
                for (size_t i = 0; i < n; ++i) {
                    const std::string r = std::to_string(i);
                    parametros += (i ? ", K" : "K") + r + " char(8) character set octets = ?, C" +
                                  r + " varchar(4) = ?, V" + r + " double precision = ?, Q" + r +
                                  " integer = ?, P" + r + " integer = ?, T" + r +
                                  " integer = ?, M" + r + " double precision = ?";
                    corpo += "update SFPDXX02FEV set COD17 = :C" + r + ", VALOR17 = :V" + r +
                             ", QUANT17 = :Q" + r + ", PERC17 = :P" + r + ", TEMPO17 = :T" + r +
                             ", MCVALOR = :M" + r + ", RECALCULAR = 'S' where rdb$db_key = :K" + r +
                             ";\n";
                }
                bloco = std::make_unique<fb::Comando>(
                    t, "execute block (" + parametros + ") as begin\n" + corpo + "end",
                    "medir as atualizações em lote");
            }
            p.clear();
            for (size_t i = inicio; i < inicio + n; ++i)
                p.insert(p.end(), {fb::Octetos{alvos[i].chave}, std::u16string(u"41"), 10.0,
                                   int64_t{12}, int64_t{1}, int64_t{12}, alvos[i].margem - 10.0});
            bloco->Executar(p);
        }
        t.Commit();
    });
}

// The host's filter: every registration of the month but about 1,400, spread over the payroll and
// written out as a literal list, as hosts keep it in their configuration.
std::u16string FiltroDoHospedeiro(const fs::path& banco) {
    fb::Conexao c;
    AbrirBancoDaFolha(c, DeUtf8(banco.string()));
    fb::Transacao t(c, fb::ModoTransacao::Leitura);
    fb::Comando q(t, std::string_view("select matricula from SFP001FEV order by matricula"),
                  "ler as matrículas");
    std::vector<std::u16string> todas;
    for (auto cur = q.Abrir(); cur.Proximo();) todas.push_back(cur.Texto(0u));
    const size_t quantas = std::min(kExcluidasPeloFiltro, todas.size() / 2);
    std::u16string lista;
    for (size_t k = 0; k < quantas; ++k)
        lista += (k ? u", '" : u"'") + todas[k * todas.size() / quantas] + u"'";
    return u"select matricula from SFP001FEV where matricula not in (" + lista + u")";
}

const std::u16string kFiltroTrivial = u"select matricula from SFP001FEV";

struct Medida {
    double geracao = 1e9, referenciaGeracao = 1e9, geracaoTrivial = 0;
    double importacao = 1e9, referenciaImportacao = 1e9;
    long picoGeracao = 0, picoImportacao = 0;
};

std::string Marca(bool ok) {
    return ok ? "ok" : "ACIMA";
}

// A number as an operator reads it, with a decimal comma.
std::string Decimal(double valor, int casas) {
    std::string r = fmt::format("{:.{}f}", valor, casas);
    std::replace(r.begin(), r.end(), '.', ',');
    return r;
}

std::string Tempo(double segundos) {
    return Decimal(segundos, 2) + " s";
}

std::string Razao(double razao, double meta) {
    return Decimal(razao, 2) + "x " + Marca(razao <= meta);
}

std::string Pico(long mib, int servidores) {
    return fmt::format("{} {}", mib, Marca(mib <= PicoMiBPermitido(servidores)));
}

int Uso() {
    fmt::print(stderr,
               "Uso: kavlo_desempenho [servidores...]   (de 1 a {}; padrão: 100000 1000000)\n",
               demo::kMaximoServidores);
    return 2;
}

void Medir(const Lancador& lancador, const std::vector<int>& tamanhos) {
    const std::string kavlo = KAVLO_FERRAMENTA;
    const fs::path pasta = bench::PastaDoBench();
    fs::create_directories(pasta / "saida");
    std::unique_ptr<teste::PastaDoServidor> pastaServidor;
    if (teste::ServidorFirebirdResponde()) {
        pastaServidor = std::make_unique<teste::PastaDoServidor>();
        if (!pastaServidor->Valida()) pastaServidor.reset();
    }
    if (!pastaServidor)
        fmt::print(stderr, "Sem servidor Firebird local: só o acesso embutido será medido.\n");

    std::map<std::pair<int, bool>, Medida> medidas;
    for (int n : tamanhos) {
        const fs::path modelo = pasta / ("modelo-" + std::to_string(n) + ".fdb");
        const fs::path retorno = pasta / ("retorno-" + std::to_string(n) + ".txt");
        demo::OpcoesDemo o;
        o.banco = modelo.string();
        o.retorno = retorno.string();
        o.servidores = n;
        fmt::print(stderr, "Criando a folha de demonstração de {} servidores...\n", n);
        const double criacao = Segundos([&] { demo::CriarBancoDemo(o); });
        fmt::print(stderr, "  {} s\n", Decimal(criacao, 1));
        const std::u16string filtro = FiltroDoHospedeiro(modelo);
        const auto nomeados = ServidoresNomeados(retorno);

        for (const bool viaServidor : {false, true}) {
            if (viaServidor && !pastaServidor) continue;
            Medida& m = medidas[{n, viaServidor}];
            // Each copy has a name of its own: a server may keep a file open a while after its
            // last connection, and a copy written over it would be read mixed with the old one.
            int copias = 0;
            fs::path banco;
            std::string local;
            std::u16string local16;
            auto copiar = [&] {
                if (!banco.empty()) fs::remove(banco);
                const std::string arquivo = fmt::format("folha-{}-{}.fdb", n, ++copias);
                if (viaServidor) {
                    pastaServidor->Receber(modelo, arquivo);
                    banco = pastaServidor->Caminho() / arquivo;
                } else {
                    banco = pasta / arquivo;
                    fs::copy_file(modelo, banco);
                }
                local = (viaServidor ? "localhost:" : "") + banco.string();
                local16 = DeUtf8(local);
            };
            const std::string rotulo =
                fmt::format("[{} servidores, {}]", n, viaServidor ? "servidor" : "embutido");
            auto progresso = [&](std::string_view oQue, int k, double s, long pico = -1) {
                fmt::print(stderr, "{} {} {}/{}: {} s{}\n", rotulo, oQue, k + 1, kRepeticoes,
                           Decimal(s, 1), pico < 0 ? "" : fmt::format(", pico {} MiB", pico));
            };
            auto gerar = [&](const std::u16string& comFiltro) {
                return lancador.Rodar(
                    {kavlo, "gerar", "--mes", "2", "--mes-anterior", "1", "--ano", "2024",
                     "--banco", local, "--saida", (pasta / "saida").string() + "/", "--filtro",
                     ParaUtf8(comFiltro)},
                    pasta / "erros.txt");
            };
            copiar();

            // The machine is noisy: each time is the best of a few runs.
            for (int k = 0; k < kRepeticoes; ++k) {
                const double s = ReferenciaGeracao(local16, filtro);
                m.referenciaGeracao = std::min(m.referenciaGeracao, s);
                progresso("referência da geração", k, s);
            }
            for (int k = 0; k < kRepeticoes; ++k) {
                const Processo g = gerar(filtro);
                m.geracao = std::min(m.geracao, g.segundos);
                m.picoGeracao = std::max(m.picoGeracao, g.picoMiB);
                progresso("geração", k, g.segundos, g.picoMiB);
            }
            m.geracaoTrivial = gerar(kFiltroTrivial).segundos;
            fmt::print(stderr, "{} geração com o filtro trivial: {} s\n", rotulo,
                       Decimal(m.geracaoTrivial, 1));

            // Both change the database: each run on a fresh copy.
            for (int k = 0; k < kRepeticoes; ++k) {
                copiar();
                const double s = ReferenciaImportacao(local16, nomeados);
                m.referenciaImportacao = std::min(m.referenciaImportacao, s);
                progresso("referência da importação", k, s);
            }
            for (int k = 0; k < kRepeticoes; ++k) {
                copiar();
                const Processo i = lancador.Rodar(
                    {kavlo, "importar", "--mes", "2", "--ano", "2024", "--banco", local,
                     "--resultado", (pasta / "saida" / "resultado.txt").string(), "--retorno",
                     retorno.string(), "--folhas", "MENSAL", "--verifica-margem", "S"},
                    pasta / "erros.txt");
                m.importacao = std::min(m.importacao, i.segundos);
                m.picoImportacao = std::max(m.picoImportacao, i.picoMiB);
                progresso("importação", k, i.segundos, i.picoMiB);
            }
            fs::remove(banco);
        }
        fs::remove(modelo);
    }

    fmt::print(
        "\nFiltro do hospedeiro: select matricula from SFP001FEV where matricula not in (...), "
        "{} matrículas na lista\n\n",
        kExcluidasPeloFiltro);
    constexpr std::string_view kLinha =
        "{:>10}  {:<8} | {:>10} {:>10} {:>13} {:>10} | {:>10} {:>10} {:>13} {:>10} | {:>10}\n";
    fmt::print(kLinha, "servidores", "acesso", "geração", "referência", "razão", "pico MiB",
               "importação", "referência", "razão", "pico MiB", "trivial");
    for (const bool viaServidor : {false, true}) {
        for (const auto& [chave, m] : medidas) {
            const auto [n, servidor] = chave;
            if (servidor != viaServidor) continue;
            fmt::print(kLinha, n, servidor ? "servidor" : "embutido", Tempo(m.geracao),
                       Tempo(m.referenciaGeracao),
                       Razao(m.geracao / m.referenciaGeracao, kMetaGeracao), Pico(m.picoGeracao, n),
                       Tempo(m.importacao), Tempo(m.referenciaImportacao),
                       Razao(m.importacao / m.referenciaImportacao, kMetaImportacao),
                       Pico(m.picoImportacao, n), Tempo(m.geracaoTrivial));
        }
    }
    if (tamanhos.size() >= 2) {
        const int a = tamanhos.front(), b = tamanhos.back();
        const double meta = kMetaCrescimentoPorServidor * b / a;
        fmt::print("\n");
        for (const bool viaServidor : {false, true}) {
            if (!medidas.contains({a, viaServidor})) continue;
            const Medida &ma = medidas[{a, viaServidor}], &mb = medidas[{b, viaServidor}];
            const double geracao = mb.geracao / ma.geracao;
            const double importacao = mb.importacao / ma.importacao;
            fmt::print(
                "crescimento de {} para {} servidores ({}): geração {}x {}, importação {}x "
                "{} (meta <= {}x)\n",
                a, b, viaServidor ? "servidor" : "embutido", Decimal(geracao, 1),
                Marca(geracao <= meta), Decimal(importacao, 1), Marca(importacao <= meta),
                Decimal(meta, 1));
        }
    }
    fmt::print(
        "\nMetas (cada tempo é o melhor de {} execuções; o pico de memória, o maior delas):\n"
        "  geração <= {}x a referência: o filtro avaliado uma vez, mais a leitura de todas as "
        "linhas e\n"
        "    colunas das três consultas da geração sem o filtro e uma leitura dos eventos do mês "
        "(SFP017);\n"
        "  importação <= {}x a referência: uma leitura dos eventos do mês, as linhas ativas de "
        "SFPDXX02FEV\n"
        "    e uma atualização por servidor citado no retorno, em lotes EXECUTE BLOCK de {} por "
        "RDB$DB_KEY,\n"
        "    numa transação confirmada;\n"
        "  pico de memória de cada operação <= 100 MiB até 100000 servidores e <= 256 MiB acima "
        "(1000000);\n"
        "  crescimento de 100000 para 1000000 servidores <= 11x nas duas operações (entre outros "
        "tamanhos,\n"
        "    {}x a razão entre eles);\n"
        "  trivial: a geração com o filtro \"{}\", uma execução, só para comparar.\n",
        kRepeticoes, Decimal(kMetaGeracao, 1), Decimal(kMetaImportacao, 2), kLoteDeAtualizacoes,
        Decimal(kMetaCrescimentoPorServidor, 1), ParaUtf8(kFiltroTrivial));
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> tamanhos;
    for (int i = 1; i < argc; ++i) {
        char* fim = nullptr;
        const long n = std::strtol(argv[i], &fim, 10);
        if (*fim != '\0' || n < 1 || n > demo::kMaximoServidores) return Uso();
        tamanhos.push_back(static_cast<int>(n));
    }
    if (tamanhos.empty()) tamanhos = {100000, 1000000};
    std::sort(tamanhos.begin(), tamanhos.end());
    tamanhos.erase(std::unique(tamanhos.begin(), tamanhos.end()), tamanhos.end());
    try {
        const Lancador lancador;  // first of all, while this process is small
        Medir(lancador, tamanhos);
        return 0;
    } catch (const std::exception& e) {
        fmt::print(stderr, "A medição falhou: {}\n", e.what());
        return 1;
    }
}
