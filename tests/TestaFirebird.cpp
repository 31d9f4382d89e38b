// The Firebird layer against a real embedded database.
#include <gtest/gtest.h>

#include "dao/Firebird.h"
#include "tests/BancoTeste.h"
#include "util/Codificacao.h"
#include "util/Datas.h"
#include "util/Erros.h"

using namespace kavlo;
using namespace kavlo::teste;

namespace {

struct Aberto {
    explicit Aberto(const BancoTeste& banco) {
        conexao.Abrir(banco.Caminho(), "SYSDBA", "quillbank");
    }
    fb::Conexao conexao;
};

}  // namespace

TEST(Firebird, TextoPortuguesIdaEVoltaEmTodosOsConjuntosDeCaracteres) {
    // The connection speaks WIN1252: WIN1252 and ISO8859_1 columns are converted by the server,
    // NONE columns hold the bytes the payroll application (a Windows-1252 program) wrote.
    BancoTeste banco(
        "CREATE TABLE T (ID INTEGER, W VARCHAR(40) CHARACTER SET WIN1252,"
        " I VARCHAR(40) CHARACTER SET ISO8859_1, N VARCHAR(40) CHARACTER SET NONE)");
    const std::u16string texto = u"João Conceição Ávila ÇÉÃÕ ü";
    {
        Aberto a(banco);
        fb::Transacao t(a.conexao, fb::ModoTransacao::Escrita);
        fb::Comando(t, std::string_view("insert into T values (1, ?, ?, ?)"), "gravar")
            .Executar({texto, texto, texto});
        t.Commit();
    }
    Aberto a(banco);
    fb::Transacao t(a.conexao, fb::ModoTransacao::Leitura);
    fb::Comando cmd(t, std::string_view("select w, i, n from T where w = ?"), "ler");
    auto c = cmd.Abrir({texto});
    ASSERT_TRUE(c.Proximo());
    EXPECT_EQ(c.Texto("W"), texto);
    EXPECT_EQ(c.Texto("i"), texto);
    EXPECT_EQ(c.Texto("N"), texto);
    EXPECT_FALSE(c.Proximo());
}

TEST(Firebird, NuloLidoComoVazioZeroOuDataZero) {
    BancoTeste banco(
        "CREATE TABLE T (A VARCHAR(10), B DOUBLE PRECISION, C INTEGER, D DATE, E NUMERIC(9,2), F "
        "CHAR(4));"
        "INSERT INTO T VALUES (NULL, NULL, NULL, NULL, NULL, NULL);"
        "INSERT INTO T VALUES ('x', 1.5, 7, '03/01/2024', 12.34, 'ab')");
    Aberto a(banco);
    fb::Transacao t(a.conexao, fb::ModoTransacao::Leitura);
    fb::Comando cmd(t, std::string_view("select * from T order by a nulls first"), "ler");
    auto c = cmd.Abrir();
    ASSERT_TRUE(c.Proximo());
    for (const char* col : {"A", "B", "C", "D", "E", "F"}) {
        EXPECT_TRUE(c.Nulo(col));
        EXPECT_EQ(c.Texto(col), u"");
        EXPECT_EQ(c.Real(col), 0);
        EXPECT_EQ(c.Data(col), 0);
    }
    ASSERT_TRUE(c.Proximo());
    EXPECT_EQ(c.Real("B"), 1.5);
    EXPECT_EQ(c.Texto("B"), u"1,5");
    EXPECT_EQ(c.Inteiro("C"), 7);
    EXPECT_EQ(c.Texto("C"), u"7");
    EXPECT_EQ(c.Data("D"), CodificaData(2024, 3, 1));  // dialect 1 reads 'mm/dd/yyyy'
    EXPECT_EQ(c.Texto("D"), u"01/03/2024");
    EXPECT_DOUBLE_EQ(c.Real("E"), 12.34);
    EXPECT_EQ(c.Texto("F"), u"ab");  // CHAR values without their padding
    EXPECT_FALSE(c.TextoVazio(c.Indice("F")));
}

TEST(Firebird, ParametrosDeTodosOsTiposEContagemDeLinhas) {
    BancoTeste banco(
        "CREATE TABLE T (K VARCHAR(10), V DOUBLE PRECISION, N INTEGER, D DATE);"
        "INSERT INTO T VALUES ('a', 0, 0, NULL);"
        "INSERT INTO T VALUES ('b', 0, 0, NULL)");
    Aberto a(banco);
    fb::Transacao t(a.conexao, fb::ModoTransacao::Escrita);
    fb::Comando upd(t, std::string_view("update T set V = ?, N = ?, D = ? where K = ?"), "gravar");
    EXPECT_EQ(
        upd.Executar({2.5, int64_t{42}, fb::Data{CodificaData(2024, 2, 29)}, std::u16string(u"a")}),
        1u);
    EXPECT_EQ(upd.Executar({fb::Nulo{}, int64_t{1}, fb::Nulo{}, std::u16string(u"nenhum")}), 0u);
    // A quote in a value is data, not SQL; a cast lets a text longer than the column be compared.
    fb::Comando porTexto(
        t, std::string_view("update T set N = 9 where K = cast(? as varchar(200))"), "gravar");
    EXPECT_EQ(porTexto.Executar({std::u16string(u"b' or '1'='1")}), 0u);
    EXPECT_EQ(porTexto.Executar({std::u16string(u"b")}), 1u);
    fb::Comando sel(t, std::string_view("select rdb$db_key as chave, v, n, d from T where k = ?"),
                    "ler");
    auto c = sel.Abrir({std::u16string(u"a")});
    ASSERT_TRUE(c.Proximo());
    EXPECT_EQ(c.Real("V"), 2.5);
    EXPECT_EQ(c.Inteiro("N"), 42);
    EXPECT_EQ(c.Data("D"), CodificaData(2024, 2, 29));
    const std::string chave = c.Bytes(c.Indice("CHAVE"));
    EXPECT_EQ(chave.size(), 8u);
    c.Fechar();
    fb::Comando porChave(t, std::string_view("update T set N = 7 where rdb$db_key = ?"), "gravar");
    EXPECT_EQ(porChave.Executar({fb::Octetos{chave}}), 1u);
    EXPECT_EQ(
        fb::Comando(t, std::string_view("select n from T where k = 'a'"), "ler").Abrir().Proximo(),
        true);
}

TEST(Firebird, TransacaoSemCommitEDesfeita) {
    BancoTeste banco("CREATE TABLE T (N INTEGER); INSERT INTO T VALUES (1)");
    {
        Aberto a(banco);
        fb::Transacao t(a.conexao, fb::ModoTransacao::Escrita);
        fb::Comando(t, std::string_view("update T set N = 2"), "gravar").Executar();
    }
    EXPECT_EQ(banco.Valor("select n from T"), u"1");
}

TEST(Firebird, ErrosDizemOQueSeFaziaEOSql) {
    BancoTeste banco("CREATE TABLE T (N INTEGER)");
    Aberto a(banco);
    fb::Transacao t(a.conexao, fb::ModoTransacao::Leitura);
    try {
        fb::Comando(t, std::string_view("select x from T"), "ler os servidores do mês");
        FAIL();
    } catch (const ErroBanco& e) {
        const std::string m = e.what();
        EXPECT_NE(m.find("ao ler os servidores do mês"), std::string::npos) << m;
        EXPECT_NE(m.find("select x from T"), std::string::npos) << m;
        EXPECT_NE(m.find("X"), std::string::npos) << m;
    }
    fb::Comando cmd(t, std::string_view("select n from T"), "ler");
    auto c = cmd.Abrir();
    EXPECT_THROW(c.Indice("NAO_EXISTE"), ErroBanco);
}

TEST(Firebird, BancoInexistente) {
    PastaTemporaria pasta;
    fb::Conexao c;
    try {
        c.Abrir(DeUtf8((pasta.Caminho() / "nao-existe.fdb").string()), "SYSDBA", "quillbank");
        FAIL();
    } catch (const ErroBanco& e) {
        EXPECT_NE(std::string(e.what()).find("nao-existe.fdb"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(c.Aberta());
}

TEST(Firebird, ParametroAlternandoEntreNuloEValorGravaCadaLinhaComoDada) {
    BancoTeste banco("CREATE TABLE T (I INTEGER, V DOUBLE PRECISION, S VARCHAR(10), D DATE)");
    Aberto a(banco);
    fb::Transacao t(a.conexao, fb::ModoTransacao::Escrita);
    fb::Comando ins(t, std::string_view("insert into T values (?, ?, ?, ?)"), "gravar");
    // A NULL reuses the previous row's message shape; the values around it must not leak into it.
    ins.Executar({int64_t{1}, fb::Nulo{}, fb::Nulo{}, fb::Nulo{}});
    ins.Executar({int64_t{2}, 2.5, std::u16string(u"dois"), fb::Data{CodificaData(2024, 2, 29)}});
    ins.Executar({int64_t{3}, fb::Nulo{}, fb::Nulo{}, fb::Nulo{}});
    ins.Executar({int64_t{4}, 4.25, std::u16string(u"quatro"), fb::Nulo{}});
    t.Commit();
    EXPECT_EQ(banco.Linhas(
                  "select i, cast(v * 100 as integer), s, extract(day from d) from T order by i"),
              (std::vector<std::vector<std::u16string>>{{u"1", u"<null>", u"<null>", u"<null>"},
                                                        {u"2", u"250", u"dois", u"29"},
                                                        {u"3", u"<null>", u"<null>", u"<null>"},
                                                        {u"4", u"425", u"quatro", u"<null>"}}));
}

TEST(Firebird, CharEmBrancoEVazio) {
    // A deduction code kept in CHAR(2) and emptied by the payroll reads back as two blanks.
    BancoTeste banco("CREATE TABLE T (C CHAR(2), V VARCHAR(2)); INSERT INTO T VALUES ('', ' ')");
    Aberto a(banco);
    fb::Transacao t(a.conexao, fb::ModoTransacao::Leitura);
    fb::Comando cmd(t, std::string_view("select c, v from T"), "ler");
    auto c = cmd.Abrir();
    ASSERT_TRUE(c.Proximo());
    EXPECT_EQ(c.Texto(0u), u"");
    EXPECT_TRUE(c.TextoVazio(0u));
    EXPECT_EQ(c.Texto(1u), u" ");  // a VARCHAR keeps what was stored
    EXPECT_FALSE(c.TextoVazio(1u));
}
