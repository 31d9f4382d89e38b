// The month's events read once and answered from memory must give, servant by servant, the
// answers of the per-servant lookups, on data chosen to trip a careless copy: padded CHAR keys,
// several leaves, dismissals registered for other months, times of day, codes without a type.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dao/BancoFolha.h"
#include "dao/EventosMes.h"
#include "dao/SituacaoServidor.h"
#include "dao/firebird/Firebird.h"
#include "tests/apoio/BancoTeste.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;

namespace {

// SFP017 keyed by a padded CHAR column and MESREF/ANOREF as text, unlike the demo schema.
const char* const kEventosDificeis = R"(
CREATE TABLE AFASTFOLHA (CODIGO INTEGER, DESCRICAO VARCHAR(40));
CREATE TABLE SFP017 (MATRICULA CHAR(10), CODFOL INTEGER, TIPO CHAR(1), MESREF VARCHAR(2),
                     ANOREF VARCHAR(4), DTINICIO DATE, DTFIM DATE, DTAVISO DATE);
INSERT INTO AFASTFOLHA VALUES (22, 'DEMISSÃO');
INSERT INTO AFASTFOLHA VALUES (5, 'LICENÇA MÉDICA');
INSERT INTO AFASTFOLHA VALUES (7, 'FÉRIAS');
INSERT INTO AFASTFOLHA VALUES (0, '0');
INSERT INTO SFP017 VALUES ('000001-1', 22, '1', '2', '2024', '02/10/2024', NULL, NULL);
INSERT INTO SFP017 VALUES ('000002-2', 22, '1', '11', '2023', '11/15/2023', NULL, NULL);
INSERT INTO SFP017 VALUES ('000002-2', 5, '1', '2', '2024', '02/01/2024', '02/20/2024', NULL);
INSERT INTO SFP017 VALUES ('000003-3', 22, '1', '3', '2024', '02/29/2024', NULL, NULL);
INSERT INTO SFP017 VALUES ('000003-3', 22, '1', '3', '2024', '02/29/2024 10:00', NULL, NULL);
INSERT INTO SFP017 VALUES ('000004-4', 5, '1', '1', '2024', '01/01/2024', '02/10/2024', NULL);
INSERT INTO SFP017 VALUES ('000004-4', 7, '1', '2', '2024', '02/15/2024', '03/10/2024', NULL);
INSERT INTO SFP017 VALUES ('000004-4', 5, '1', '1', '2023', '12/01/2023', '01/31/2024', NULL);
INSERT INTO SFP017 VALUES ('000005-5', 5, '1', '2', '2024', '02/05/2024', NULL, NULL);
INSERT INTO SFP017 VALUES ('000006-6', 99, '1', '2', '2024', '02/05/2024', '02/06/2024', NULL);
INSERT INTO SFP017 VALUES ('000007-7', 0, '1', '2', '2024', '02/05/2024', '02/06/2024', NULL);
INSERT INTO SFP017 VALUES ('000008-8', 7, '1', '2', '2024', '02/29/2024 08:00', '03/05/2024', NULL);
INSERT INTO SFP017 VALUES ('000009-9', 7, '1', '1', '2024', '01/20/2024', '02/01/2024', NULL);
INSERT INTO SFP017 VALUES ('000010-0', 22, '1', '2', '2023', '02/10/2023', NULL, NULL);
INSERT INTO SFP017 VALUES ('000011-1', 7, '1', '2', '2024', '01/31/2024 23:00', '01/31/2024 23:30', NULL);
)";

}  // namespace

TEST(EventosMes, RespondeComoAsConsultasPorServidor) {
    BancoTeste banco(kEventosDificeis);
    fb::Conexao conexao;
    AbrirBancoDaFolha(conexao, banco.Caminho());
    fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
    std::vector<std::u16string> matriculas = {u"nenhum-0", u"000012-2", u"000001-1 "};
    for (int i = 1; i <= 11; ++i) {
        char m[16];
        std::snprintf(m, sizeof m, "%06d-%d", i, i % 10);
        matriculas.push_back(DeUtf8(m));
    }
    int diferentesDeAtivo = 0;
    for (const auto& [mes, ano] : std::vector<std::pair<std::u16string, std::u16string>>{
             {u"2", u"2024"}, {u"02", u"2024"}, {u"1", u"2024"}, {u"2", u"2023"}}) {
        for (const std::u16string folhas : {u"", u"MENSAL", u"MENSAL,ABONO"}) {
            ConsultaSituacao porServidor(t, mes, ano, folhas);
            EventosMes emMemoria(t, mes, ano, folhas);
            for (const auto& m : matriculas) {
                const Situacao esperada = porServidor.Consultar(m);
                const Situacao obtida = emMemoria.Consultar(m);
                EXPECT_EQ(obtida.codigo, esperada.codigo)
                    << ParaUtf8(m) << " " << ParaUtf8(mes) << "/" << ParaUtf8(ano) << " "
                    << ParaUtf8(folhas);
                EXPECT_EQ(obtida.descricao, esperada.descricao)
                    << ParaUtf8(m) << " " << ParaUtf8(mes) << "/" << ParaUtf8(ano) << " "
                    << ParaUtf8(folhas);
                diferentesDeAtivo += esperada.descricao != u"ATIVO";
            }
        }
    }
    // The data does reach the interesting branches.
    EXPECT_GT(diferentesDeAtivo, 40);
}
