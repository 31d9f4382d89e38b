#include <gtest/gtest.h>

#include "demonstracao/EsquemaFolha.h"
#include "tests/apoio/BancoTeste.h"

using namespace kavlo;

TEST(Esquema, CriaAsTabelasDaFolhaDeDoisMeses) {
    teste::BancoTeste banco(demo::EsquemaFixo() + demo::EsquemaDoMes("JAN") +
                            demo::EsquemaDoMes("DEZ"));
    EXPECT_EQ(
        banco.Valor("select count(*) from rdb$relations where rdb$relation_name starting with 'SFP'"
                    " and rdb$system_flag = 0"),
        u"11");
    EXPECT_EQ(banco.Valor(
                  "select count(*) from rdb$relation_fields where rdb$relation_name = 'SFPDXX02JAN'"
                  " and rdb$field_name starting with 'COD'"),
              u"17");
}
