// Registrations, month texts and paths holding quotes, ";" and SQL fragments travel as data: they
// find their rows or fail as conversions, and never change a statement.
#include <gtest/gtest.h>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "demonstracao/BancoDemo.h"
#include "demonstracao/EsquemaFolha.h"
#include "entry/Conexao.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/LinhaRetorno.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

// An instalment line whose registration field ends with `chave` (six characters and the digit).
std::string Linha(std::string_view seis, char digito, std::string_view valor) {
    return LinhaDeRetorno({{retorno::Tipo, "D"},
                           {retorno::Nome, "O'NEIL; "},
                           {retorno::Registro, "00000000"},
                           {retorno::MatriculaNumero, seis},
                           {retorno::MatriculaDigito, std::string(1, digito)},
                           {retorno::CodigoDesconto, "35"},
                           {retorno::Parcela, valor},
                           {retorno::Contadores, "001010"}});
}

}  // namespace

TEST(Injecao, RegistroComAspasEComandoSqlEDadoNaImportacao) {
    BancoTeste banco(
        demo::EsquemaFixo() + demo::EsquemaDoMes("FEV") +
        "INSERT INTO AFASTFOLHA VALUES (5, 'LICENÇA');"
        "INSERT INTO SFPDXX02FEV (MATRICULA, ATIVO, MCVALOR) VALUES ('O''N;---1', 'T', 100);"
        "INSERT INTO SFPDXX02FEV (MATRICULA, ATIVO, MCVALOR) VALUES ('000001-1', 'T', 100);"
        "INSERT INTO SFP017 VALUES ('O''N;---1', 5, '1', 2, 2024, '02/01/2024', '02/20/2024', "
        "NULL)");
    PastaTemporaria saida;
    const fs::path retorno = saida.Caminho() / "retorno.txt",
                   resultado = saida.Caminho() / "resultado.txt";
    GravarArquivo(retorno, "H\r\n" + Linha("O'N;--", '1', "000000000030.00") + "\r\n" +
                               Linha("' or 1", '1', "000000000030.00") + "\r\n" + "T\r\n");
    CadeiaHost mes(u"2"), ano(u"2024"), b(banco.Caminho()), res(DeUtf8(resultado.string())),
        load(DeUtf8(retorno.string())), folhas(u"MENSAL"), s(u"S");
    ASSERT_EQ(MensagemDeErro([&] { ImportarArquivo(mes, ano, b, res, load, folhas, s); }), "");
    dmConexao().fdConexao.Fechar();
    // The quoted registration found its row and its leave; the fragment matched nobody.
    EXPECT_EQ(banco.Linhas("select matricula, cod1, mcvalor from SFPDXX02FEV order by matricula"),
              (std::vector<std::vector<std::u16string>>{{u"000001-1", u"<null>", u"100"},
                                                        {u"O'N;---1", u"35", u"70"}}));
    const std::string r = LerArquivo(resultado);
    EXPECT_NE(r.find(std::string("05 LICEN\xC7") + "A"), std::string::npos);  // its leave, code 5
    EXPECT_EQ(std::count(r.begin(), r.end(), '\n'), 3);  // header, one result line, trailer
}

TEST(Injecao, TextosDoHostComSqlFalhamComoConversao) {
    BancoTeste banco(demo::EsquemaFixo() + demo::EsquemaDoMes("FEV") +
                     "INSERT INTO SFP003 VALUES ('X')");
    PastaTemporaria saida;
    const fs::path retorno = saida.Caminho() / "retorno.txt";
    GravarArquivo(retorno, "H\r\nT\r\n");
    CadeiaHost b(banco.Caminho()), pasta(saida.ComBarra()),
        filtro(u"select matricula from SFP001FEV");
    CadeiaHost load(DeUtf8(retorno.string())), res(DeUtf8((saida.Caminho() / "r.txt").string())),
        s(u"S");
    CadeiaHost dois(u"2"), um(u"1"), ano(u"2024");
    CadeiaHost mesSql(u"2 or 1=1; drop table SFP003"), anoSql(u"2024'; drop table SFP003; --");
    EXPECT_EQ(MensagemDeErro([&] { GerarArquivo(mesSql, um, ano, b, pasta, filtro); }),
              "'2 or 1=1; drop table SFP003' is not a valid integer value");
    EXPECT_EQ(MensagemDeErro([&] { ImportarArquivo(mesSql, ano, b, res, load, s, s); }),
              "'2 or 1=1; drop table SFP003' is not a valid integer value");
    EXPECT_NE(MensagemDeErro([&] {
                  GerarArquivo(dois, um, anoSql, b, pasta, filtro);
              }).find("is not a valid date"),
              std::string::npos);
    EXPECT_NE(MensagemDeErro([&] {
                  ImportarArquivo(dois, anoSql, b, res, load, s, s);
              }).find("is not a valid date"),
              std::string::npos);
    dmConexao().fdConexao.Fechar();
    EXPECT_EQ(banco.Valor("select descricao from SFP003"), u"X");
}

TEST(Injecao, PastaComAspasEPontoEVirgulaEApenasUmCaminho) {
    PastaTemporaria raiz;
    demo::OpcoesDemo o;
    o.banco = (raiz.Caminho() / "folha.fdb").string();
    o.servidores = 30;
    demo::CriarBancoDemo(o);
    const fs::path pasta = raiz.Caminho() / "saída'; drop table SFP003; --";
    fs::create_directory(pasta);
    CadeiaHost mes(u"2"), ant(u"1"), ano(u"2024"), b(DeUtf8(o.banco)),
        saida(DeUtf8(pasta.string() + "/")), filtro(u"select matricula from SFP001FEV");
    ASSERT_EQ(MensagemDeErro([&] { GerarArquivo(mes, ant, ano, b, saida, filtro); }), "");
    dmConexao().fdConexao.Fechar();
    for (const char* nome : {"Pessoas.csv", "Margem.txt", "Transferidos.txt"})
        EXPECT_TRUE(fs::exists(pasta / nome));
    EXPECT_EQ(BancoTesteExistente(o.banco).Linhas("select count(*) from SFP003")[0][0], u"1");
}
