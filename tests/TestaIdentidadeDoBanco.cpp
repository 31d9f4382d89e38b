// Every spelling of a database that reaches a file on this machine is that file: an import (or a
// generation) whose output is the database, named any way the client takes, is refused before
// anything is written, through the exported function and through the tool alike. Needs the local
// Firebird server (skipped when none answers).
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "dao/BancoFolha.h"
#include "demonstracao/EsquemaFolha.h"
#include "entry/Conexao.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/Ferramenta.h"
#include "tests/apoio/ServidorTeste.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

const std::string kFolha =
    "INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES ('123456-7', 'T', 100);"
    "INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES ('200000-1', 'T', 5)";

std::string Maiusculas(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// This machine's names and addresses other than loopback, as an operator might type them.
std::vector<std::string> NomesDestaMaquina() {
    std::vector<std::string> r;
    char nome[256] = {};
    if (::gethostname(nome, sizeof nome - 1) == 0 && nome[0]) {
        r.push_back(nome);
        r.push_back(Maiusculas(nome));
    }
    ifaddrs* lista = nullptr;
    if (::getifaddrs(&lista) == 0) {
        for (ifaddrs* i = lista; i; i = i->ifa_next) {
            if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
            char texto[INET_ADDRSTRLEN];
            const auto* a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
            if (::inet_ntop(AF_INET, &a->sin_addr, texto, sizeof texto) &&
                std::string(texto) != "127.0.0.1")
                r.push_back(texto);
        }
        ::freeifaddrs(lista);
    }
    return r;
}

class IdentidadeDoBanco : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string motivo = SemServidor(servidor_); !motivo.empty())
            GTEST_SKIP() << motivo;
        BancoTeste banco(demo::EsquemaFixo() + demo::EsquemaDoMes("JAN") + kFolha);
        servidor_.Receber(banco.Arquivo(), "folha.fdb");
        GravarArquivo(Retorno(),
                      "H\r\n" + LinhaDeParcela("123456-7", "000000000060.00") + "\r\nT\r\n");
    }
    void TearDown() override { dmConexao().fdConexao.Fechar(); }

    std::string Arquivo() const { return (servidor_.Caminho() / "folha.fdb").string(); }
    fs::path Retorno() const { return saida_.Caminho() / "retorno.txt"; }
    // The month's table and whether the journal was made, read through the server.
    std::vector<std::vector<std::u16string>> Estado() const {
        auto r = BancoTesteExistente(servidor_.Local("folha.fdb"))
                     .Linhas("select * from SFPDXX02JAN order by MATRICULA");
        r.push_back(BancoTesteExistente(servidor_.Local("folha.fdb"))
                        .Linhas("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME "
                                "starting with 'KAVLO_'")[0]);
        return r;
    }
    static bool Alcanca(const std::string& local) {
        try {
            fb::Conexao c;
            AbrirBancoDaFolha(c, DeUtf8(local));
            return true;
        } catch (const ErroBanco&) {
            return false;
        }
    }

    PastaDoServidor servidor_;
    PastaTemporaria saida_;
};

}  // namespace

TEST_F(IdentidadeDoBanco, CadaGrafiaDoBancoEOMesmoArquivo) {
    const std::string p = Arquivo();
    const fs::path atalho = saida_.Caminho() / "atalho.fdb";
    fs::create_symlink(p, atalho);
    const std::string pelaPasta =
        (servidor_.Caminho() / "." / ".." / servidor_.Caminho().filename() / "folha.fdb").string();
    struct Caso {
        std::string banco, resultado;
    };
    std::vector<Caso> casos = {
        {"localhost:" + p, p},
        {"LOCALHOST:" + p, p},
        {"LocalHost:" + pelaPasta, p},
        {"127.0.0.1:" + p, p},
        {"127.0.0.1:" + p, atalho.string()},
        {"localhost/3050:" + p, p},
        {"127.0.0.1/gds_db:" + p, pelaPasta},
        {"[::1]:" + p, p},
        {"[::1]/3050:" + p, p},
        {"inet://localhost/" + p, p},
        {"INET://LocalHost:3050/" + p, atalho.string()},
        {"inet://" + p, p},
        {"inet4://127.0.0.1/" + p, p},
        {"inet6://[::1]/" + p, p},
    };
    for (const auto& nome : NomesDestaMaquina()) casos.push_back({nome + ":" + p, p});
    const auto antes = Estado();
    int recusadas = 0;
    for (const auto& [banco, resultado] : casos) {
        // A spelling this server does not answer to (it may listen on IPv4 loopback only) fails
        // to connect: nothing is written either way.
        const bool alcanca = Alcanca(banco);
        SCOPED_TRACE(banco + " -> " + resultado + (alcanca ? "" : " (o servidor não responde)"));
        CadeiaHost mes(u"1"), ano(u"2024"), b(DeUtf8(banco)), res(DeUtf8(resultado)),
            load(DeUtf8(Retorno().string())), folhas(u"MENSAL"), s(u"S");
        const std::string erro =
            MensagemDeErro([&] { ImportarArquivo(mes, ano, b, res, load, folhas, s); });
        dmConexao().fdConexao.Fechar();
        EXPECT_NE(erro, "");
        if (alcanca) {
            ++recusadas;
            EXPECT_NE(erro.find("são o mesmo arquivo"), std::string::npos) << erro;
            EXPECT_NE(erro.find("o banco de dados da folha"), std::string::npos) << erro;
            EXPECT_NE(erro.find("informe caminhos diferentes"), std::string::npos) << erro;
        }
        EXPECT_EQ(Estado(), antes);

        const Execucao e =
            Kavlo({"importar", "--mes", "1", "--ano", "2024", "--banco", banco, "--resultado",
                   resultado, "--retorno", Retorno().string(), "--folhas", "MENSAL"},
                  saida_.Caminho());
        EXPECT_EQ(e.codigo, 1) << e.erro;
        if (alcanca) {
            EXPECT_NE(e.erro.find("são o mesmo arquivo"), std::string::npos) << e.erro;
        }
        EXPECT_EQ(Estado(), antes);
        EXPECT_FALSE(fs::exists(servidor_.Caminho() / "ServidoresSemMargem.txt"));
        EXPECT_FALSE(fs::exists(saida_.Caminho() / "ServidoresSemMargem.txt"));
    }
    // Most of the spellings reach this server: the table is not empty by accident.
    EXPECT_GE(recusadas, 8);
    EXPECT_TRUE(fs::is_symlink(atalho));
}

// A generation whose output folder holds the database under an output's name.
TEST_F(IdentidadeDoBanco, GeracaoNaPastaDoBancoComONomeDeUmArquivo) {
    BancoTeste banco(demo::EsquemaFixo() + demo::EsquemaDoMes("JAN") + demo::EsquemaDoMes("DEZ"));
    servidor_.Receber(banco.Arquivo(), "Margem.txt");
    const std::string local = "127.0.0.1:" + (servidor_.Caminho() / "Margem.txt").string();
    const auto antes = BancoTesteExistente(DeUtf8(local)).Linhas("select count(*) from SFP001JAN");
    CadeiaHost mes(u"1"), ant(u"12"), ano(u"2024"), b(DeUtf8(local)),
        pasta(DeUtf8(servidor_.Caminho().string() + "/")),
        filtro(u"select matricula from SFP001JAN");
    const std::string erro = MensagemDeErro([&] { GerarArquivo(mes, ant, ano, b, pasta, filtro); });
    dmConexao().fdConexao.Fechar();
    EXPECT_NE(erro.find("Margem.txt"), std::string::npos) << erro;
    EXPECT_NE(erro.find("o banco de dados da folha"), std::string::npos) << erro;
    EXPECT_EQ(BancoTesteExistente(DeUtf8(local)).Linhas("select count(*) from SFP001JAN"), antes);
    EXPECT_FALSE(fs::exists(servidor_.Caminho() / "Pessoas.csv"));
}
