// The Firebird layer against a real embedded database.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <tuple>

#include "dao/BancoFolha.h"
#include "dao/firebird/Firebird.h"
#include "tests/apoio/BancoTeste.h"
#include "util/Codificacao.h"
#include "util/Datas.h"
#include "util/Erros.h"

using namespace kavlo;
using namespace kavlo::teste;

namespace {

struct Aberto {
    explicit Aberto(const BancoTeste& banco) { AbrirBancoDaFolha(conexao, banco.Caminho()); }
    fb::Conexao conexao;
};

}  // namespace

// Hexadecimal of the Windows-1252 bytes of a text, for a NONE column filled through UTF8.
std::string Hex1252(std::u16string_view texto) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string r = "x'";
    for (unsigned char b : ParaWindows1252(texto)) r += {kHex[b >> 4], kHex[b & 0xF]};
    return r + "'";
}

TEST(Firebird, CadaColunaLidaNoConjuntoDeCaracteresQueTem) {
    // Filled through a UTF8 connection, so that every letter is really stored; a NONE column
    // holds the Windows-1252 bytes the payroll application writes.
    struct Coluna {
        const char* nome;
        const char* tipo;
        std::string valor;    // as the UTF8 script writes it
        std::u16string lido;  // as this layer reads it
    };
    const std::vector<Coluna> colunas = {
        {"N", "VARCHAR(20) CHARACTER SET NONE", Hex1252(u"JOSÉ € \u0081"), u"JOSÉ € \u0081"},
        {"W", "VARCHAR(20) CHARACTER SET WIN1252", "'JOSÉ € Œ'", u"JOSÉ € Œ"},
        // ISO8859_1's 0x80-0x9F, which the server refuses to convert to WIN1252.
        {"I", "VARCHAR(20) CHARACTER SET ISO8859_1",
         "'ÇÃO ÿ"
         "\xC2\x85'",
         u"ÇÃO ÿ\u0085"},
        {"U", "VARCHAR(20) CHARACTER SET UTF8", "'NGUYỄN Ş 😀'", u"NGUYỄN Ş 😀"},
        {"F", "VARCHAR(20) CHARACTER SET UNICODE_FSS", "'ŁÓDŹ 😀'", u"ŁÓDŹ 😀"},
        // Four bytes of UTF-8 in UNICODE_FSS, as a client that writes its bytes leaves them.
        {"F4", "VARCHAR(20) CHARACTER SET UNICODE_FSS", "_UNICODE_FSS x'41F09F9880'", u"A😀"},
        {"P", "VARCHAR(20) CHARACTER SET WIN1250", "'ŁÓDŹ Ř'", u"ŁÓDŹ Ř"},
        {"K", "VARCHAR(20) CHARACTER SET KOI8R", "'Жук'", u"Жук"},
        {"CU", "CHAR(6) CHARACTER SET UTF8", "'Ş😀'", u"Ş😀"},
        {"CP", "CHAR(6) CHARACTER SET WIN1250", "'Ł'", u"Ł"},
        {"O", "CHAR(3) CHARACTER SET OCTETS", "x'00FF41'", std::u16string(u"\0\u00FFA", 3)},
    };
    std::string tabela = "CREATE TABLE T (ID INTEGER", insert = "INSERT INTO T VALUES (1";
    for (const auto& c : colunas) {
        tabela += std::string(", ") + c.nome + " " + c.tipo;
        insert += ", " + c.valor;
    }
    BancoTeste banco(tabela + ")");
    banco.ExecutarUtf8(insert + ")");
    // The database holds the letters: read back through UTF8 (NONE and OCTETS as their bytes).
    EXPECT_EQ(banco.LinhasUtf8("select n, u, f, p, cu from T"),
              (std::vector<std::vector<std::string>>{
                  {"JOS\xC9 \x80 \x81", "NGUYỄN Ş 😀", "ŁÓDŹ 😀", "ŁÓDŹ Ř", "Ş😀"}}));

    Aberto a(banco);
    fb::Transacao t(a.conexao, fb::ModoTransacao::Leitura);
    fb::Comando cmd(t, std::string_view("select * from T"), "ler");
    auto c = cmd.Abrir();
    ASSERT_TRUE(c.Proximo());
    for (const auto& coluna : colunas) EXPECT_EQ(c.Texto(coluna.nome), coluna.lido) << coluna.nome;
    EXPECT_FALSE(c.Proximo());
}

TEST(Firebird, TextoComparadoComColunasDeCadaConjuntoComoAntes) {
    // Keys written by this layer: a NONE column gets Windows-1252 bytes (a letter it cannot hold
    // becomes "?"), the others the letters.
    BancoTeste banco(
        "CREATE TABLE T (M VARCHAR(10) CHARACTER SET NONE, W VARCHAR(10) CHARACTER SET WIN1252,"
        " U VARCHAR(10) CHARACTER SET UTF8)");
    const std::vector<std::u16string> chaves = {u"JOSÉ", u"O'NEIL", u"ŁUKASZ", u"AÇÃO\"1"};
    {
        Aberto a(banco);
        fb::Transacao t(a.conexao, fb::ModoTransacao::Escrita);
        fb::Comando ins(t, std::string_view("insert into T values (?, ?, ?)"), "gravar");
        for (const auto& k : chaves) ins.Executar({k, k, k});
        t.Commit();
    }
    EXPECT_EQ(
        banco.LinhasUtf8("select m, w, u from T where u starting with 'J' or u starting with 'Ł'"),
        (std::vector<std::vector<std::string>>{{"JOS\xC9", "JOSÉ", "JOSÉ"},
                                               {"?UKASZ", "?UKASZ", "ŁUKASZ"}}));
    struct Caso {
        const char* sql;
        std::u16string parametro;
        size_t linhas;
    };
    Aberto a(banco);
    fb::Transacao t(a.conexao, fb::ModoTransacao::Leitura);
    for (const auto& [sql, parametro, linhas] : std::vector<Caso>{
             {"select 1 from T where m = ?", u"JOSÉ", 1},
             {"select 1 from T where m = cast(? as varchar(100))", u"JOSÉ", 1},
             {"select 1 from T where m = ?", u"O'NEIL", 1},
             {"select 1 from T where m = ?", u"AÇÃO\"1", 1},
             {"select 1 from T where w = ?", u"JOSÉ", 1},
             {"select 1 from T where u = ?", u"JOSÉ", 1},
             {"select 1 from T where w = cast(? as varchar(100))", u"JOSÉ", 1},
             // A letter outside Windows-1252: found where the column holds it, and no error
             // where it cannot be.
             {"select 1 from T where u = ?", u"ŁUKASZ", 1},
             {"select 1 from T where m = ?", u"ŁUKASZ", 1},  // "?UKASZ", as always
             {"select 1 from T where w = ?", u"ŁÓDŹ", 0},
             // Literals mean what they meant on a WIN1252 connection, quotes of dialect 1 too.
             {"select 1 from T where m = 'JOSÉ' and w = 'JOSÉ' and u = 'JOSÉ' and ? = ''", u"", 1},
             {"select 1 from T where m = \"AÇÃO\"\"1\" and w = 'AÇÃO\"1' and ? = ''", u"", 1},
             {"select 1 from T where u = 'ŁUKASZ' and ? = ''", u"", 1},
             {"select 1 from T where m = q'{O'NEIL}' and u = _utf8 'O''NEIL' and ? = ''", u"", 1},
             {"select 1 from T where u = _utf8 'ŁUKASZ' and ? = ''", u"", 1},
         }) {
        fb::Comando cmd(t, std::string_view(sql), "ler");
        auto c = cmd.Abrir({parametro});
        size_t n = 0;
        while (c.Proximo()) ++n;
        EXPECT_EQ(n, linhas) << sql << " " << ParaUtf8(parametro);
    }
}

TEST(Firebird, LiteraisDoComandoComOsBytesDoWindows1252) {
    for (const auto& [sql, texto] : std::vector<std::pair<std::u16string, std::string>>{
             {u"select a from T where b = 'x'", "select a from T where b = 'x'"},
             {u"where a = 'JOSÉ'", "where a = _WIN1252 x'4A4F53C9'"},
             {u"where a = 'O''N É' or b = 'ok'", "where a = _WIN1252 x'4F274E20C9' or b = 'ok'"},
             {u"where a = \"É\"\"\"", "where a = _WIN1252 x'C922'"},  // dialect 1: a string
             {u"where a = 'Ł€'", "where a = _UTF8 x'C581E282AC'"},
             {u"where a = _utf8  'Ł'", "where a = _utf8  x'C581'"},
             {u"where a = _WIN1252'É'", "where a = _WIN1252x'C9'"},
             {u"where a = Q'{it's É}'", "where a = _WIN1252 x'6974277320C9'"},
             {u"where xq = 'É'", "where xq = _WIN1252 x'C9'"},
             {u"-- 'comentário\nwhere a = 'ã'", "-- 'coment\xC3\xA1rio\nwhere a = _WIN1252 x'E3'"},
             {u"/* 'é */ 'é'", "/* '\xC3\xA9 */ _WIN1252 x'E9'"},
             {u"where a = 'é", "where a = '\xC3\xA9"},  // unterminated: the server says so
         })
        EXPECT_EQ(fb::TextoDoComando(sql), texto) << ParaUtf8(sql);
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

// The operator reads what was being done and what went wrong, in Portuguese where the kind of
// error is known; the statement goes with the error, not into its message.
TEST(Firebird, ErrosDizemOQueSeFaziaEOSql) {
    BancoTeste banco("CREATE TABLE T (N INTEGER)");
    Aberto a(banco);
    fb::Transacao t(a.conexao, fb::ModoTransacao::Leitura);
    try {
        fb::Comando(t, std::string_view("select x from T"), "ler os servidores do mês");
        FAIL();
    } catch (const ErroBanco& e) {
        const std::string m = e.what();
        EXPECT_NE(m.find("ao ler os servidores do mês: a coluna X não existe"), std::string::npos)
            << m;
        EXPECT_EQ(m.find("select x from T"), std::string::npos) << m;
        EXPECT_EQ(e.Sql(), "select x from T");
    }
    try {
        fb::Comando(t, std::string_view("select n from SFP001MAR"), "ler os servidores do mês");
        FAIL();
    } catch (const ErroBanco& e) {
        EXPECT_TRUE(fb::TabelaInexistente(e));
        EXPECT_NE(std::string(e.what()).find("a tabela SFP001MAR não existe neste banco de dados"),
                  std::string::npos)
            << e.what();
    }
    fb::Comando cmd(t, std::string_view("select n from T"), "ler");
    auto c = cmd.Abrir();
    EXPECT_THROW(c.Indice("NAO_EXISTE"), ErroBanco);
}

TEST(Firebird, BancoInexistente) {
    PastaTemporaria pasta;
    fb::Conexao c;
    try {
        AbrirBancoDaFolha(c, DeUtf8((pasta.Caminho() / "nao-existe.fdb").string()));
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

// A nullable column read as std::optional: nothing for NULL, the value as the plain reader gives it
// otherwise; the plain readers keep reading NULL as empty or 0.
TEST(Firebird, ValorOpcionalNadaParaNuloEOValorDoLeitorParaOResto) {
    BancoTeste banco(
        "CREATE TABLE T (ID INTEGER, A VARCHAR(10), B DOUBLE PRECISION, C INTEGER, D DATE, "
        "E NUMERIC(9,2), F CHAR(4));"
        "INSERT INTO T VALUES (1, NULL, NULL, NULL, NULL, NULL, NULL);"
        "INSERT INTO T VALUES (2, '', 0, 0, '03/01/2024', -12.5, 'ab')");
    Aberto a(banco);
    fb::Transacao t(a.conexao, fb::ModoTransacao::Leitura);
    fb::Comando cmd(t, std::string_view("select * from T order by id"), "ler");
    auto c = cmd.Abrir();
    ASSERT_TRUE(c.Proximo());
    EXPECT_EQ(c.Valor<std::u16string>("A"), std::nullopt);
    EXPECT_EQ(c.Valor<double>("B"), std::nullopt);
    EXPECT_EQ(c.Valor<int32_t>("C"), std::nullopt);
    EXPECT_FALSE(c.Valor<fb::Data>("D").has_value());
    EXPECT_EQ(c.Valor<int64_t>("E"), std::nullopt);
    EXPECT_EQ(c.Valor<std::u16string>("F"), std::nullopt);
    EXPECT_EQ(c.Como<std::u16string>(c.Indice("A")), u"");
    EXPECT_EQ(c.Como<int64_t>(c.Indice("E")), 0);
    ASSERT_TRUE(c.Proximo());
    // An empty text and a zero are values, not NULL.
    EXPECT_EQ(c.Valor<std::u16string>("A"), u"");
    EXPECT_EQ(c.Valor<double>("B"), 0.0);
    EXPECT_EQ(c.Valor<int32_t>("C"), 0);
    ASSERT_TRUE(c.Valor<fb::Data>("D").has_value());
    EXPECT_EQ(c.Valor<fb::Data>("D")->valor, CodificaData(2024, 3, 1));
    EXPECT_EQ(c.Valor<double>("E"), -12.5);
    EXPECT_EQ(c.Valor<int64_t>("E"), -13);  // rounded as Inteiro rounds, half away from zero
    EXPECT_EQ(c.Valor<std::u16string>("F"), u"ab");
    EXPECT_EQ(c.Valor<int64_t>(0u), 2);
}

namespace {

struct Pessoa {
    std::u16string nome;
    std::optional<std::u16string> apelido;
    int32_t idade = -1;
    std::optional<fb::Data> nascimento;
    double salario = -1;

    static constexpr std::tuple kColunas{
        fb::Campo{"NOME", &Pessoa::nome}, fb::Campo{"APELIDO", &Pessoa::apelido},
        fb::Campo{"IDADE", &Pessoa::idade}, fb::Campo{"NASCIMENTO", &Pessoa::nascimento},
        fb::Campo{"SALARIO", &Pessoa::salario}};
};

constexpr std::string_view kPessoas =
    "CREATE TABLE P (ID INTEGER, SALARIO DOUBLE PRECISION, NASCIMENTO DATE, IDADE INTEGER, "
    "APELIDO VARCHAR(10), NOME VARCHAR(20), FOTO BLOB SUB_TYPE 0);"
    "INSERT INTO P VALUES (1, 1500.5, '12/25/1990', 33, 'Zé', 'JOSÉ', 'abc');"
    "INSERT INTO P VALUES (2, NULL, NULL, NULL, NULL, 'ANA', NULL)";

}  // namespace

// A row into a struct by the names of its columns, whatever their order in the select list; the
// row's NULLs as the members' types read them.
TEST(Firebird, LinhaInteiraNumaEstruturaPeloNomeDasColunas) {
    BancoTeste banco(kPessoas);
    Aberto a(banco);
    fb::Transacao t(a.conexao, fb::ModoTransacao::Leitura);
    fb::Comando cmd(t, std::string_view("select * from P order by id"), "ler as pessoas");
    auto c = cmd.Abrir();
    ASSERT_TRUE(c.Proximo());
    const Pessoa jose = c.Linha<Pessoa>();
    EXPECT_EQ(jose.nome, u"JOSÉ");
    EXPECT_EQ(jose.apelido, u"Zé");
    EXPECT_EQ(jose.idade, 33);
    ASSERT_TRUE(jose.nascimento.has_value());
    EXPECT_EQ(jose.nascimento->valor, CodificaData(1990, 12, 25));
    EXPECT_EQ(jose.salario, 1500.5);
    ASSERT_TRUE(c.Proximo());
    const Pessoa ana = c.Linha<Pessoa>();
    EXPECT_EQ(ana.nome, u"ANA");
    EXPECT_EQ(ana.apelido, std::nullopt);
    EXPECT_EQ(ana.idade, 0);
    EXPECT_FALSE(ana.nascimento.has_value());
    EXPECT_EQ(ana.salario, 0);
    EXPECT_FALSE(c.Proximo());
}

// A row that cannot fill the struct or the tuple fails naming what was being done, the column at
// fault and the statement, which goes with the error.
TEST(Firebird, LinhaQueNaoCabeFalhaNomeandoOComando) {
    BancoTeste banco(kPessoas);
    Aberto a(banco);
    fb::Transacao t(a.conexao, fb::ModoTransacao::Leitura);
    struct Caso {
        const char* sql;
        std::function<void(fb::Cursor&)> ler;
        std::string mensagem;
    };
    const std::vector<Caso> casos = {
        {"select nome, idade, salario from P", [](fb::Cursor& c) { c.Linha<Pessoa>(); },
         "Erro no banco de dados ao ler as pessoas: a coluna 'APELIDO' não existe no resultado"},
        {"select nome, idade from P",
         [](fb::Cursor& c) { c.Valores<std::u16string, int32_t, double>(); },
         "Erro no banco de dados ao ler as pessoas: o comando devolve 2 coluna(s), e a leitura "
         "da linha espera 3"},
        {"select nome, idade, salario, foto from P",
         [](fb::Cursor& c) { c.Valores<std::u16string, int32_t>(); },
         "Erro no banco de dados ao ler as pessoas: o comando devolve 4 coluna(s), e a leitura "
         "da linha espera 2"},
        {"select foto from P where id = 1", [](fb::Cursor& c) { c.Valores<double>(); },
         "Erro ao ler as pessoas: a coluna 'FOTO' não pode ser lida como número."},
    };
    for (const auto& [sql, ler, mensagem] : casos) {
        fb::Comando cmd(t, std::string_view(sql), "ler as pessoas");
        auto c = cmd.Abrir();
        ASSERT_TRUE(c.Proximo());
        try {
            ler(c);
            ADD_FAILURE() << sql;
        } catch (const ErroBanco& e) {
            EXPECT_EQ(e.what(), mensagem) << sql;
            if (mensagem.starts_with("Erro no banco")) {
                EXPECT_EQ(e.Sql(), sql);
            }
        }
    }
}

// Every call of the client goes through one status that throws: the message is what was being
// done and the Portuguese explanation; the engine's text, its codes and where the statement's
// fault lies go beside it.
TEST(Firebird, FalhaDoClienteLancadaComAMensagemEmPortugues) {
    BancoTeste banco("CREATE TABLE T (N INTEGER, S VARCHAR(2))");
    Aberto a(banco);
    fb::Transacao t(a.conexao, fb::ModoTransacao::Escrita);
    struct Caso {
        const char* sql;
        std::vector<fb::Parametro> parametros;
        std::string mensagem;
        std::optional<long> coluna;  // of the fault, on line 1
    };
    const std::vector<Caso> casos = {
        {"select n from T where",
         {},
         "Erro no banco de dados ao gravar: o comando SQL tem um erro de sintaxe: ele termina "
         "antes do esperado",
         17},  // the word after which it ended
        {"select n frm T",
         {},
         "Erro no banco de dados ao gravar: o comando SQL tem um erro de sintaxe perto de 'T'",
         14},
        {"insert into T (S) values (?)",
         {std::u16string(u"longo")},
         "Erro no banco de dados ao gravar: um texto não cabe no tamanho da coluna ou da "
         "expressão",
         std::nullopt},
        {"insert into T (N) values (?)",
         {std::u16string(u"x1")},
         "Erro no banco de dados ao gravar: o valor 'x1' não pôde ser convertido para o tipo com "
         "que o comando o compara ou grava (um texto comparado com um número?)",
         std::nullopt},
    };
    for (const auto& [sql, parametros, mensagem, coluna] : casos) {
        try {
            fb::Comando(t, std::string_view(sql), "gravar").Executar(parametros);
            ADD_FAILURE() << sql;
        } catch (const ErroBanco& e) {
            EXPECT_EQ(e.what(), mensagem) << sql;
            EXPECT_EQ(e.Sql(), sql);
            EXPECT_FALSE(e.TextoDoFirebird().empty()) << sql;
            EXPECT_EQ(e.PosicaoNoSql().has_value(), coluna.has_value()) << sql;
            if (e.PosicaoNoSql() && coluna) {
                EXPECT_EQ(e.PosicaoNoSql()->linha, 1) << sql;
                EXPECT_EQ(e.PosicaoNoSql()->coluna, *coluna) << sql;
            }
        }
    }
    // A connection's failure says which database; no statement goes with it.
    PastaTemporaria pasta;
    const std::u16string local = DeUtf8((pasta.Caminho() / "nao-existe.fdb").string());
    fb::Conexao c;
    try {
        c.Abrir(local, "SYSDBA", "masterkey");
        ADD_FAILURE();
    } catch (const ErroBanco& e) {
        EXPECT_EQ(e.what(), "Não foi possível conectar ao banco de dados '" + ParaUtf8(local) +
                                "': o arquivo do banco de dados não existe; confira o caminho "
                                "informado (a pasta e o nome do arquivo)");
        EXPECT_EQ(e.Sql(), "");
        EXPECT_FALSE(e.TextoDoFirebird().empty());
    }
    EXPECT_FALSE(c.Aberta());
}
