// No interruption corrupts a database. kavlo importar and kavlo estornar are interrupted at random
// moments by SIGINT, SIGTERM and SIGKILL, embedded and through the local server; after each run
// Firebird's own full validation (gfix -v -full) must find no error, the month's table must be as
// it was before the command or as the whole command leaves it (as the journal says), and the files
// of an import killed outright must agree with the journal once the next import settles them.
//
// A cancelled or finished run, and any run through the server, leaves nothing at all: no error,
// no warning. An embedded engine killed with kavlo's process (SIGKILL) leaves what careful write
// leaves by design, and nothing else is accepted of it: data pages of the dead transaction that
// their pointer page does not list yet (a data page goes to disk before the pointer page that
// lists it: "pointer page errors", which that validation repairs, so a second finds no error),
// and, as warnings, pointer-page fill bits that lag, pages allocated and never used, back versions
// whose primary version was never rewritten, index pages of a split never linked. No committed row
// is touched and no page points at a missing one.
//
// Small by default, so that it always runs; scripts/interrupcoes.sh runs it on a state-sized
// payroll with the environment:
//   KAVLO_INTERRUPCOES_SERVIDORES   servants of the demo payroll (default 3000)
//   KAVLO_INTERRUPCOES_EXECUCOES    interrupted runs of each test (default 6)
//   KAVLO_INTERRUPCOES_SEMENTE      of the moments (default 1)
//   KAVLO_INTERRUPCOES_SINAIS       the signals taken in turn (default INT,TERM,KILL)
// Each test prints its runs and its figures.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <thread>

#include "dao/BancoFolha.h"
#include "dao/firebird/Firebird.h"
#include "demonstracao/BancoDemo.h"
#include "import/ImportacoesInterrompidas.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/Ferramenta.h"
#include "tests/apoio/ServidorTeste.h"
#include "util/Codificacao.h"
#include "util/Sha256.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;
using Relogio = std::chrono::steady_clock;

namespace {

int Ambiente(const char* nome, int padrao) {
    const char* v = std::getenv(nome);
    return v && *v ? std::atoi(v) : padrao;
}

// What a run is judged by: the month's table (its SHA-256, every row and column in order) and
// the journal's word on import 1.
struct Estado {
    std::string tabela;
    int importacoes = 0, estornadas = 0;
};

Estado LerEstado(const std::u16string& local) {
    fb::Conexao c;
    AbrirBancoDaFolha(c, local);
    fb::Transacao t(c, fb::ModoTransacao::Leitura);
    Estado e;
    {
        fb::Comando q(t, std::string_view("select * from SFPDXX02FEV order by MATRICULA, SALARIO"),
                      "ler a tabela do mês");
        fb::Cursor r = q.Abrir();
        Sha256Incremental h;
        while (r.Proximo())
            for (unsigned i = 0; i < r.Colunas(); ++i)
                h.Acrescentar((r.Nulo(i) ? std::string("\x01") : ParaUtf8(r.Texto(i))) + '\x02');
        e.tabela = h.Concluir();
    }
    try {
        fb::Comando q(t,
                      std::string_view("select count(*), count(ESTORNO_QUANDO) from "
                                       "KAVLO_IMPORTACAO"),
                      "ler o diário");
        fb::Cursor r = q.Abrir();
        r.Proximo();
        e.importacoes = r.Inteiro(0u);
        e.estornadas = r.Inteiro(1u);
    } catch (const ErroBanco&) {
        // No journal yet: an import stopped before it made one.
    }
    return e;
}

// gfix -v -full: the number of each kind of error it reports ("record level errors", ...), and
// what it printed. A database the server still holds for a client that just died is asked again.
std::map<std::string, int> Validar(const std::string& local, std::string& saida) {
    const bool servidor = local.starts_with("localhost:");
    const std::string comando = "gfix -v -full -user SYSDBA" +
                                std::string(servidor ? " -password quillbank " : " ") + "'" +
                                local + "' 2>&1";
    for (int tentativa = 0;; ++tentativa) {
        saida.clear();
        if (std::FILE* p = ::popen(comando.c_str(), "r")) {
            char buf[4096];
            for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) saida.append(buf, n);
            ::pclose(p);
        }
        // The server may still be ending the attachment of a client that was just killed.
        const bool ocupado = saida.find("in use") != std::string::npos ||
                             saida.find("secondary server attachments") != std::string::npos;
        if (!ocupado || tentativa == 40) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    std::map<std::string, int> erros;
    static const std::regex linha(R"(Number of ([a-z ]+?)\s*:\s*(\d+))");
    for (std::sregex_iterator i(saida.begin(), saida.end(), linha), fim; i != fim; ++i)
        if (const int n = std::stoi((*i)[2]); n > 0) erros[(*i)[1]] += n;
    // Anything else it says (it cannot open the file, a page of the wrong type) counts too.
    if (erros.empty() && saida.find_first_not_of(" \t\r\n") != std::string::npos)
        erros["outras mensagens"] = 1;
    return erros;
}

std::vector<int> Sinais() {
    const char* v = std::getenv("KAVLO_INTERRUPCOES_SINAIS");
    const std::string lista = v && *v ? v : "INT,TERM,KILL";
    std::vector<int> r;
    for (const auto& [nome, sinal] :
         {std::pair{"INT", SIGINT}, std::pair{"TERM", SIGTERM}, std::pair{"KILL", SIGKILL}})
        if (lista.find(nome) != std::string::npos) r.push_back(sinal);
    return r;
}

// gfix counts warnings beside errors, each kind on a line of its own.
bool EhErro(const std::string& tipo) {
    return !tipo.ends_with("warnings");
}

const char* NomeDoSinal(int sinal) {
    return sinal == SIGINT ? "SIGINT" : sinal == SIGTERM ? "SIGTERM" : "SIGKILL";
}

class Interrupcoes : public ::testing::Test {
  protected:
    void SetUp() override {
        servidores_ = Ambiente("KAVLO_INTERRUPCOES_SERVIDORES", 3000);
        execucoes_ = Ambiente("KAVLO_INTERRUPCOES_EXECUCOES", 6);
        semente_ = static_cast<unsigned>(Ambiente("KAVLO_INTERRUPCOES_SEMENTE", 1));
        demo::OpcoesDemo o;
        o.banco = (pasta_.Caminho() / "modelo.fdb").string();
        o.retorno = Retorno().string();
        o.servidores = servidores_;
        demo::CriarBancoDemo(o);
        // The imported database the undos start from.
        fs::copy_file(o.banco, Importado());
        fs::create_directories(Resultado().parent_path());
        const Execucao e = Kavlo(Comando(true, Importado().string()), pasta_.Caminho());
        ASSERT_EQ(e.codigo, 0) << e.erro;
    }

    fs::path Importado() const { return pasta_.Caminho() / "importado.fdb"; }

    fs::path Retorno() const { return pasta_.Caminho() / "retorno.txt"; }
    fs::path Resultado() const { return pasta_.Caminho() / "saida" / "resultado.txt"; }

    std::vector<std::string> Comando(bool importar, const std::string& local) const {
        if (!importar) return {"estornar", "--banco", local, "--importacao", "1"};
        return ImportarDaDemo(local, Resultado().string(), Retorno().string());
    }

    // A fresh copy of `base` where the command will find it, and its location.
    using Copiar = std::function<std::string(const fs::path& base, int execucao)>;
    using Remover = std::function<void(const std::string& local)>;

    // `execucoes_` interrupted runs, half imports and half undos, the three signals in turn.
    // `motorNoProcesso`: the database is opened embedded, by the engine inside kavlo's process.
    void Rodar(const std::string& acesso, bool motorNoProcesso, const Copiar& copiar,
               const Remover& remover) {
        const fs::path modelo = pasta_.Caminho() / "modelo.fdb";
        fs::create_directories(Resultado().parent_path());
        // Each command run whole once: the states it leads between, and how long it takes.
        // (on copies of the files the runs start from).
        const std::string primeiro = copiar(modelo, 0);
        const Estado antes = LerEstado(DeUtf8(primeiro));
        auto t0 = Relogio::now();
        Execucao e = Kavlo(Comando(true, primeiro), pasta_.Caminho());
        const std::chrono::duration<double> tImportar = Relogio::now() - t0;
        ASSERT_EQ(e.codigo, 0) << e.erro;
        const Estado depois = LerEstado(DeUtf8(primeiro));
        ASSERT_NE(depois.tabela, antes.tabela);
        remover(primeiro);
        const std::string segundo = copiar(Importado(), 0);
        ASSERT_EQ(LerEstado(DeUtf8(segundo)).tabela, depois.tabela);
        t0 = Relogio::now();
        e = Kavlo(Comando(false, segundo), pasta_.Caminho());
        const std::chrono::duration<double> tEstornar = Relogio::now() - t0;
        ASSERT_EQ(e.codigo, 0) << e.erro;
        ASSERT_EQ(LerEstado(DeUtf8(segundo)).tabela, antes.tabela);
        remover(segundo);

        std::mt19937 sorteio(semente_);
        const std::vector<int> sinais = Sinais();
        ASSERT_FALSE(sinais.empty());
        std::map<std::string, int> desfechos, errosDeValidacao, reparados, avisos;
        int validadas = 0;
        std::printf("%s, %d servidores: importação %.2f s, estorno %.2f s; semente %u\n",
                    acesso.c_str(), servidores_, tImportar.count(), tEstornar.count(), semente_);
        for (int i = 0; i < execucoes_; ++i) {
            const bool importar = i % 2 == 0;
            const int sinal = sinais[static_cast<size_t>(i / 2) % sinais.size()];
            const double total = (importar ? tImportar : tEstornar).count();
            // Within the time the whole command took once; a run that goes faster ends before
            // now and then, and takes the signal when the work is done.
            const auto momento = std::chrono::milliseconds(static_cast<int>(
                std::uniform_real_distribution<double>(0, 0.9 * total)(sorteio) * 1000));
            const std::string nome = std::string(importar ? "importar" : "estornar") + " " +
                                     NomeDoSinal(sinal) + " a " + std::to_string(momento.count()) +
                                     " ms";
            SCOPED_TRACE(acesso + ", execução " + std::to_string(i + 1) + ": " + nome);
            fs::remove_all(Resultado().parent_path());
            fs::create_directories(Resultado().parent_path());
            const std::string local = copiar(importar ? modelo : Importado(), i + 1);
            const Estado inicio = importar ? antes : depois, fim = importar ? depois : antes;
            e = Kavlo(Comando(importar, local), pasta_.Caminho(), SinalApos{sinal, momento});

            std::string saidaGfix;
            const auto achados = Validar(local, saidaGfix);
            ++validadas;
            const bool motorMorto = motorNoProcesso && e.codigo == 1000 + SIGKILL;
            std::map<std::string, int> erros;
            for (const auto& [tipo, n] : achados) {
                if (motorMorto && tipo == "pointer page errors")
                    reparados[tipo] += n;
                else if (motorMorto && !EhErro(tipo))
                    avisos[tipo] += n;
                else
                    erros[tipo] += n;
            }
            if (motorMorto && achados.contains("pointer page errors")) {
                std::string segunda;
                for (const auto& [tipo, n] : Validar(local, segunda))
                    if (EhErro(tipo)) erros[tipo + ", na segunda validação"] += n;
            }
            for (const auto& [tipo, n] : erros) errosDeValidacao[tipo] += n;
            EXPECT_TRUE(erros.empty()) << saidaGfix;
            // Files an import killed outright left are settled as the next import would.
            if (importar) AcertarImportacoesInterrompidas({Resultado()}, 5);
            const Estado agora = LerEstado(DeUtf8(local));
            const bool feito = importar ? agora.importacoes == 1 : agora.estornadas == 1;
            EXPECT_EQ(agora.tabela, feito ? fim.tabela : inicio.tabela) << e.erro;
            // The result file is there exactly when the import went through.
            EXPECT_EQ(importar && fs::exists(Resultado()), importar && feito);
            std::string desfecho;
            if (e.codigo == 0) {
                desfecho = "concluído";
                EXPECT_TRUE(feito);
            } else if (e.codigo == 128 + sinal) {
                desfecho = "cancelado";
                EXPECT_FALSE(feito) << e.erro;
                EXPECT_NE(e.erro.find("a operação foi cancelada"), std::string::npos) << e.erro;
            } else if (e.codigo == 1000 + sinal) {
                // SIGKILL, or another signal so early that the tool had not taken it yet.
                desfecho = feito ? "morto, gravado" : "morto, nada gravado";
            } else {
                desfecho = "saída " + std::to_string(e.codigo);
                ADD_FAILURE() << e.erro;
            }
            ++desfechos[std::string(importar ? "importar" : "estornar") + " " + NomeDoSinal(sinal) +
                        ": " + desfecho];
            std::printf("  %2d  %-30s  %-20s  gfix: %s\n", i + 1, nome.c_str(), desfecho.c_str(),
                        !erros.empty()    ? "ERROS"
                        : achados.empty() ? "nada"
                                          : "sobras do motor morto");
            if (!erros.empty()) {
                // Kept for a look: the damaged database and what gfix said.
                const fs::path guardado =
                    fs::temp_directory_path() / ("kavlo-interrupcao-" + std::to_string(::getpid()) +
                                                 "-" + std::to_string(i + 1) + ".fdb");
                fs::copy_file(local.substr(local.find('/')), guardado,
                              fs::copy_options::overwrite_existing);
                std::printf("      guardado em %s:\n%s\n", guardado.c_str(), saidaGfix.c_str());
            }
            remover(local);
        }
        std::printf("%s: %d execuções, %d validadas por gfix -v -full\n", acesso.c_str(),
                    execucoes_, validadas);
        for (const auto& [d, n] : desfechos) std::printf("  %-42s %d\n", d.c_str(), n);
        int totalErros = 0;
        for (const auto& [tipo, n] : errosDeValidacao) {
            std::printf("  erros de validação (%s): %d\n", tipo.c_str(), n);
            totalErros += n;
        }
        std::printf("  erros de validação: %d\n", totalErros);
        for (const auto& [tipo, n] : reparados)
            std::printf(
                "  sobras do motor morto com o processo, reparadas pela validação (%s): %d\n",
                tipo.c_str(), n);
        for (const auto& [tipo, n] : avisos)
            std::printf("  sobras do motor morto com o processo, avisos (%s): %d\n", tipo.c_str(),
                        n);
        std::fflush(stdout);
    }

    int servidores_ = 0, execucoes_ = 0;
    unsigned semente_ = 1;
    PastaTemporaria pasta_;
};

}  // namespace

TEST_F(Interrupcoes, Embutido) {
    Rodar(
        "embutido", true,
        [&](const fs::path& base, int n) {
            const fs::path destino = pasta_.Caminho() / ("execucao" + std::to_string(n) + ".fdb");
            fs::copy_file(base, destino, fs::copy_options::overwrite_existing);
            return destino.string();
        },
        [](const std::string& local) { fs::remove(local); });
}

TEST_F(Interrupcoes, PeloServidor) {
    PastaDoServidor servidor;
    if (const std::string motivo = SemServidor(servidor); !motivo.empty()) GTEST_SKIP() << motivo;
    Rodar(
        "localhost", false,
        [&](const fs::path& base, int n) {
            const std::string nome = "execucao" + std::to_string(n) + ".fdb";
            servidor.Receber(base, nome);
            return ParaUtf8(servidor.Local(nome));
        },
        [](const std::string& local) {
            std::error_code ec;
            fs::remove(local.substr(local.find('/')), ec);
        });
}
