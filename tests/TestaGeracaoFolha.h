// A small payroll for January 2024 (previous month December 2023) that the generation tests
// share. Each servant is there for a reason:
//   1234-5  JOSÉ DA CONCEIÇÃO: hyphenated registration, accents, moved from unit 02001 in
//           December to 01002 in January (a transfer), retired (link 3), an end-of-function date
//           in sfp017, amounts with a half cent (VALADNOT 0.125), VALEXTRA1 null.
//   2001    a 45-character name, null birth date and admission date, negative MCVALOR, schooling
//           "A", a link type without code, ";" and a line break inside texts, same unit in both
//           months (no transfer).
//   3003    absent from December (no transfer), MCVALOR 0, code 0 in every table, CPF "00123",
//           an empty branch check digit and a two-character account check digit, public employee.
//   4004    inactive in January: in no file.
//   5005    active but left out by the filter.
#pragma once

#include <string>

#include "demonstracao/EsquemaFolha.h"

namespace kavlo::teste {

inline const char* const kFiltroFolha = "select matricula from SFP001JAN where matricula <> '5005'";

// 45 characters: the margin and transfers files keep the first 40.
inline const char16_t* const kNome45 = u"MARIA APARECIDA DOS SANTOS OLIVEIRA FERNANDES";

inline std::string ScriptFolha() {
    return demo::EsquemaFixo() + demo::EsquemaDoMes("JAN") + demo::EsquemaDoMes("DEZ") + R"(
insert into SFP003 values ('PREFEITURA MUNICIPAL DE SÃO JOÃO DO PARAÍSO - SECRETARIA DE ADMINISTRAÇÃO');
insert into SFPD9911 values (1, 'BANCO DO BRASIL');
insert into SFPD9911 values (104, 'CAIXA ECONÔMICA FEDERAL');
insert into SFP017 (MATRICULA, CODFOL, TIPO, MESREF, ANOREF, DTINICIO) values ('1234-5', 1, '2', 1, 2024, '2024-01-15');
insert into SFP017 (MATRICULA, CODFOL, TIPO, MESREF, ANOREF, DTINICIO) values ('1234-5', 1, '2', 2, 2024, '2024-02-20');
insert into SFP017 (MATRICULA, CODFOL, TIPO, MESREF, ANOREF, DTINICIO) values ('2001', 1, '1', 1, 2024, '2024-01-10');
insert into SFP005JAN values (10, 'PROFESSOR');
insert into SFP005JAN values (20, 'AUXILIAR ADMINISTRATIVO');
insert into SFP006JAN values ('01', '002', '01002', 'SECRETARIA DE EDUCAÇÃO');
insert into SFP006JAN values ('02', '001', '02001', 'SECRETARIA DE SAÚDE');
insert into CFG_VINCJAN values (3, 3);
insert into CFG_VINCJAN values (7, 7);
insert into CFG_VINCJAN values (8, null);
insert into SFP001JAN (MATRICULA, NOME, CPF, IDENTIDADE, TITELEITOR, ZONA, SECAO, ESTCIVIL, SEXO, DTNASC, NOMEPAI, NOMEMAE, NUMDEPIR, EMAIL, FONE, FONE2, FONECEL, ENDERECO, BAIRRO, CEP, CIDADE, UF, BANCO, AGENCIA, DVAGENCIA, CONTA, DVCONTA, GRINSTR, SISTEMA, FUNCAO, DTADMISSAO, CDSECRETA, CDSETOR)
  values ('1234-5', 'JOSÉ DA CONCEIÇÃO', '12345678909', 'MG-12.345.678', '123456789012', '101', '0202', '2', '1', '1980-03-01', 'JOÃO DA CONCEIÇÃO', 'ANA MARIA', 3, 'jose@exemplo.com.br', '(31) 3333-1111', '(31) 3333-2222', '(31) 99999-0000', 'RUA DAS FLORES, 12', 'CENTRO', '30110-000', 'BELO HORIZONTE', 'MG', 1, '1234', '5', '12345678', 'X', '5', 3, 10, '2010-01-02', '01', '002');
insert into SFP001JAN (MATRICULA, NOME, CPF, IDENTIDADE, TITELEITOR, ZONA, SECAO, ESTCIVIL, SEXO, DTNASC, NOMEPAI, NOMEMAE, NUMDEPIR, EMAIL, FONE, FONE2, FONECEL, ENDERECO, BAIRRO, CEP, CIDADE, UF, BANCO, AGENCIA, DVAGENCIA, CONTA, DVCONTA, GRINSTR, SISTEMA, FUNCAO, DTADMISSAO, CDSECRETA, CDSETOR)
  values ('2001', 'MARIA APARECIDA DOS SANTOS OLIVEIRA FERNANDES', '98765432100', null, null, null, null, '6', '2', null, 'PEDRO' || ascii_char(13) || ascii_char(10) || 'FERREIRA', null, 0, null, null, null, null, 'RUA A; CASA 2', null, null, null, null, 104, '321', '0', '9876', '1', 'A', 8, 20, null, '02', '001');
insert into SFP001JAN (MATRICULA, NOME, CPF, IDENTIDADE, TITELEITOR, ZONA, SECAO, ESTCIVIL, SEXO, DTNASC, NOMEPAI, NOMEMAE, NUMDEPIR, EMAIL, FONE, FONE2, FONECEL, ENDERECO, BAIRRO, CEP, CIDADE, UF, BANCO, AGENCIA, DVAGENCIA, CONTA, DVCONTA, GRINSTR, SISTEMA, FUNCAO, DTADMISSAO, CDSECRETA, CDSETOR)
  values ('3003', 'ANA', '00123', null, null, null, null, '0', '0', '1990-12-31', null, null, null, null, null, null, null, null, null, null, null, null, 1, '1', null, '1', '10', '9', 7, 20, '2020-06-30', '02', '001');
insert into SFP001JAN (MATRICULA, NOME, CPF, ESTCIVIL, SEXO, GRINSTR, BANCO, SISTEMA, FUNCAO, CDSECRETA, CDSETOR) values ('4004', 'INATIVO', '11111111111', '1', '1', '1', 1, 3, 10, '01', '002');
insert into SFP001JAN (MATRICULA, NOME, CPF, ESTCIVIL, SEXO, GRINSTR, BANCO, SISTEMA, FUNCAO, CDSECRETA, CDSETOR) values ('5005', 'FORA DO FILTRO', '22222222222', '1', '1', '1', 1, 3, 10, '01', '002');
insert into SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR, MCBASEINCIDE, REMUNTOT, LIQUIDO, TOTDESC, SALARIO, VALEXTRAS, VALEXTRA1, VALADNOT, IRRF, INSS, VALFALTAS, VALCS)
  values ('1234-5', 'T', 50, 2000, 3500.5, 2800.25, 700.25, 3000, 10.5, null, 0.125, 100, 330, 0, 35);
insert into SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR, MCBASEINCIDE, REMUNTOT, SALARIO, VALEXTRAS, VALEXTRA1)
  values ('2001', 'T', -0.01, 1000, 1500, 1500, 1, 2);
insert into SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR, MCBASEINCIDE) values ('3003', 'T', 0, 1000);
insert into SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR, MCBASEINCIDE) values ('4004', 'F', 10, 1000);
insert into SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR, MCBASEINCIDE) values ('5005', 'T', 10, 1000);
insert into SFP001DEZ (MATRICULA, NOME, CPF, CDSECRETA, CDSETOR) values ('1234-5', 'JOSÉ DA CONCEIÇÃO', '12345678909', '02', '001');
insert into SFP001DEZ (MATRICULA, NOME, CPF, CDSECRETA, CDSETOR) values ('2001', 'MARIA', '98765432100', '02', '001');
insert into SFP001DEZ (MATRICULA, NOME, CPF, CDSECRETA, CDSETOR) values ('4004', 'INATIVO', '11111111111', '02', '001');
insert into SFP001DEZ (MATRICULA, NOME, CPF, CDSECRETA, CDSETOR) values ('5005', 'FORA DO FILTRO', '22222222222', '02', '001');
)";
}

}  // namespace kavlo::teste
