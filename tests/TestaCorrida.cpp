// Two kavlo importar of the same return file started together, into the same database, embedded
// and through the local server, many times: the month's table always ends as one import leaves it,
// and the journal holds one import. The figures (runs, refusals, time) are printed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>

#include "demonstracao/BancoDemo.h"
#include "entry/Conexao.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/Ferramenta.h"
#include "tests/apoio/ServidorTeste.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

constexpr int kExecucoes = 20;

// Why a run was refused, by its message: another program has the file or the rows, or the file
// was imported meanwhile; nothing for any other reason.
const char* MotivoDaRecusa(const std::string& erro) {
    auto tem = [&](const char* texto) { return erro.find(texto) != std::string::npos; };
    if (tem("arquivo do banco de dados está aberto por outro programa"))
        return "pelo arquivo em uso";
    if (tem("outro programa")) return "pelas linhas em uso";
    if (tem("já foi importado")) return "pelo diário";
    return nullptr;
}

class Corrida : public ::testing::Test {
  protected:
    void SetUp() override {
        demo::OpcoesDemo o;
        o.banco = (pasta_.Caminho() / "modelo.fdb").string();
        o.retorno = (pasta_.Caminho() / "retorno.txt").string();
        o.servidores = 300;
        demo::CriarBancoDemo(o);
    }

    // Runs the race `kExecucoes` times on a fresh copy each time (`preparar` makes it and gives
    // its location), and checks every outcome against one import alone.
    void Correr(const std::string& nome, const std::function<std::string()>& preparar) {
        using Relogio = std::chrono::steady_clock;
        auto tabela = [](const std::string& local) {
            return BancoTesteExistente(DeUtf8(local))
                .Linhas("select * from SFPDXX02FEV order by MATRICULA, SALARIO");
        };
        auto diario = [](const std::string& local) {
            return BancoTesteExistente(DeUtf8(local))
                .Linhas("select count(*) from KAVLO_IMPORTACAO")[0][0];
        };
        auto importar = [&](const std::string& local, const std::string& resultado) {
            return ImportarDaDemo(local, (pasta_.Caminho() / resultado).string(),
                                  (pasta_.Caminho() / "retorno.txt").string());
        };
        const std::string sozinho = preparar();
        ASSERT_EQ(Kavlo(importar(sozinho, "sozinho.txt"), pasta_.Caminho()).codigo, 0);
        const auto umaVez = tabela(sozinho);
        int recusadas = 0, ambas = 0;
        std::map<std::string, int> motivos;  // of the refusals
        const auto inicio = Relogio::now();
        for (int i = 0; i < kExecucoes; ++i) {
            SCOPED_TRACE(nome + ", execução " + std::to_string(i + 1));
            const std::string local = preparar();
            FerramentaEmExecucao a(importar(local, "a.txt"), pasta_.Caminho());
            FerramentaEmExecucao b(importar(local, "b.txt"), pasta_.Caminho());
            const Execucao ea = a.Esperar(), eb = b.Esperar();
            const int concluidas = (ea.codigo == 0) + (eb.codigo == 0);
            EXPECT_LE(concluidas, 1) << ea.saida << eb.saida;
            EXPECT_GE(concluidas, 1) << ea.erro << eb.erro;
            recusadas += 2 - concluidas;
            ambas += concluidas == 2;
            // The one refused says why, in words: another program has the file or the rows, or
            // the file was imported meanwhile.
            for (const Execucao* e : {&ea, &eb}) {
                if (e->codigo == 0) continue;
                const char* motivo = MotivoDaRecusa(e->erro);
                EXPECT_TRUE(motivo) << e->erro;
                ++motivos[motivo ? motivo : "outro"];
            }
            EXPECT_EQ(tabela(local), umaVez);
            EXPECT_EQ(diario(local), u"1");
        }
        const std::chrono::duration<double> tempo = Relogio::now() - inicio;
        std::string porque;
        for (const auto& [motivo, n] : motivos)
            porque += (porque.empty() ? "" : ", ") + std::to_string(n) + " " + motivo;
        std::printf(
            "Corrida (%s): %d execuções de duas importações juntas, %d recusadas (%s), %d "
            "lançadas duas vezes, %.1f s\n",
            nome.c_str(), kExecucoes, recusadas, porque.c_str(), ambas, tempo.count());
    }

    PastaTemporaria pasta_;
};

}  // namespace

TEST_F(Corrida, DuasImportacoesDoMesmoArquivoEmbutidas) {
    const fs::path banco = pasta_.Caminho() / "folha.fdb";
    Correr("embutido", [&] {
        fs::copy_file(pasta_.Caminho() / "modelo.fdb", banco, fs::copy_options::overwrite_existing);
        return banco.string();
    });
}

TEST_F(Corrida, DuasImportacoesDoMesmoArquivoPeloServidor) {
    PastaDoServidor servidor;
    if (const std::string motivo = SemServidor(servidor); !motivo.empty()) GTEST_SKIP() << motivo;
    int n = 0;
    Correr("localhost", [&] {
        // A new file each time: the server may still hold the last one a moment.
        const std::string nome = "folha" + std::to_string(++n) + ".fdb";
        servidor.Receber(pasta_.Caminho() / "modelo.fdb", nome);
        return ParaUtf8(servidor.Local(nome));
    });
}
