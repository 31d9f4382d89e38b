// The host filter's literals given the character set of what they are compared with: which
// literals qualify, which set each one takes on a real database, and that the filter still
// selects the same rows.
#include <gtest/gtest.h>

#include <set>

#include "dao/BancoFolha.h"
#include "dao/LiteraisDoFiltro.h"
#include "tests/apoio/BancoTeste.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;

namespace {

std::vector<std::string> Comparados(std::u16string_view sql) {
    const fb::Simbolos s = fb::SepararSimbolos(sql);
    std::vector<std::string> r;
    for (size_t k : LiteraisComparados(s.lista)) r.push_back(ParaUtf8(s.lista[k].conteudo));
    return r;
}

// A literal of each kind of column, and rows that tell a case-insensitive match, a trailing blank
// and each column apart.
constexpr const char* kTabela =
    "CREATE TABLE T (W VARCHAR(8), I VARCHAR(8) CHARACTER SET ISO8859_1, N VARCHAR(8) CHARACTER "
    "SET NONE, O VARCHAR(8) CHARACTER SET OCTETS, U VARCHAR(8) CHARACTER SET UTF8, P VARCHAR(8) "
    "COLLATE WIN_PTBR, K INTEGER);"
    "INSERT INTO T VALUES ('a', 'x', 'x', 'x', 'x', 'x', 0);"
    "INSERT INTO T VALUES ('a  ', 'x', 'x', 'x', 'x', 'x', 0);"
    "INSERT INTO T VALUES ('x', 'b', 'x', 'x', 'x', 'x', 0);"
    "INSERT INTO T VALUES ('x', 'x', 'd', 'x', 'x', 'x', 0);"
    "INSERT INTO T VALUES ('x', 'x', 'x', 'e', 'x', 'x', 0);"
    "INSERT INTO T VALUES ('x', 'x', 'x', 'x', 'f', 'x', 0);"
    "INSERT INTO T VALUES ('x', 'x', 'x', 'x', 'x', 'G', 0);"
    "INSERT INTO T VALUES ('h', 'x', 'x', 'x', 'x', 'x', 1);"
    "INSERT INTO T VALUES ('y', 'y', 'y', 'y', 'y', 'y', 2);";

}  // namespace

TEST(LiteraisDoFiltro, SoOsComparadosInteirosComOutroValor) {
    struct Caso {
        const char16_t* filtro;
        std::vector<std::string> comparados;
    };
    for (const auto& [filtro, comparados] : std::vector<Caso>{
             {u"select m from T where m not in ('1', '2') and n = '3'", {"1", "2", "3"}},
             {u"where m <> \"b\" or m>='c' or m ^= q'{it's}' or m !< 'd'", {"b", "c", "it's", "d"}},
             // A literal that is part of a larger value, or whose own set decides the result.
             {u"where m = 'a' || 'b' or m = 'c' collate WIN_PTBR or m = 'd' is not null", {}},
             {u"where m like 'a%' or m starting with 'b' or m containing 'c' or m similar to 'd'",
              {}},
             {u"where m between 'a' and 'b' or 'c' = m or m is distinct from 'd'", {}},
             {u"select 'a' as matricula from T where m in (select 'b' from rdb$database)", {}},
             {u"where upper(m) = 'A' and coalesce(m, 'x') in ('y', 'z')", {"A", "y", "z"}},
             {u"where m in (('a'), 'b' || 'c', 'd') and position('-' in ('e-f')) > 0", {"d"}},
             {u"where iif(m = 'a', 'b', 'c') = 'b' order by 1", {"a", "b"}},
             {u"where case when m = 'a' then 'b' else 'c' end = 'd'", {"a", "d"}},
             // An introducer of its own, bytes, or more than ASCII: left to what they are.
             {u"where m = _WIN1252 'a' or m = x'41' or m = 'É' or m in (_UTF8 'b')", {}},
             {u"where m = N'a' or m = _win1252 q'{b}' or m = _utf8\n/* c */ 'c'", {}},
             {u"where m = 'a' -- = 'b'\n and n = 'c' /* in ('d') */", {"a", "c"}},
         }) {
        SCOPED_TRACE(ParaUtf8(filtro));
        EXPECT_EQ(Comparados(filtro), comparados);
    }
}

// Each literal takes the set of the column it is compared with, where that set has its own
// order; the filter then selects exactly the rows it selected before.
TEST(LiteraisDoFiltro, CadaLiteralNoConjuntoDaColunaEAsMesmasLinhas) {
    BancoTeste banco(kTabela);
    fb::Conexao conexao;
    AbrirBancoDaFolha(conexao, banco.Caminho());
    fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
    auto linhas = [&](std::u16string_view filtro) {
        fb::Comando c(t, filtro, "ler");
        std::multiset<std::u16string> r;
        for (auto cur = c.Abrir(); cur.Proximo();)
            r.insert(cur.Texto(0u) + u"|" + cur.Texto(1u) + u"|" + cur.Texto(6u));
        return r;
    };
    const std::u16string filtro =
        u"select * from T where W = 'a' or I in ('b', 'z') or N = 'd' or O = 'e' or U = 'f' "
        u"or P = 'g' or K = '1' or 'h' = W";
    const std::u16string novo = LiteraisNoConjuntoComparado(t, filtro);
    EXPECT_EQ(novo,
              u"select * from T where W = _WIN1252 'a' or I in (_ISO8859_1 'b', _ISO8859_1 'z') "
              u"or N = 'd' or O = 'e' or U = _UTF8 'f' or P = _WIN1252 'g' or K = '1' or 'h' = W");
    EXPECT_EQ(linhas(novo), linhas(filtro));
    EXPECT_EQ(linhas(filtro).size(), 8u);  // every row but the last: 'a  ' and 'G' included

    // Nothing to learn from the server: the filter stays as written.
    for (const char16_t* intocado : {
             u"select nada from T where W = 'a'",        // does not prepare
             u"select W from T where W = ? or W = 'a'",  // parameters of its own
             u"select W from T where W = 'a",            // not closed
             u"select W from T where W like 'a%'",       // nothing compared whole
         })
        EXPECT_EQ(LiteraisNoConjuntoComparado(t, intocado), intocado);
}

// Where the database made another collation the default of a set, a literal of that set would
// compare under it: it is left in the connection's set.
TEST(LiteraisDoFiltro, ConjuntoComOutraOrdemPadraoFicaComoEstava) {
    BancoTeste banco(std::string(kTabela) +
                     "ALTER CHARACTER SET WIN1252 SET DEFAULT COLLATION WIN_PTBR;");
    fb::Conexao conexao;
    AbrirBancoDaFolha(conexao, banco.Caminho());
    fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
    const std::u16string filtro = u"select W from T where W in ('A', 'h') or I = 'b'";
    EXPECT_EQ(LiteraisNoConjuntoComparado(t, filtro),
              u"select W from T where W in ('A', 'h') or I = _ISO8859_1 'b'");
}
