// Postings are written in batches: many rows, several shapes, and a row that cannot be found.
#include <gtest/gtest.h>

#include "dao/BancoFolha.h"
#include "dao/firebird/Firebird.h"
#include "demonstracao/EsquemaFolha.h"
#include "import/Diario.h"
#include "import/Lancamento.h"
#include "import/TabelaDeducao.h"
#include "tests/apoio/BancoTeste.h"
#include "util/Codificacao.h"
#include "util/Erros.h"

using namespace kavlo;
using namespace kavlo::teste;

namespace {

std::string Matricula(int i) {
    char m[16];
    std::snprintf(m, sizeof m, "%06d-%d", i, i % 10);
    return m;
}

// A month of `n` active servants with margin 10,00, and the keys of all of them.
std::string MesComServidores(int n) {
    std::string script = demo::EsquemaDoMes("FEV");
    for (int i = 1; i <= n; ++i)
        script += "INSERT INTO SFPDXX02FEV (MATRICULA, ATIVO, MCVALOR) VALUES ('" + Matricula(i) +
                  "', 'T', 1000);";
    return script;
}

ConjuntoDeChaves ChavesAte(int n) {
    ConjuntoDeChaves chaves;
    for (int i = 1; i <= n; ++i) chaves.Incluir(DeUtf8(Matricula(i)));
    chaves.Fechar();
    return chaves;
}

// The journal, and an import row its postings can belong to.
constexpr int32_t kImportacao = 1;
void PrepararImportacao(fb::Conexao& conexao, std::u16string tabela) {
    PrepararDiario(conexao);
    fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
    ImportacaoRegistrada i;
    i.id = kImportacao;
    i.hash = std::u16string(64, u'0');
    i.mes = 2;
    i.ano = 2024;
    i.tabela = std::move(tabela);
    RegistrarImportacao(t, i);
    t.Commit();
}

}  // namespace

TEST(GravadorLancamentos, GravaCadaLinhaUmaVezEmLotesDeVariasFormas) {
    const int kLinhas = 75;  // more than two batches of one shape, with remainders
    BancoTeste banco(MesComServidores(kLinhas));

    fb::Conexao conexao;
    AbrirBancoDaFolha(conexao, banco.Caminho());
    PrepararImportacao(conexao, u"SFPDXX02FEV");
    {
        fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
        const ConjuntoDeChaves chaves = ChavesAte(kLinhas);
        TabelaDeducao tabela(t, u"SFPDXX02FEV", chaves);
        GravadorLancamentos g(t, u"SFPDXX02FEV", kImportacao, chaves);
        size_t linhaRetorno = 1;
        for (int i = 1; i <= kLinhas; ++i) {
            LinhaDeducao& l = tabela.Linha(*chaves.Indice(DeUtf8(Matricula(i))));
            // Every row takes slot 1; every third also slot 2, every fifth slots 2 and 3.
            const int postagens = i % 5 == 0 ? 3 : i % 3 == 0 ? 2 : 1;
            for (int k = 0; k < postagens; ++k) {
                const int slot = PrimeiroSlotLivre(l);
                g.Lancar(l, slot,
                         {u"3" + DeUtf8(std::to_string(slot)), 1000 * slot, 10 + k, 1 + k,
                          l.margem - 1000 * slot, ++linhaRetorno});
            }
        }
        g.Gravar();
        t.Commit();
    }
    for (int i : {1, 3, 5, 15, 33, 64, 75}) {
        const auto r = banco.Linhas(
            "select cod1, valor1, cod2, valor2, quant2, perc2, tempo2, cod3, mcvalor, recalcular"
            " from SFPDXX02FEV where matricula = '" +
            Matricula(i) + "'");
        ASSERT_EQ(r.size(), 1u);
        const int postagens = i % 5 == 0 ? 3 : i % 3 == 0 ? 2 : 1;
        EXPECT_EQ(r[0][0], u"31") << i;
        EXPECT_EQ(r[0][1], u"10") << i;
        EXPECT_EQ(r[0][2], postagens >= 2 ? u"32" : u"<null>") << i;
        EXPECT_EQ(r[0][3], postagens >= 2 ? u"20" : u"<null>") << i;
        EXPECT_EQ(r[0][4], postagens >= 2 ? u"11" : u"<null>") << i;
        EXPECT_EQ(r[0][5], postagens >= 2 ? u"2" : u"<null>") << i;
        EXPECT_EQ(r[0][6], postagens >= 2 ? u"10" : u"<null>") << i;
        EXPECT_EQ(r[0][7], postagens == 3 ? u"33" : u"<null>") << i;
        EXPECT_EQ(r[0][8], postagens == 3 ? u"940" : postagens == 2 ? u"970" : u"990") << i;
        EXPECT_EQ(r[0][9], u"S") << i;
    }
}

TEST(GravadorLancamentos, LinhaQueNaoMudaExatamenteUmaVezEErro) {
    BancoTeste banco(
        demo::EsquemaDoMes("FEV") +
        "INSERT INTO SFPDXX02FEV (MATRICULA, ATIVO, MCVALOR) VALUES ('000001-1', 'T', 100)");
    fb::Conexao conexao;
    AbrirBancoDaFolha(conexao, banco.Caminho());
    PrepararImportacao(conexao, u"SFPDXX02FEV");
    fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
    ConjuntoDeChaves chaves;
    chaves.Incluir(u"000001-1");
    chaves.Fechar();
    LinhaDeducao l;
    l.chaveBanco.fill('\x7F');  // a key no row has
    GravadorLancamentos g(t, u"SFPDXX02FEV", kImportacao, chaves);
    g.Lancar(l, 1, {u"35", 5000, 10, 1, 5000, 7});
    try {
        g.Gravar();
        FAIL();
    } catch (const ErroBanco& e) {
        const std::string m = e.what();
        EXPECT_NE(m.find("000001-1"), std::string::npos) << m;
        EXPECT_NE(m.find("linha 7 do arquivo de retorno"), std::string::npos) << m;
    }
}

// Rows complete one by one, in shapes that interleave, more shapes than prepared statements are
// kept and a cap on the rows waiting that forces the longest queue out early: every row is still
// written once, with all of its postings.
TEST(GravadorLancamentos, FormasIntercaladasComFilaLimitada) {
    constexpr int kFormas = static_cast<int>(GravadorLancamentos::kBlocosPreparados) + 3;
    constexpr int kLinhas = kFormas * 45;
    BancoTeste banco(MesComServidores(kLinhas));
    fb::Conexao conexao;
    AbrirBancoDaFolha(conexao, banco.Caminho());
    PrepararImportacao(conexao, u"SFPDXX02FEV");
    int lancamentos = 0;
    {
        fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
        const ConjuntoDeChaves chaves = ChavesAte(kLinhas);
        TabelaDeducao tabela(t, u"SFPDXX02FEV", chaves);
        GravadorLancamentos g(t, u"SFPDXX02FEV", kImportacao, chaves, 50);
        for (int i = 1; i <= kLinhas; ++i) {
            LinhaDeducao& l = tabela.Linha(*chaves.Indice(DeUtf8(Matricula(i))));
            // Row i takes slots 1 to (i % kFormas) + 1, each 1 real.
            for (int slot = 1; slot <= i % kFormas + 1; ++slot, ++lancamentos)
                g.Lancar(l, slot,
                         {u"7" + DeUtf8(std::to_string(slot % 10)), 100, 1, 1, l.margem - 100,
                          static_cast<size_t>(i + 1)});
            g.Concluida(l);
        }
        g.Gravar();
        t.Commit();
    }
    EXPECT_EQ(banco.Valor("select count(*) from KAVLO_LANCAMENTO"),
              DeUtf8(std::to_string(lancamentos)));
    const auto r = banco.Linhas("select matricula, mcvalor, cod1, cod2, cod" +
                                std::to_string(kFormas) + ", cod" + std::to_string(kFormas + 1) +
                                " from SFPDXX02FEV order by matricula");
    ASSERT_EQ(r.size(), static_cast<size_t>(kLinhas));
    for (int i = 1; i <= kLinhas; ++i) {
        const auto& linha = r[static_cast<size_t>(i - 1)];
        const int n = i % kFormas + 1;
        EXPECT_EQ(linha[1], DeUtf8(std::to_string(1000 - n))) << i;
        EXPECT_EQ(linha[2], u"71") << i;
        EXPECT_EQ(linha[3], n >= 2 ? u"72" : u"<null>") << i;
        EXPECT_EQ(linha[4], n >= kFormas ? u"7" + DeUtf8(std::to_string(kFormas % 10)) : u"<null>")
            << i;
        EXPECT_EQ(linha[5], u"<null>") << i;
    }
}
