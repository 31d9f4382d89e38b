// GerarArquivo as the host calls it: the three files from the small payroll, byte for byte, and
// the failures that must leave the previous set of files exactly as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "tests/BancoTeste.h"
#include "tests/TestaGeracaoFolha.h"
#include "util/Codificacao.h"
#include "util/Datas.h"
#include "util/Utils.h"

using namespace kavlo;
using namespace kavlo::teste;

namespace {

std::string Gerar(const BancoTeste& banco, const PastaTemporaria& saida, std::u16string filtro,
                  std::u16string mes = u"1", std::u16string pasta = {}) {
    CadeiaHost cMes(mes), cAnt(u"12"), cAno(u"2024"), cBanco(banco.Caminho()),
        cPasta(pasta.empty() ? saida.ComBarra() : pasta), cFiltro(filtro);
    try {
        GerarArquivo(cMes, cAnt, cAno, cBanco, cPasta, cFiltro);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// The file's lines (CR LF after each, the last included), the detail lines sorted: the database
// decides their order.
std::vector<std::string> Linhas(const std::filesystem::path& arquivo) {
    const std::string bytes = LerArquivo(arquivo);
    EXPECT_TRUE(bytes.ends_with("\r\n"));
    std::vector<std::string> r;
    for (size_t i = 0; i < bytes.size();) {
        const size_t fim = bytes.find("\r\n", i);
        r.push_back(bytes.substr(i, fim - i));
        i = fim + 2;
    }
    for (const auto& l : r) EXPECT_EQ(l.find_first_of("\r\n"), std::string::npos);
    if (r.size() > 2) std::sort(r.begin() + 1, r.end() - 1);
    return r;
}

std::vector<std::string> Esperadas(std::vector<std::u16string> linhas) {
    std::vector<std::string> r;
    for (const auto& l : linhas) r.push_back(ParaWindows1252(l));
    if (r.size() > 2) std::sort(r.begin() + 1, r.end() - 1);
    return r;
}

std::u16string Cabecalho(std::u16string_view layout) {
    // 50 characters of the employer's name, the layout in 30, January 2024, today.
    return u"HPREFEITURA MUNICIPAL DE SÃO JOÃO DO PARAÍSO - SECR" + AjustaTexto(layout, 30) +
           u"012024" + FormatarData(Agora(), u"ddmmyyyy");
}

const std::u16string Z = u"000000000000.00";

std::u16string Zeros(int n) {
    std::u16string r;
    for (int i = 0; i < n; ++i) r += Z;
    return r;
}

// Earlier files of the three names, to see that a failure leaves them alone.
void ArquivosAnteriores(const PastaTemporaria& saida) {
    for (const char* nome : {"Pessoas.csv", "Margem.txt", "Transferidos.txt"})
        GravarArquivo(saida.Caminho() / nome, std::string("anterior ") + nome);
}

void ConfereAnterioresIntactos(const PastaTemporaria& saida) {
    for (const char* nome : {"Pessoas.csv", "Margem.txt", "Transferidos.txt"})
        EXPECT_EQ(LerArquivo(saida.Caminho() / nome), std::string("anterior ") + nome);
    // No temporary file left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(saida.Caminho()), {}), 3);
}

std::string Larga(std::string script) {
    for (size_t p; (p = script.find("MATRICULA VARCHAR(8)")) != std::string::npos;)
        script.replace(p, 20, "MATRICULA VARCHAR(12)");
    return script;
}

}  // namespace

TEST(GerarArquivo, TresArquivosByteAByte) {
    BancoTeste banco(ScriptFolha());
    PastaTemporaria saida;
    ArquivosAnteriores(saida);  // replaced whole
    ASSERT_EQ(Gerar(banco, saida, DeUtf8(kFiltroFolha)), "");

    // ";" and the CR LF inside the father's name and the address became blanks; a null birth date
    // is 00000000; the five work-address fields are empty; Formacao closes the line without ";".
    EXPECT_EQ(
        Linhas(saida.Caminho() / "Pessoas.csv"),
        Esperadas({
            Cabecalho(u"PESSOAS"),
            u"D;12345678909;MG-12.345.678;123456789012;101;0202;JOSÉ DA "
            u"CONCEIÇÃO;Casado;M;01031980;"
            u"JOÃO DA CONCEIÇÃO;ANA MARIA;3;jose@exemplo.com.br;(31) 3333-1111;(31) 3333-2222;"
            u"(31) 99999-0000;RUA DAS FLORES, 12;CENTRO;30110-000;BELO HORIZONTE;MG;;;;;;BANCO DO "
            u"BRASIL;"
            u"1;1234;5;12345678;X;MI",
            u"D;98765432100;;;;;MARIA APARECIDA DOS SANTOS OLIVEIRA FERNANDES;Desquitado e "
            u"Outros;F;"
            u"00000000;PEDRO  FERREIRA;;0;;;;;RUA A  CASA 2;;;;;;;;;;CAIXA ECONÔMICA "
            u"FEDERAL;104;321;0;"
            u"9876;1;",
            u"D;00123;;;;;ANA;Outros;Outros;31121990;;;0;;;;;;;;;;;;;;;BANCO DO "
            u"BRASIL;1;1;;1;10;S",
            u"T0000000003",
        }));

    // JOSÉ: retired (third flag), margin 30% of 2000, the night allowance of 0.125 rounded up.
    // MARIA: the name cut to 40, negative MCVALOR gives margin 0, no dates, no link code.
    // ANA: CPF 00123 padded, an empty branch digit ("0" alone) and an account digit of two
    // ("010") cancel out in length; margin 30% of 1000 with MCVALOR 0.
    EXPECT_EQ(
        Linhas(saida.Caminho() / "Margem.txt"),
        Esperadas({
            Cabecalho(u"MARGEM"),
            u"D" + AjustaTexto(u"JOSÉ DA CONCEIÇÃO", 40) + u"12345678909" + u"000000000012345" +
                u"00000010" + AjustaTexto(u"PROFESSOR", 30) + u"00001002" +
                AjustaTexto(u"SECRETARIA DE EDUCAÇÃO", 30) + u"001" + u"001234" + u"05" +
                u"00000000000012345678" + u"0X" + u"000000000600.00" + u"02012010" + u"15012024" +
                u"NNSNNNN" + u"000000003500.50" + u"000000002800.25" + u"000000000700.25" +
                u"000000003000.00" + u"000000000010.50" + Z + u"000000000000.13" + Zeros(5) +
                u"000000000100.00" + u"000000000330.00" + Zeros(4) + u"000000000035.00",
            std::u16string(u"D") + u"MARIA APARECIDA DOS SANTOS OLIVEIRA FERN" + u"98765432100" +
                u"000000000002001" + u"00000020" + AjustaTexto(u"AUXILIAR ADMINISTRATIVO", 30) +
                u"00002001" + AjustaTexto(u"SECRETARIA DE SAÚDE", 30) + u"104" + u"000321" + u"00" +
                u"00000000000000009876" + u"01" + Z + u"00000000" + u"00000000" + u"NNNNNNN" +
                u"000000001500.00" + Z + Z + u"000000001500.00" + u"000000000003.00" + Zeros(14),
            u"D" + AjustaTexto(u"ANA", 40) + u"00000000123" + u"000000000003003" + u"00000020" +
                AjustaTexto(u"AUXILIAR ADMINISTRATIVO", 30) + u"00002001" +
                AjustaTexto(u"SECRETARIA DE SAÚDE", 30) + u"001" + u"000001" + u"0" +
                u"00000000000000000001" + u"010" + u"000000000300.00" + u"30062020" + u"00000000" +
                u"NNNNNNS" + Zeros(19),
            u"T0000000003000000000900.00",
        }));

    // Only JOSÉ changed unit: from December's 02001 to January's 01002.
    EXPECT_EQ(Linhas(saida.Caminho() / "Transferidos.txt"),
              Esperadas({
                  Cabecalho(u"TRANSFERIDOS"),
                  u"D" + AjustaTexto(u"JOSÉ DA CONCEIÇÃO", 40) + u"12345678909" +
                      u"000000000012345" + u"00002001" + u"000000000012345" + u"00001002",
                  u"T0000000001",
              }));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(saida.Caminho()), {}), 3);
}

TEST(GerarArquivo, FiltroSemLinhasGravaCabecalhoERodape) {
    BancoTeste banco(ScriptFolha());
    PastaTemporaria saida;
    ASSERT_EQ(Gerar(banco, saida, u"select matricula from SFP001JAN where matricula = 'ninguém'"),
              "");
    EXPECT_EQ(Linhas(saida.Caminho() / "Pessoas.csv"),
              Esperadas({Cabecalho(u"PESSOAS"), u"T0000000000"}));
    EXPECT_EQ(Linhas(saida.Caminho() / "Margem.txt"),
              Esperadas({Cabecalho(u"MARGEM"), u"T0000000000000000000000.00"}));
    EXPECT_EQ(Linhas(saida.Caminho() / "Transferidos.txt"),
              Esperadas({Cabecalho(u"TRANSFERIDOS"), u"T0000000000"}));
}

TEST(GerarArquivo, FalhaDeixaOsArquivosAnterioresIntactos) {
    struct Caso {
        const char* oque;
        std::string script;
        std::u16string filtro;
        std::u16string mes;
        std::string mensagem;
    };
    const std::u16string soJose = u"select matricula from SFP001JAN where matricula = '1234-5'";
    for (const auto& [oque, script, filtro, mes, mensagem] : std::vector<Caso>{
             {"CPF com pontuação",
              ScriptFolha() +
                  "update SFP001JAN set CPF = '123.456.789-00' where MATRICULA = '1234-5';",
              soJose, u"1",
              "Margem.txt, linha 2: servidor 12345 (JOSÉ DA CONCEIÇÃO): CPF '123.456.789-00' não é "
              "um número "
              "inteiro"},
             {"matrícula acima de 32 bits",
              // Registrations wider than the usual eight characters.
              Larga(ScriptFolha()) +
                  "update SFP001JAN set MATRICULA = '2147483648' where MATRICULA = '3003';"
                  "update SFPDXX02JAN set MATRICULA = '2147483648' where MATRICULA = '3003';",
              u"select matricula from SFP001JAN where matricula = '2147483648'", u"1",
              "Margem.txt, linha 2: servidor 2147483648 (ANA): Matricula '2147483648' excede o "
              "limite de um "
              "inteiro de 32 bits (2147483647)"},
             // Pessoas.csv and Margem.txt were complete: they still wait for the third file.
             {"unidade anterior inválida",
              ScriptFolha() + "update SFP001DEZ set CDSECRETA = 'x' where MATRICULA = '1234-5';",
              soJose, u"1",
              "Transferidos.txt, linha 2: servidor 12345 (JOSÉ DA CONCEIÇÃO): CodigoOrgaoOrigem "
              "'x001' não é "
              "um número inteiro"},
             {"mês inválido", ScriptFolha(), soJose, u"13",
              "Mês '13' inválido: informe o número do mês, de 1 a 12"},
         }) {
        SCOPED_TRACE(oque);
        BancoTeste banco(script);
        PastaTemporaria saida;
        ArquivosAnteriores(saida);
        EXPECT_EQ(Gerar(banco, saida, filtro, mes), mensagem);
        ConfereAnterioresIntactos(saida);
    }
}

TEST(GerarArquivo, PastaInexistenteNomeiaOArquivo) {
    BancoTeste banco(ScriptFolha());
    PastaTemporaria saida;
    const std::string mensagem =
        Gerar(banco, saida, DeUtf8(kFiltroFolha), u"1", saida.ComBarra() + u"nao-existe/");
    EXPECT_EQ(mensagem.rfind("Não foi possível criar o arquivo '" +
                                 (saida.Caminho() / "nao-existe").string() + "/Pessoas.csv': ",
                             0),
              0u)
        << mensagem;
    EXPECT_TRUE(std::filesystem::is_empty(saida.Caminho()));
}

// Values the layouts were not made for: a 200-character address is written whole in the
// ";"-separated people file, and letters the Windows-1252 files cannot hold (kept by the payroll
// in a UTF8 column) arrive as "?", each in its place, with the fixed widths kept.
TEST(GerarArquivo, ValoresForaDoComumDaFolha) {
    const std::u16string soJose = u"select matricula from SFP001JAN where matricula = '1234-5'";
    std::string script = ScriptFolha();
    const std::string nome = "NOME VARCHAR(60),";
    script.replace(script.find(nome), nome.size(), "NOME VARCHAR(60) CHARACTER SET UTF8,");
    const std::string endereco(200, 'R');
    BancoTeste banco(script + "update SFP001JAN set ENDERECO = '" + endereco +
                     "', NOME = 'ŁUKASZ ŻÓŁW'" + " where MATRICULA = '1234-5';");
    PastaTemporaria saida;
    ASSERT_EQ(Gerar(banco, saida, soJose), "");
    const std::string pessoas = LerArquivo(saida.Caminho() / "Pessoas.csv");
    EXPECT_NE(pessoas.find(";" + endereco + ";"), std::string::npos);
    EXPECT_NE(pessoas.find(";?UKASZ ?\xD3?W;"), std::string::npos);
    const std::string margem = LerArquivo(saida.Caminho() / "Margem.txt");
    const size_t detalhe = margem.find("\r\n") + 2;
    EXPECT_EQ(margem.substr(detalhe, 41), "D?UKASZ ?\xD3?W" + std::string(29, ' '));
    EXPECT_EQ(margem.find("\r\n", detalhe) - detalhe, 499u);
}
