// GerarArquivo as the host calls it: the three files from the small payroll, byte for byte, and
// the failures that must leave the previous set of files exactly as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "tests/TestaGeracaoFolha.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/NomesUnicode.h"
#include "tests/apoio/ServidorTeste.h"
#include "util/Codificacao.h"
#include "util/Datas.h"
#include "util/Utils.h"

using namespace kavlo;
using namespace kavlo::teste;

namespace {

std::string Gerar(std::u16string banco, const PastaTemporaria& saida, std::u16string filtro,
                  std::u16string mes = u"1", std::u16string pasta = {}) {
    CadeiaHost cMes(mes), cAnt(u"12"), cAno(u"2024"), cBanco(banco),
        cPasta(pasta.empty() ? saida.ComBarra() : pasta), cFiltro(filtro);
    try {
        GerarArquivo(cMes, cAnt, cAno, cBanco, cPasta, cFiltro);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

std::string Gerar(const BancoTeste& banco, const PastaTemporaria& saida, std::u16string filtro,
                  std::u16string mes = u"1", std::u16string pasta = {}) {
    return Gerar(banco.Caminho(), saida, std::move(filtro), std::move(mes), std::move(pasta));
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

// The folder and file names users give their payroll (accents, blanks) reach the client as they
// are, embedded and through a local server, whatever the process's locale (a host that never set
// one runs in "C").
TEST(GerarArquivo, BancoEmPastaComAcentos) {
    namespace fs = std::filesystem;
    BancoTeste banco(ScriptFolha());
    PastaTemporaria embutido;
    std::vector<std::pair<fs::path, std::u16string>> lugares = {{embutido.Caminho(), u""}};
    std::optional<PastaDoServidor> servidor;
    if (ServidorFirebirdResponde()) {
        servidor.emplace();
        if (servidor->Valida()) lugares.emplace_back(servidor->Caminho(), u"localhost:");
    } else {
        std::fprintf(stderr, "Sem servidor Firebird em localhost:3050: só o acesso embutido.\n");
    }
    for (const auto& [pasta, prefixo] : lugares) {
        const fs::path arquivo = pasta / "Pasta Ação Ñ" / "folha de São João.fdb";
        fs::create_directory(arquivo.parent_path());
        fs::permissions(arquivo.parent_path(), fs::perms::all);  // the server's user writes there
        fs::copy_file(banco.Arquivo(), arquivo);
        fs::permissions(arquivo, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec |
                                                    fs::perms::others_exec));
        PastaTemporaria saida;
        EXPECT_EQ(Gerar(prefixo + DeUtf8(arquivo.string()), saida, DeUtf8(kFiltroFolha)), "")
            << ParaUtf8(prefixo);
        EXPECT_EQ(Linhas(saida.Caminho() / "Margem.txt").size(), 5u) << ParaUtf8(prefixo);
    }
}

// A value the layouts were not made for: a 200-character address is written whole in the
// ";"-separated people file.
TEST(GerarArquivo, EnderecoLongoInteiro) {
    const std::u16string soJose = u"select matricula from SFP001JAN where matricula = '1234-5'";
    const std::string endereco(200, 'R');
    BancoTeste banco(ScriptFolha() + "update SFP001JAN set ENDERECO = '" + endereco +
                     "' where MATRICULA = '1234-5';");
    PastaTemporaria saida;
    ASSERT_EQ(Gerar(banco, saida, soJose), "");
    const std::string pessoas = LerArquivo(saida.Caminho() / "Pessoas.csv");
    EXPECT_NE(pessoas.find(";" + endereco + ";"), std::string::npos);
}

// A payroll older than its schema: text columns in NONE (Windows-1252 bytes, as the payroll
// application wrote them), WIN1252, ISO8859_1, UTF8, UNICODE_FSS and WIN1250, filled through a
// UTF8 connection with letters inside and outside Windows-1252 and an emoji. Every servant is
// written; the Windows-1252 letters exactly, each other UTF-16 code unit as the one byte Windows
// writes for it (Ł is L, Ễ and each half of the emoji "?"), so the fixed widths hold.
TEST(GerarArquivo, TextoDeQualquerConjuntoDeCaracteres) {
    std::string script = ScriptFolha();
    for (const auto& [de, para] : std::vector<std::pair<std::string, std::string>>{
             {"NOME VARCHAR(60),", "NOME VARCHAR(60) CHARACTER SET UTF8,"},
             {"NOMEPAI VARCHAR(60),", "NOMEPAI VARCHAR(60) CHARACTER SET NONE,"},
             {"NOMEMAE VARCHAR(60),", "NOMEMAE VARCHAR(60) CHARACTER SET ISO8859_1,"},
             {"ENDERECO VARCHAR(200),", "ENDERECO VARCHAR(200) CHARACTER SET UNICODE_FSS,"},
             {"CIDADE VARCHAR(40),", "CIDADE VARCHAR(40) CHARACTER SET WIN1250,"},
         })
        for (size_t p; (p = script.find(de)) != std::string::npos;)
            script.replace(p, de.size(), para);
    BancoTeste banco(script);
    // NOMEPAI gets the Windows-1252 bytes of "JOÃO Ç € Œ"; NOMEMAE ends in U+0085, a C1 control
    // that ISO8859_1 holds and Windows-1252 does not.
    banco.ExecutarUtf8(
        "update SFP001JAN set NOME = 'JOSÉ ŁÓDŹ NGUYỄN 😀', NOMEPAI = x'4A4FC34F20C720808C',"
        " NOMEMAE = 'ANA MARÍA ÿ\xC2\x85', ENDERECO = 'RUA ŻÓŁW 😀, Nº 12',"
        " BAIRRO = 'SÃO CRISTÓVÃO €', CIDADE = 'ŁÓDŹ' where MATRICULA = '1234-5';"
        // The emoji is cut in two by the 40 characters of the fixed-width files.
        "update SFP001JAN set NOME = 'XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX😀ABC'"
        " where MATRICULA = '2001';"
        "update SFP001JAN set NOME = 'ANA 😀' where MATRICULA = '3003'");
    // The database holds the letters (NONE as its bytes), read back through UTF8.
    EXPECT_EQ(banco.LinhasUtf8("select NOME, NOMEPAI, NOMEMAE, ENDERECO, BAIRRO, CIDADE from "
                               "SFP001JAN where MATRICULA = '1234-5'"),
              (std::vector<std::vector<std::string>>{{"JOSÉ ŁÓDŹ NGUYỄN 😀", "JO\xC3O \xC7 \x80\x8C",
                                                      "ANA MARÍA ÿ\xC2\x85", "RUA ŻÓŁW 😀, Nº 12",
                                                      "SÃO CRISTÓVÃO €", "ŁÓDŹ"}}));

    PastaTemporaria saida;
    ASSERT_EQ(Gerar(banco, saida, DeUtf8(kFiltroFolha)), "");

    const std::string jose =
        "JOS\xC9 L\xD3"
        "DZ NGUY?N ??";
    const std::string maria = std::string(39, 'X') + "?";
    const std::string ana = "ANA ??";
    const auto pessoas = Linhas(saida.Caminho() / "Pessoas.csv");
    ASSERT_EQ(pessoas.size(), 5u);
    EXPECT_EQ(pessoas[4], "T0000000003");
    std::string linhaJose;
    for (const auto& l : pessoas)
        if (l.starts_with("D;12345678909;")) linhaJose = l;
    EXPECT_NE(linhaJose.find(";" + jose +
                             ";Casado;M;01031980;JO\xC3O \xC7 \x80\x8C;ANA MAR\xCD"
                             "A \xFF?;3;"),
              std::string::npos)
        << linhaJose;
    EXPECT_NE(linhaJose.find(";RUA Z\xD3LW ??, N\xBA 12;S\xC3O CRIST\xD3V\xC3O \x80;30110-000;L\xD3"
                             "DZ;MG;"),
              std::string::npos)
        << linhaJose;
    EXPECT_NE(std::find(pessoas.begin(), pessoas.end(),
                        "D;98765432100;;;;;" + std::string(39, 'X') +
                            "??ABC;Desquitado e Outros;F;00000000;PEDRO  FERREIRA;;0;;;;;RUA A  "
                            "CASA 2;;;;;;;;;;CAIXA ECON\xD4MICA FEDERAL;104;321;0;9876;1;"),
              pessoas.end());

    const auto margem = Linhas(saida.Caminho() / "Margem.txt");
    ASSERT_EQ(margem.size(), 5u);
    std::vector<std::string> nomes;
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(margem[i].size(), 499u) << margem[i];
        nomes.push_back(margem[i].substr(0, 41));
    }
    std::sort(nomes.begin(), nomes.end());
    EXPECT_EQ(nomes, (std::vector<std::string>{"D" + ana + std::string(34, ' '),
                                               "D" + jose + std::string(21, ' '), "D" + maria}));

    const auto transferidos = Linhas(saida.Caminho() / "Transferidos.txt");
    ASSERT_EQ(transferidos.size(), 3u);
    EXPECT_EQ(transferidos[1], "D" + jose + std::string(21, ' ') +
                                   "12345678909000000000012345000020010000000000123450000100"
                                   "2");
}

// Names in a UTF8 column, some with their accents apart from their letters: composed, then
// written as Windows writes them, in every file and at full width.
TEST(GerarArquivo, NomesUnicodeComoOWindowsGrava) {
    std::string script = ScriptFolha();
    const std::string de = "NOME VARCHAR(60),", para = "NOME VARCHAR(60) CHARACTER SET UTF8,";
    for (size_t p; (p = script.find(de)) != std::string::npos;) script.replace(p, de.size(), para);
    BancoTeste banco(script);
    const std::vector<NomeUnicode> nomes = NomesUnicode();
    // One servant a name, moved from another unit since December: in all three files.
    std::string sql;
    for (size_t i = 0; i < nomes.size(); ++i) {
        const std::string m = "'" + std::to_string(8001 + i) + "'",
                          cpf = "'" + std::to_string(80000000001 + i) + "'";
        sql +=
            "insert into SFP001JAN (MATRICULA, NOME, CPF, ESTCIVIL, SEXO, GRINSTR, BANCO, "
            "DVAGENCIA, DVCONTA, SISTEMA, FUNCAO, CDSECRETA, CDSETOR) values (" +
            m + ", '" + ParaUtf8(nomes[i].escrito) + "', " + cpf +
            ", '1', '1', '1', 1, '2', '3', 3, 10, '01', '002');"
            "insert into SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR, MCBASEINCIDE) values (" +
            m + ", 'T', 10, 1000);" +
            "insert into SFP001DEZ (MATRICULA, NOME, CPF, CDSECRETA, CDSETOR) values (" + m +
            ", 'X', " + cpf + ", '02', '001');";
    }
    banco.ExecutarUtf8(sql);
    PastaTemporaria saida;
    ASSERT_EQ(Gerar(banco, saida, u"select matricula from SFP001JAN where matricula >= '8001'"),
              "");

    const auto pessoas = Linhas(saida.Caminho() / "Pessoas.csv");
    const auto margem = Linhas(saida.Caminho() / "Margem.txt");
    const auto transferidos = Linhas(saida.Caminho() / "Transferidos.txt");
    ASSERT_EQ(pessoas.size(), nomes.size() + 2);
    ASSERT_EQ(margem.size(), nomes.size() + 2);
    ASSERT_EQ(transferidos.size(), nomes.size() + 2);
    // The fixed-width lines by the CPF that follows the name (positions 42-52).
    const auto porCpf = [](const std::vector<std::string>& linhas, const std::string& cpf) {
        for (const auto& l : linhas)
            if (l.size() > 52 && l.substr(41, 11) == cpf) return l;
        return std::string("(sem linha do CPF ") + cpf + ")";
    };
    for (size_t i = 0; i < nomes.size(); ++i) {
        SCOPED_TRACE(nomes[i].caso);
        const std::string& bytes = nomes[i].windows1252;
        ASSERT_LE(bytes.size(), 40u);
        EXPECT_EQ(bytes.size(), nomes[i].composto.size());
        const std::string cpf = std::to_string(80000000001 + i);
        // Pessoas.csv's detail lines sort by the CPF, the name a field after it.
        EXPECT_TRUE(pessoas[i + 1].starts_with("D;" + cpf + ";;;;;" + bytes + ";"))
            << pessoas[i + 1];
        const std::string nome40 = bytes + std::string(40 - bytes.size(), ' ');
        const std::string m = porCpf(margem, cpf), t = porCpf(transferidos, cpf);
        EXPECT_EQ(m.substr(0, 41), "D" + nome40) << m;
        EXPECT_EQ(m.size(), 499u);
        EXPECT_EQ(t.substr(0, 41), "D" + nome40) << t;
        EXPECT_EQ(t.size(), 98u);
    }
}
