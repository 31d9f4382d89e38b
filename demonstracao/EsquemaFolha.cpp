#include "demonstracao/EsquemaFolha.h"

namespace kavlo::demo {

std::string EsquemaFixo() {
    return "CREATE TABLE SFP003 (DESCRICAO VARCHAR(100));\n"
           "CREATE TABLE SFPD9911 (NUMBANCO INTEGER NOT NULL PRIMARY KEY, NOMEBANCO VARCHAR(40));\n"
           "CREATE TABLE AFASTFOLHA (CODIGO INTEGER NOT NULL PRIMARY KEY, DESCRICAO VARCHAR(40));\n"
           // No index: payroll databases often have none here.
           "CREATE TABLE SFP017 (MATRICULA VARCHAR(8), CODFOL INTEGER, TIPO CHAR(1), MESREF "
           "SMALLINT,"
           " ANOREF SMALLINT, DTINICIO DATE, DTFIM DATE, DTAVISO DATE);\n";
}

std::string EsquemaDoMes(std::string_view abreviacao) {
    const std::string m(abreviacao);
    std::string slots;
    for (int n = 1; n <= 17; ++n) {
        const std::string s = std::to_string(n);
        slots += ", COD" + s + " VARCHAR(4), VALOR" + s + " DOUBLE PRECISION, QUANT" + s +
                 " INTEGER, PERC" + s + " INTEGER, TEMPO" + s + " INTEGER";
    }
    return "CREATE TABLE SFP001" + m +
           " (MATRICULA VARCHAR(8) NOT NULL PRIMARY KEY, NOME VARCHAR(60), CPF VARCHAR(14),"
           " IDENTIDADE VARCHAR(20), TITELEITOR VARCHAR(14), ZONA VARCHAR(4), SECAO VARCHAR(5),"
           " ESTCIVIL VARCHAR(2), SEXO VARCHAR(2), DTNASC DATE, NOMEPAI VARCHAR(60), NOMEMAE "
           "VARCHAR(60),"
           " NUMDEPIR SMALLINT, EMAIL VARCHAR(80), FONE VARCHAR(20), FONE2 VARCHAR(20), FONECEL "
           "VARCHAR(20),"
           " ENDERECO VARCHAR(200), BAIRRO VARCHAR(40), CEP VARCHAR(9), CIDADE VARCHAR(40), UF "
           "CHAR(2),"
           " BANCO INTEGER, AGENCIA VARCHAR(6), DVAGENCIA VARCHAR(2), CONTA VARCHAR(20), DVCONTA "
           "VARCHAR(2),"
           " GRINSTR VARCHAR(2), SISTEMA INTEGER, FUNCAO INTEGER, DTADMISSAO DATE, CDSECRETA "
           "VARCHAR(2),"
           " CDSETOR VARCHAR(3));\n"
           // No key: a servant may have more than one row, and only active ones count.
           "CREATE TABLE SFPDXX02" +
           m +
           " (MATRICULA VARCHAR(8) NOT NULL, ATIVO CHAR(1), MCVALOR DOUBLE PRECISION,"
           " MCBASEINCIDE DOUBLE PRECISION, REMUNTOT DOUBLE PRECISION, LIQUIDO DOUBLE PRECISION,"
           " TOTDESC DOUBLE PRECISION, SALARIO DOUBLE PRECISION, VALEXTRAS DOUBLE PRECISION,"
           " VALEXTRA1 DOUBLE PRECISION, VALADNOT DOUBLE PRECISION, IRRF DOUBLE PRECISION,"
           " INSS DOUBLE PRECISION, VALFALTAS DOUBLE PRECISION, VALCS DOUBLE PRECISION" +
           slots +
           ", RECALCULAR CHAR(1));\n"
           "CREATE TABLE SFP005" +
           m +
           " (CODIGO INTEGER NOT NULL PRIMARY KEY, CARGO VARCHAR(60));\n"
           "CREATE TABLE SFP006" +
           m +
           " (CDSECRETA VARCHAR(2) NOT NULL, CDSETOR VARCHAR(3) NOT NULL, CODORGAO VARCHAR(10),"
           " DESCRICAO VARCHAR(60));\n"
           "CREATE TABLE CFG_VINC" +
           m + " (ID_VINCULO INTEGER NOT NULL PRIMARY KEY, CONFIG_KAVLO INTEGER);\n";
}

}  // namespace kavlo::demo
