// Faults in the middle of a call: the database server dying, a full disk, a read-only folder.
// Whatever the moment, the database and the files end as they were before the call, or as a
// complete call leaves them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <exception>
#include <functional>
#include <set>
#include <thread>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "dao/BancoFolha.h"
#include "dao/firebird/Firebird.h"
#include "demonstracao/BancoDemo.h"
#include "entry/Chamadas.h"
#include "entry/Conexao.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/ServidorTeste.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

// What a committed import leaves beside its result: the result, the report's copy, the lines it
// did not post.
const std::set<std::string> kArquivosDoResultado = {"resultado.txt", "resultado.SemMargem.txt",
                                                    "resultado.Recusadas.txt"};

std::vector<std::vector<std::u16string>> Linhas(const std::u16string& local, std::string_view sql) {
    fb::Conexao c;
    // A server just restarted may refuse the first attach for a moment.
    for (int tentativa = 1;; ++tentativa) {
        try {
            AbrirBancoDaFolha(c, local);
            break;
        } catch (const std::exception&) {
            if (tentativa == 20) throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
    }
    fb::Transacao t(c, fb::ModoTransacao::Leitura);
    fb::Comando q(t, sql, "conferir o banco");
    auto cur = q.Abrir();
    std::vector<std::vector<std::u16string>> r;
    while (cur.Proximo()) {
        auto& l = r.emplace_back();
        for (unsigned i = 0; i < cur.Colunas(); ++i)
            l.push_back(cur.Nulo(i) ? u"<null>" : cur.Texto(i));
    }
    return r;
}

const char* const kTabela = "select * from SFPDXX02FEV order by matricula, mcvalor";

std::set<std::string> Nomes(const fs::path& pasta) {
    std::set<std::string> r;
    for (const auto& e : fs::directory_iterator(pasta)) r.insert(e.path().filename().string());
    return r;
}

std::string Importar(const std::u16string& banco, const fs::path& resultado,
                     const fs::path& retorno) {
    CadeiaHost mes(u"2"), ano(u"2024"), b(banco), res(DeUtf8(resultado.string())),
        load(DeUtf8(retorno.string())), folhas(u"MENSAL"), s(u"S");
    try {
        ImportarArquivo(mes, ano, b, res, load, folhas, s);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// A small file system mounted for one test; unmounted at the end.
class Montagem {
  public:
    explicit Montagem(const std::string& opcoes) {
        std::error_code ec;
        fs::create_directory(pasta_.Caminho() / "m", ec);
        caminho_ = pasta_.Caminho() / "m";
        montada_ = getuid() == 0 && std::system(("mount -t tmpfs -o " + opcoes + " tmpfs " +
                                                 caminho_.string() + " 2>/dev/null")
                                                    .c_str()) == 0;
    }
    ~Montagem() {
        if (montada_) [[maybe_unused]]
            int r = std::system(("umount " + caminho_.string()).c_str());
    }
    bool Montada() const { return montada_; }
    const fs::path& Caminho() const { return caminho_; }

  private:
    PastaTemporaria pasta_;
    fs::path caminho_;
    bool montada_ = false;
};

// A copy of a database in a server folder of its own, reached as "localhost:".
struct CopiaNoServidor {
    explicit CopiaNoServidor(const fs::path& banco) {
        if (!pasta.Valida()) return;
        pasta.Receber(banco, "folha.fdb");
        local = pasta.Local("folha.fdb");
    }
    PastaDoServidor pasta;
    std::u16string local;
};

class Demo {
  public:
    explicit Demo(int servidores) {
        demo::OpcoesDemo o;
        o.banco = (pasta_.Caminho() / "folha.fdb").string();
        o.retorno = (pasta_.Caminho() / "retorno.txt").string();
        o.servidores = servidores;
        resumo_ = demo::CriarBancoDemo(o);
    }
    fs::path Banco() const { return pasta_.Caminho() / "folha.fdb"; }
    fs::path Retorno() const { return pasta_.Caminho() / "retorno.txt"; }
    const fs::path& Pasta() const { return pasta_.Caminho(); }
    const demo::ResumoDemo& Resumo() const { return resumo_; }

  private:
    PastaTemporaria pasta_;
    demo::ResumoDemo resumo_;
};

}  // namespace

TEST(Falhas, QuedaDoServidorNoMeioDaImportacaoNaoAlteraNada) {
    if (getuid() != 0 || !ServidorFirebirdResponde())
        GTEST_SKIP()
            << "Requer root e um servidor Firebird em localhost (scripts/servidor-firebird.sh).";
    Demo demo(3000);
    int interrompidas = 0;
    for (int espera : {0, 40, 150, 400}) {
        SCOPED_TRACE("servidor derrubado após " + std::to_string(espera) + " ms");
        const CopiaNoServidor copia(demo.Banco());
        ASSERT_TRUE(copia.pasta.Valida());
        const PastaDoServidor& servidor = copia.pasta;
        const std::u16string& local = copia.local;
        const auto antes = Linhas(local, kTabela);
        PastaTemporaria saida;
        const fs::path resultado = saida.Caminho() / "resultado.txt";

        std::string erro;
        // Joined on every path, also when bringing the server back fails.
        std::jthread importacao([&] { erro = Importar(local, resultado, demo.Retorno()); });
        std::this_thread::sleep_for(std::chrono::milliseconds(espera));
        DerrubarServidorFirebird();
        // Back at once, as a real server would be: an import that fell at its commit asks the
        // database whether it went through.
        IniciarServidorFirebird();
        importacao.join();

        const auto depois = Linhas(local, kTabela);
        if (erro.empty()) {  // finished before the server fell: all of it is there
            EXPECT_NE(depois, antes);
            EXPECT_EQ(Nomes(saida.Caminho()), kArquivosDoResultado);
            continue;
        }
        ++interrompidas;
        std::printf("[ interrompida ] %d ms: %s\n", espera, erro.substr(0, 160).c_str());
        EXPECT_EQ(depois, antes) << erro;
        EXPECT_TRUE(Nomes(saida.Caminho()).empty()) << erro;
        EXPECT_EQ(Nomes(servidor.Caminho()), std::set<std::string>{"folha.fdb"}) << erro;
    }
    EXPECT_GE(interrompidas, 1);
}

// The server dies at the moment of the commit: just before it is sent, or a few milliseconds after.
// Whatever the server managed, the call's outcome matches the database: success with the postings,
// the journal row and the files, or a failure with none of them. Never a failure with postings.
TEST(Falhas, QuedaDoServidorNaHoraDoCommit) {
    if (getuid() != 0 || !ServidorFirebirdResponde())
        GTEST_SKIP()
            << "Requer root e um servidor Firebird em localhost (scripts/servidor-firebird.sh).";
    Demo demo(300);
    for (int espera : {-1, 0, 2, 5, 20}) {
        SCOPED_TRACE(espera < 0 ? std::string("antes do commit")
                                : "derrubado " + std::to_string(espera) + " ms após o commit");
        const CopiaNoServidor copia(demo.Banco());
        ASSERT_TRUE(copia.pasta.Valida());
        const std::u16string& local = copia.local;
        const auto antes = Linhas(local, kTabela);
        PastaTemporaria saida;
        const fs::path resultado = saida.Caminho() / "resultado.txt";

        // The server is brought back on a thread of its own; what goes wrong there is told by
        // the test, after the join, not by std::terminate.
        std::thread queda;
        std::exception_ptr falhaDaQueda;
        auto guardar = [&falhaDaQueda](const std::function<void()>& f) {
            try {
                f();
            } catch (...) {
                falhaDaQueda = std::current_exception();
            }
        };
        OpcoesImportacao o;
        o.antesDoCommit = [&] {
            if (espera < 0) {
                DerrubarServidorFirebird();
                queda = std::thread(guardar, IniciarServidorFirebird);
                return;
            }
            queda = std::thread(guardar, [espera] {
                std::this_thread::sleep_for(std::chrono::milliseconds(espera));
                DerrubarServidorFirebird();
                IniciarServidorFirebird();
            });
        };
        std::string erro;
        ResumoImportacao r;
        try {
            r = ImportarRetorno({u"2", u"2024", local, DeUtf8(resultado.string()),
                                 DeUtf8(demo.Retorno().string()), u"MENSAL", u"S"},
                                o);
        } catch (const std::exception& e) {
            erro = e.what();
        }
        if (queda.joinable()) queda.join();
        if (falhaDaQueda) std::rethrow_exception(falhaDaQueda);
        dmConexao().fdConexao.Fechar();
        const auto depois = Linhas(local, kTabela);
        const auto diario = Linhas(local, "select count(*) from KAVLO_IMPORTACAO");
        std::printf("[ commit ] %d ms: %s\n", espera,
                    erro.empty() ? (r.aviso.empty() ? "gravada" : "gravada, com aviso")
                                 : erro.substr(0, 120).c_str());
        EXPECT_EQ(erro.find("não foi possível saber"), std::string::npos) << erro;
        if (erro.empty()) {
            EXPECT_NE(depois, antes);
            EXPECT_EQ(diario[0][0], u"1");
            EXPECT_EQ(Nomes(saida.Caminho()), kArquivosDoResultado);
        } else {
            EXPECT_NE(erro.find("Nenhuma parcela foi lançada"), std::string::npos) << erro;
            EXPECT_EQ(depois, antes);
            EXPECT_EQ(diario[0][0], u"0");
            EXPECT_TRUE(Nomes(saida.Caminho()).empty());
        }
        if (espera < 0) {
            EXPECT_FALSE(erro.empty());
        }
    }
}

TEST(Falhas, DiscoCheioOuSomenteLeituraNaImportacao) {
    Demo demo(300);
    const std::u16string local = DeUtf8(demo.Banco().string());
    for (const std::string opcoes : {"size=32k", "ro"}) {
        SCOPED_TRACE(opcoes);
        Montagem montagem(opcoes);
        if (!montagem.Montada()) GTEST_SKIP() << "Requer root e permissão para montar um tmpfs.";
        GravarArquivo(demo.Pasta() / "ServidoresSemMargem.txt", "relatorio anterior\r\n");
        const auto antes = Linhas(local, kTabela);
        dmConexao().fdConexao.Fechar();
        const std::string erro =
            Importar(local, montagem.Caminho() / "resultado.txt", demo.Retorno());
        dmConexao().fdConexao.Fechar();
        // Whichever of the files beside the result the full or read-only disk stopped first.
        EXPECT_NE(erro.find("'" + (montagem.Caminho() / "resultado.").string()), std::string::npos)
            << erro;
        EXPECT_EQ(Linhas(local, kTabela), antes);
        EXPECT_TRUE(Nomes(montagem.Caminho()).empty());
        EXPECT_EQ(LerArquivo(demo.Pasta() / "ServidoresSemMargem.txt"), "relatorio anterior\r\n");
        EXPECT_EQ(Nomes(demo.Pasta()),
                  (std::set<std::string>{"folha.fdb", "retorno.txt", "ServidoresSemMargem.txt"}));
    }
}

namespace {

std::string Gerar(const std::u16string& banco, const fs::path& pasta) {
    CadeiaHost mes(u"2"), ant(u"1"), ano(u"2024"), b(banco), saida(DeUtf8(pasta.string() + "/")),
        filtro(u"select matricula from SFP001FEV");
    try {
        GerarArquivo(mes, ant, ano, b, saida, filtro);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

const char* const kArquivos[] = {"Pessoas.csv", "Margem.txt", "Transferidos.txt"};

void GravarAnteriores(const fs::path& pasta) {
    for (const char* nome : kArquivos) GravarArquivo(pasta / nome, std::string("anterior ") + nome);
}

// Either every file is the earlier one, or every file is new: never a mixed set, never a temp file.
void ConferirTudoOuNada(const fs::path& pasta, bool sucesso) {
    EXPECT_EQ(Nomes(pasta),
              (std::set<std::string>{"Margem.txt", "Pessoas.csv", "Transferidos.txt"}));
    for (const char* nome : kArquivos) {
        const bool anterior = LerArquivo(pasta / nome) == std::string("anterior ") + nome;
        EXPECT_EQ(anterior, !sucesso) << nome;
    }
}

}  // namespace

TEST(Falhas, QuedaDoServidorNoMeioDaGeracaoNaoTrocaArquivos) {
    if (getuid() != 0 || !ServidorFirebirdResponde())
        GTEST_SKIP()
            << "Requer root e um servidor Firebird em localhost (scripts/servidor-firebird.sh).";
    Demo demo(3000);
    PastaDoServidor servidor;
    ASSERT_TRUE(servidor.Valida());
    servidor.Receber(demo.Banco(), "folha.fdb");
    int interrompidas = 0;
    for (int espera : {0, 40, 120, 300}) {
        SCOPED_TRACE("servidor derrubado após " + std::to_string(espera) + " ms");
        PastaTemporaria saida;
        GravarAnteriores(saida.Caminho());
        std::string erro;
        std::jthread geracao([&] { erro = Gerar(servidor.Local("folha.fdb"), saida.Caminho()); });
        std::this_thread::sleep_for(std::chrono::milliseconds(espera));
        DerrubarServidorFirebird();
        geracao.join();
        IniciarServidorFirebird();
        if (!erro.empty()) {
            ++interrompidas;
            std::printf("[ interrompida ] %d ms: %s\n", espera, erro.substr(0, 160).c_str());
        }
        ConferirTudoOuNada(saida.Caminho(), erro.empty());
    }
    EXPECT_GE(interrompidas, 1);
}

TEST(Falhas, DiscoCheioOuSomenteLeituraNaGeracao) {
    Demo demo(300);
    const std::u16string local = DeUtf8(demo.Banco().string());
    {
        // Room for the earlier files, not for the new ones.
        Montagem cheio("size=64k");
        if (!cheio.Montada()) GTEST_SKIP() << "Requer root e permissão para montar um tmpfs.";
        GravarAnteriores(cheio.Caminho());
        const std::string erro = Gerar(local, cheio.Caminho());
        EXPECT_NE(erro.find("não há espaço no disco"), std::string::npos) << erro;
        ConferirTudoOuNada(cheio.Caminho(), false);
    }
    Montagem somenteLeitura("ro");
    ASSERT_TRUE(somenteLeitura.Montada());
    const std::string erro = Gerar(local, somenteLeitura.Caminho());
    EXPECT_NE(erro.find("Pessoas.csv"), std::string::npos) << erro;
    EXPECT_TRUE(Nomes(somenteLeitura.Caminho()).empty());
}
