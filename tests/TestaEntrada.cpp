// The exported calls, the controller and the connection, seen as a host sees them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <set>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "dao/BancoFolha.h"
#include "demonstracao/EsquemaFolha.h"
#include "entry/Conexao.h"
#include "entry/ProcessoKavlo.h"
#include "tests/apoio/BancoTeste.h"
#include "util/Codificacao.h"
#include "util/Erros.h"

using namespace kavlo;
using namespace kavlo::teste;

TEST(Processo, GetInstanceSemControlador) {
    ASSERT_FALSE(TProcessoKAVLO::Instanciado());
    EXPECT_EQ(MensagemDeErro([] { TProcessoKAVLO::getInstance(); }),
              "Processo Kavlo Não instanciado.");
    {
        TProcessoKAVLO p;
        EXPECT_EQ(&TProcessoKAVLO::getInstance(), &p);
    }
    EXPECT_FALSE(TProcessoKAVLO::Instanciado());
}

TEST(Processo, RetiraSoOPrimeiroLocalhostExato) {
    EXPECT_EQ(SemLocalhost(u"localhost:C:\\dados\\folha.fdb"), u"C:\\dados\\folha.fdb");
    EXPECT_EQ(SemLocalhost(u"LOCALHOST:C:\\dados\\folha.fdb"), u"LOCALHOST:C:\\dados\\folha.fdb");
    EXPECT_EQ(SemLocalhost(u"localhost:/x/localhost:y"), u"/x/localhost:y");
    EXPECT_EQ(SemLocalhost(u"/dados/folha.fdb"), u"/dados/folha.fdb");
}

TEST(Processo, CadaConexaoVaiAoBancoDaChamada) {
    BancoTeste a, b;
    TProcessoKAVLO p;
    p.CaminhoBanco = a.Caminho();
    ASSERT_TRUE(p.ConectarBanco());
    EXPECT_EQ(dmConexao().fdConexao.Local(), a.Caminho());
    p.CaminhoBanco = b.Caminho();
    ASSERT_TRUE(p.ConectarBanco());  // closes the open connection and opens the new one
    EXPECT_EQ(dmConexao().fdConexao.Local(), b.Caminho());
    dmConexao().fdConexao.Fechar();
}

TEST(Exportacoes, ArgumentoNuloEVazioEMesVazioFalhaAntesDeGravar) {
    BancoTeste banco;
    PastaTemporaria saida;
    CadeiaHost caminho(banco.Caminho()), pasta(saida.ComBarra());
    // A null MesAtual is the empty text, which is no month.
    EXPECT_EQ(
        MensagemDeErro([&] { GerarArquivo(nullptr, nullptr, nullptr, caminho, pasta, nullptr); }),
        "'' is not a valid integer value");
    CadeiaHost vazio(u"");
    EXPECT_EQ(MensagemDeErro([&] { GerarArquivo(vazio, vazio, vazio, caminho, pasta, vazio); }),
              "'' is not a valid integer value");
    EXPECT_TRUE(std::filesystem::is_empty(saida.Caminho()));
    EXPECT_FALSE(TProcessoKAVLO::Instanciado());

    const auto retorno = saida.Caminho() / "retorno.txt";
    GravarArquivo(retorno, "H\r\nT\r\n");
    CadeiaHost load(DeUtf8(retorno.string())),
        resultado(DeUtf8((saida.Caminho() / "res.txt").string()));
    EXPECT_EQ(MensagemDeErro([&] {
                  ImportarArquivo(nullptr, nullptr, caminho, resultado, load, nullptr, nullptr);
              }),
              "'' is not a valid integer value");
    EXPECT_FALSE(TProcessoKAVLO::Instanciado());
}

TEST(Exportacoes, ComprimentoVemDoPrefixoNaoDoNul) {
    // A host string may hold a NUL: the length prefix, not a scan, says where it ends.
    BancoTeste banco;
    PastaTemporaria saida;
    CadeiaHost caminho(banco.Caminho()), pasta(saida.ComBarra());
    CadeiaHost mes(std::u16string(u"1\0x", 3));
    // Read as "1" the call would go on; read whole, the month does not convert.
    EXPECT_EQ(MensagemDeErro([&] { GerarArquivo(mes, mes, mes, caminho, pasta, mes); }),
              "'1\\x00x' is not a valid integer value");
}

TEST(Exportacoes, BancoInalcancavelNaoDeixaControlador) {
    PastaTemporaria saida;
    CadeiaHost um(u"1"), ano(u"2024"), pasta(saida.ComBarra()),
        filtro(u"select 1 as matricula from rdb$database");
    CadeiaHost caminho(DeUtf8((saida.Caminho() / "nao-existe.fdb").string()));
    const std::string m =
        MensagemDeErro([&] { GerarArquivo(um, um, ano, caminho, pasta, filtro); });
    EXPECT_NE(m.find("Não foi possível conectar ao banco de dados"), std::string::npos) << m;
    EXPECT_FALSE(TProcessoKAVLO::Instanciado());
    EXPECT_TRUE(std::filesystem::is_empty(saida.Caminho()));
}

TEST(Exportacoes, ArquivoDeRetornoAusenteFalhaDepoisDeConectar) {
    BancoTeste banco;
    PastaTemporaria saida;
    CadeiaHost um(u"1"), ano(u"2024"), caminho(banco.Caminho()), vazio(u"");
    CadeiaHost resultado(DeUtf8((saida.Caminho() / "res.txt").string()));
    CadeiaHost load(DeUtf8((saida.Caminho() / "falta.txt").string()));
    const std::string m =
        MensagemDeErro([&] { ImportarArquivo(um, ano, caminho, resultado, load, vazio, vazio); });
    EXPECT_NE(m.find("falta.txt"), std::string::npos) << m;
    EXPECT_TRUE(dmConexao().fdConexao.Aberta());
    EXPECT_FALSE(TProcessoKAVLO::Instanciado());
}

// The built library as a host loads it: exactly two exports, callable with allocator strings.
class Biblioteca : public ::testing::Test {
  protected:
    void SetUp() override {
        handle_ = dlopen(KAVLO_BIBLIOTECA, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        gerar_ = reinterpret_cast<decltype(&GerarArquivo)>(dlsym(handle_, "GerarArquivo"));
        importar_ = reinterpret_cast<decltype(&ImportarArquivo)>(dlsym(handle_, "ImportarArquivo"));
        ASSERT_NE(gerar_, nullptr);
        ASSERT_NE(importar_, nullptr);
    }
    void TearDown() override {
        if (handle_) dlclose(handle_);
    }
    void* handle_ = nullptr;
    decltype(&GerarArquivo) gerar_ = nullptr;
    decltype(&ImportarArquivo) importar_ = nullptr;
};

TEST_F(Biblioteca, ExportaExatamenteAsDuasOperacoes) {
    const std::string comando = std::string("nm -D --defined-only ") + KAVLO_BIBLIOTECA;
    std::unique_ptr<FILE, int (*)(FILE*)> p(popen(comando.c_str(), "r"), pclose);
    ASSERT_TRUE(p);
    std::set<std::string> simbolos;
    std::array<char, 512> linha{};
    while (fgets(linha.data(), linha.size(), p.get())) {
        std::string s(linha.data());
        s = s.substr(s.find_last_of(' ') + 1);
        s.erase(s.find_last_not_of("\r\n") + 1);
        simbolos.insert(s);
    }
    EXPECT_EQ(simbolos, (std::set<std::string>{"GerarArquivo", "ImportarArquivo"}));
}

TEST_F(Biblioteca, ChamadaNormalEExcecaoParaOHost) {
    // A payroll without servants: generation reads it and writes three empty files.
    BancoTeste banco(demo::EsquemaFixo() + demo::EsquemaDoMes("JAN"));
    PastaTemporaria saida;
    CadeiaHost um(u"1"), ano(u"2024"), caminho(banco.Caminho()), pasta(saida.ComBarra());
    CadeiaHost filtro(u"select matricula from SFP001JAN");
    CadeiaHost falta(DeUtf8((saida.Caminho() / "falta.fdb").string()));
    // Each call reaches the database named in its own arguments: a missing one fails even right
    // after a call whose connection was open.
    EXPECT_EQ(MensagemDeErro([&] { gerar_(um, um, ano, caminho, pasta, filtro); }).find("Erro"),
              std::string::npos);
    EXPECT_NE(MensagemDeErro([&] { gerar_(um, um, ano, falta, pasta, filtro); }).find("falta.fdb"),
              std::string::npos);
    const auto retorno = saida.Caminho() / "retorno.txt";
    GravarArquivo(retorno, "");
    CadeiaHost load(DeUtf8(retorno.string())),
        resultado(DeUtf8((saida.Caminho() / "res.txt").string()));
    CadeiaHost s(u"S");
    EXPECT_NE(
        MensagemDeErro([&] { importar_(um, ano, falta, resultado, load, s, s); }).find("falta.fdb"),
        std::string::npos);
    try {
        importar_(um, ano, falta, resultado, load, s, s);
        FAIL();
    } catch (const std::exception&) {
        // A plain std::exception: the host needs nothing of the library's own types.
    }
}
