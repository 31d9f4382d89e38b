// A servant's situation in a month, against a real database with dismissals and leaves.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

#include "dao/BancoFolha.h"
#include "dao/SituacaoServidor.h"
#include "dao/firebird/Firebird.h"
#include "demonstracao/EsquemaFolha.h"
#include "entry/Conexao.h"
#include "entry/ProcessoKavlo.h"
#include "tests/apoio/BancoTeste.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;

namespace {

// Month 2/2024: first day 01/02/2024, last day 29/02/2024.
const std::string kEventos = R"(
INSERT INTO AFASTFOLHA VALUES (22, 'DESLIGAMENTO');
INSERT INTO AFASTFOLHA VALUES (5, 'LICENÇA MÉDICA');
INSERT INTO AFASTFOLHA VALUES (7, 'FÉRIAS');
INSERT INTO AFASTFOLHA VALUES (9, 'LICENÇA PRÊMIO');
-- dismissed in the month itself
INSERT INTO SFP017 VALUES ('000002-2', 22, '1', 2, 2024, '10-FEB-2024', NULL, NULL);
-- dismissed in an earlier month
INSERT INTO SFP017 VALUES ('000003-3', 22, '1', 11, 2023, '15-NOV-2023', NULL, NULL);
-- a dismissal starting on the last day of the month, registered for the next month
INSERT INTO SFP017 VALUES ('000004-4', 22, '1', 3, 2024, '29-FEB-2024', NULL, NULL);
-- overlapping leaves: the latest start wins, one ended before the month, one starts after it
INSERT INTO SFP017 VALUES ('000005-5', 5, '1', 1, 2024, '01-JAN-2024', '10-FEB-2024', NULL);
INSERT INTO SFP017 VALUES ('000005-5', 7, '1', 2, 2024, '15-FEB-2024', '10-MAR-2024', NULL);
INSERT INTO SFP017 VALUES ('000005-5', 9, '1', 1, 2024, '01-DEC-2023', '31-JAN-2024', NULL);
INSERT INTO SFP017 VALUES ('000005-5', 9, '1', 3, 2024, '01-MAR-2024', '31-MAR-2024', NULL);
-- a leave without an end date is not found
INSERT INTO SFP017 VALUES ('000006-6', 5, '1', 2, 2024, '05-FEB-2024', NULL, NULL);
-- dismissed in the month and on a leave in it
INSERT INTO SFP017 VALUES ('000007-7', 22, '1', 2, 2024, '20-FEB-2024', NULL, NULL);
INSERT INTO SFP017 VALUES ('000007-7', 5, '1', 2, 2024, '01-FEB-2024', '05-FEB-2024', NULL);
-- a quote in the registration is just data
INSERT INTO SFP017 VALUES ('00''008-8', 22, '1', 2, 2024, '01-FEB-2024', NULL, NULL);
)";

class Situacoes : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { banco_ = new BancoTeste(demo::EsquemaFixo() + kEventos); }
    static void TearDownTestSuite() {
        delete banco_;
        banco_ = nullptr;
    }
    void SetUp() override {
        processo_.CaminhoBanco = banco_->Caminho();
        ASSERT_TRUE(processo_.ConectarBanco());
    }
    void TearDown() override { dmConexao().fdConexao.Fechar(); }

    static BancoTeste* banco_;
    TProcessoKAVLO processo_;
};
BancoTeste* Situacoes::banco_ = nullptr;

}  // namespace

TEST_F(Situacoes, CodigoEDescricao) {
    struct Caso {
        std::u16string matricula, folhas, codigo, descricao;
    };
    const std::vector<Caso> casos = {
        {u"000001-1", u"MENSAL", u"", u"ATIVO"},  // nothing registered
        {u"000002-2", u"MENSAL", u"022", u"Demissão"},
        {u"000002-2", u"MENSAL,ABONO", u"", u"ATIVO"},      // with ABONO only leaves decide
        {u"000002-2", u"abono", u"022", u"Demissão"},       // "ABONO" is case-sensitive
        {u"000003-3", u"MENSAL", u"022", u"DESLIGAMENTO"},  // earlier dismissal: its leave type
        {u"000003-3", u"ABONO", u"", u"ATIVO"},
        {u"000004-4", u"MENSAL", u"", u"ATIVO"},  // starting on the last day is not "before"
        {u"000005-5", u"MENSAL", u"07", u"FÉRIAS"},
        {u"000006-6", u"MENSAL", u"", u"ATIVO"},
        {u"000007-7", u"MENSAL", u"022", u"Demissão"},
        {u"000007-7", u"ABONO", u"05", u"LICENÇA MÉDICA"},
        {u"00'008-8", u"MENSAL", u"022", u"Demissão"},
    };
    fb::Transacao t(processo_.Conexao(), fb::ModoTransacao::Leitura);
    std::map<std::u16string, std::unique_ptr<ConsultaSituacao>> porFolhas;
    for (const auto& c : casos) {
        auto& consulta = porFolhas[c.folhas];
        if (!consulta) consulta = std::make_unique<ConsultaSituacao>(t, u"2", u"2024", c.folhas);
        const Situacao s = consulta->Consultar(c.matricula);
        EXPECT_EQ(s.codigo, c.codigo) << ParaUtf8(c.matricula) << " " << ParaUtf8(c.folhas);
        EXPECT_EQ(s.descricao, c.descricao) << ParaUtf8(c.matricula) << " " << ParaUtf8(c.folhas);
        // The one-form lookup gives the same answers.
        EXPECT_EQ(SituacaoServidor(processo_.Conexao(), u"2", u"2024", c.folhas, c.matricula, 1),
                  c.codigo);
        EXPECT_EQ(SituacaoServidor(processo_.Conexao(), u"2", u"2024", c.folhas, c.matricula, 0),
                  c.descricao);
    }
}

TEST_F(Situacoes, PossuiDemissao) {
    EXPECT_TRUE(PossuiDemissao(processo_.Conexao(), u"2", u"2024", u"000002-2", 0));
    EXPECT_TRUE(PossuiDemissao(processo_.Conexao(), u"02", u"2024", u"000002-2",
                               0));  // the column's type decides
    EXPECT_FALSE(PossuiDemissao(processo_.Conexao(), u"3", u"2024", u"000002-2", 0));
    EXPECT_FALSE(PossuiDemissao(processo_.Conexao(), u"2", u"2024", u"000003-3", 0));
    EXPECT_TRUE(PossuiDemissao(processo_.Conexao(), u"7", u"2023", u"000003-3",
                               1));  // any month of the year
    EXPECT_FALSE(PossuiDemissao(processo_.Conexao(), u"7", u"2024", u"000003-3", 1));
    EXPECT_FALSE(PossuiDemissao(processo_.Conexao(), u"2", u"2024", u"000005-5",
                                0));  // a leave is no dismissal
    EXPECT_TRUE(PossuiDemissao(processo_.Conexao(), u"2", u"2024", u"00'008-8", 0));
    // Longer than the column: simply not found.
    EXPECT_FALSE(PossuiDemissao(processo_.Conexao(), u"2", u"2024", u"0000000000002-2", 0));
}

TEST(Situacao, ModoDesconhecidoNaoConsultaOBanco) {
    // No open connection, so any query would fail.
    fb::Conexao fechada;
    EXPECT_FALSE(PossuiDemissao(fechada, u"2", u"2024", u"000002-2", 2));
    EXPECT_FALSE(PossuiDemissao(fechada, u"2", u"2024", u"000002-2", -1));
}

TEST_F(Situacoes, MesInvalidoFalhaAntesDeConsultar) {
    EXPECT_EQ(MensagemDeErro([&] {
                  SituacaoServidor(processo_.Conexao(), u"13", u"2024", u"", u"000002-2", 1);
              }),
              "'01/13/2024' is not a valid date");
}

TEST(Situacao, FormasSeguemCadaUmaSuaConsulta) {
    // A dismissal type without a description: the code comes from the earlier dismissal, the
    // description falls through to the leave.
    BancoTeste banco(demo::EsquemaFixo() + R"(
        INSERT INTO AFASTFOLHA VALUES (22, NULL);
        INSERT INTO AFASTFOLHA VALUES (5, 'LICENÇA');
        INSERT INTO SFP017 VALUES ('000003-3', 22, '1', 11, 2023, '15-NOV-2023', NULL, NULL);
        INSERT INTO SFP017 VALUES ('000003-3', 5, '1', 2, 2024, '01-FEB-2024', '20-FEB-2024', NULL);
    )");
    fb::Conexao c;
    AbrirBancoDaFolha(c, banco.Caminho());
    fb::Transacao t(c, fb::ModoTransacao::Leitura);
    ConsultaSituacao consulta(t, u"2", u"2024", u"");
    const Situacao s = consulta.Consultar(u"000003-3");
    EXPECT_EQ(s.codigo, u"022");
    EXPECT_EQ(s.descricao, u"LICENÇA");
}
