// The import end to end, as the host calls it: a real return file on disk, a real payroll
// database, and the result file, the report and the rows read back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <set>
#include <thread>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "dao/BancoFolha.h"
#include "demonstracao/EsquemaFolha.h"
#include "entry/Chamadas.h"
#include "entry/Conexao.h"
#include "entry/ProcessoKavlo.h"
#include "import/Diario.h"
#include "import/Estorno.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/LinhaRetorno.h"
#include "tests/apoio/NomesUnicode.h"
#include "util/Codificacao.h"
#include "util/Sha256.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

// Month 1/2024. Slots are free unless named; D has every usable slot taken and only 10 free.
const std::string kFolha = R"(
INSERT INTO AFASTFOLHA VALUES (22, 'DESLIGAMENTO');
INSERT INTO SFP017 VALUES ('123456-7', 22, '1', 1, 2024, '20-JAN-2024', NULL, NULL);
INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES ('123456-7', 'T', 100);
INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR, COD1, COD2, COD3) VALUES ('200000-1', 'T', 150, '10', '11', '12');
INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES ('300000-2', 'T', NULL);
INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR, COD1, COD2, COD3, COD4, COD5, COD6, COD7, COD8, COD9,
  COD11, COD12, COD13, COD14, COD15, COD16, COD17)
  VALUES ('400000-3', 'T', 500, '91', '92', '93', '94', '95', '96', '97', '98', '99', '81', '82', '83', '84', '85', '86', '87');
INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES ('500000-4', 'F', 1000);
INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES ('700000-6', 'T', 100);
INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR, SALARIO) VALUES ('600000-5', 'F', 7, 0);
INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR, SALARIO) VALUES ('600000-5', 'T', 100, 1);
INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR, SALARIO) VALUES ('600000-5', 'T', 1000, 2);
)";

// A return-file instalment line (UTF-8 here, encoded by the caller).
std::string Parcela(std::string_view nome, std::string_view matricula, std::string_view codigo,
                    std::string_view valor, std::string_view perc = "003",
                    std::string_view quant = "010") {
    return LinhaDeRetorno({{retorno::Tipo, "D"},
                           {retorno::Nome, nome},
                           {retorno::Cpf, "12345678901"},
                           {retorno::Registro, "00000000"},
                           {retorno::MatriculaNumero, matricula.substr(0, 6)},
                           {retorno::MatriculaDigito, matricula.substr(7, 1)},
                           {retorno::Contrato, "ABCDEFGH"},
                           {retorno::Proposta, "CONTR1"},
                           {retorno::CampoCodigo, std::string(codigo) + "ZZZZZZ"},
                           {retorno::Parcela, valor},
                           {retorno::ValorTotal, "000000000300.00"},
                           {retorno::ContadorPerc, perc},
                           {retorno::ContadorQuant, quant},
                           {retorno::DataContrato, "AB240131"}});
}

const std::string kCabecalho = LinhaDeRetorno({{retorno::CabTipo, "H"},
                                               {retorno::CabTexto, "PREFEITURA MUNICIPAL DE TESTE"},
                                               {retorno::CabData, "31012024"}},
                                              retorno::CabData.Fim());
const std::string kRodape = "T0000000009XXX000000045000";

std::string Arquivo(const std::vector<std::string>& linhas) {
    std::string r;
    for (const auto& l : linhas) r += l + "\r\n";
    return r;
}

// The main scenario, line by line (line numbers in the comments).
std::string RetornoPrincipal() {
    return Arquivo({
        kCabecalho,                                                // 1
        Parcela("ANA", "123456-7", "35", "000000000060.00"),       // 2 margin 100
        Parcela("ANA", "123456-7", "36", "000000000060.00"),       // 3 margin left: 40
        Parcela("BRUNO", "200000-1", "40", "000000000150.00"),     // 4 margin 150, slots 1-3 taken
        Parcela("CARLA", "300000-2", "41", "000000000010.00"),     // 5 NULL margin
        Parcela("DIEGO", "400000-3", "42", "000000000020.00"),     // 6 no usable slot
        Parcela("EVA", "500000-4", "43", "000000000030.00"),       // 7 inactive
        Parcela("FABIO", "999999-9", "44", "000000000040.00"),     // 8 unknown
        Parcela("GABRIELA", "700000-6", "45", "000000000150.50"),  // 9 margin 100
        Parcela("HELIO", "600000-5", "46", "000000000050.00"),     // 10 two active rows
        kRodape,                                                   // 11
    });
}

class Variavel {
  public:
    Variavel(const char* nome, const std::string& valor) : nome_(nome) {
        setenv(nome, valor.c_str(), 1);
    }
    ~Variavel() { unsetenv(nome_); }

  private:
    const char* nome_;
};

class Importacao : public ::testing::Test {
  protected:
    Importacao() : banco_(demo::EsquemaFixo() + demo::EsquemaDoMes("JAN") + kFolha) {}
    void TearDown() override { dmConexao().fdConexao.Fechar(); }

    // The month's rows as the fixture made them, and an empty journal.
    void Reiniciar(std::string_view linhas = {}) {
        Importacao::TearDown();
        banco_.Executar("delete from SFPDXX02JAN");
        banco_.Executar(linhas.empty() ? kFolha.substr(kFolha.find("INSERT INTO SFPDXX02JAN"))
                                       : std::string(linhas));
        if (banco_.Valor("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = "
                         "'KAVLO_LANCAMENTO'") == u"1")
            banco_.Executar("delete from KAVLO_LANCAMENTO; delete from KAVLO_IMPORTACAO");
    }

    // Runs the import as the host does; the error message, or "" on success.
    std::string Rodar(const std::string& retorno, const std::u16string& verifica = u"S",
                      std::optional<fs::path> resultado = {}) {
        return RodarComo(retorno, u"1", u"2024", Retorno(), verifica, resultado);
    }
    // The same with the month and year as the host writes them and the return file at `caminho`.
    std::string RodarComo(const std::string& retorno, const std::u16string& mesTexto,
                          const std::u16string& anoTexto, const fs::path& caminho,
                          const std::u16string& verifica = u"S",
                          std::optional<fs::path> resultado = {}) {
        GravarArquivo(caminho, retorno);
        CadeiaHost mes(mesTexto), ano(anoTexto), banco(banco_.Caminho()),
            load(DeUtf8(caminho.string())), folhas(u"MENSAL"), margem(verifica);
        CadeiaHost saida(DeUtf8(resultado.value_or(Resultado()).string()));
        return MensagemDeErro(
            [&] { ImportarArquivo(mes, ano, banco, saida, load, folhas, margem); });
    }
    // The same import run inside the process, with what only the tool may ask for.
    ResumoImportacao RodarComOpcoes(const std::string& retorno, const OpcoesImportacao& opcoes,
                                    const std::u16string& verifica = u"S") {
        GravarArquivo(Retorno(), retorno);
        return ImportarRetorno({u"1", u"2024", banco_.Caminho(), DeUtf8(Resultado().string()),
                                DeUtf8(Retorno().string()), u"MENSAL", verifica},
                               opcoes);
    }
    // Every row of the month's table with every value exactly as stored: texts as their bytes,
    // numbers as the bits of the double they read as.
    std::vector<std::vector<std::string>> Exata() const {
        fb::Conexao c;
        AbrirBancoDaFolha(c, banco_.Caminho());
        fb::Transacao t(c, fb::ModoTransacao::Leitura);
        fb::Comando cmd(t,
                        std::string_view("select * from SFPDXX02JAN order by matricula, salario"),
                        "ler o banco de teste");
        auto cur = cmd.Abrir();
        std::vector<std::vector<std::string>> r;
        while (cur.Proximo()) {
            auto& linha = r.emplace_back();
            for (unsigned i = 0; i < cur.Colunas(); ++i) {
                if (cur.Nulo(i)) {
                    linha.push_back("<null>");
                } else if (cur.NomeColuna(i).starts_with("COD") ||
                           cur.NomeColuna(i) == "MATRICULA" || cur.NomeColuna(i) == "ATIVO" ||
                           cur.NomeColuna(i) == "RECALCULAR") {
                    linha.push_back("'" + cur.Bytes(i) + "'");
                } else {
                    const double v = cur.Real(i);
                    linha.push_back(std::string(reinterpret_cast<const char*>(&v), sizeof v));
                }
            }
        }
        return r;
    }
    std::u16string Diario(std::string_view colunas, std::string_view resto = "") const {
        std::u16string r;
        for (const auto& linha :
             banco_.Linhas("select " + std::string(colunas) + " from KAVLO_IMPORTACAO " +
                           std::string(resto) + " order by ID"))
            for (const auto& v : linha) r += (r.empty() ? u"" : u"|") + v;
        return r;
    }
    fs::path Retorno() const { return saida_.Caminho() / "retorno.txt"; }
    fs::path Resultado() const { return saida_.Caminho() / "resultado.txt"; }
    fs::path Relatorio() const { return banco_.Pasta() / "ServidoresSemMargem.txt"; }
    std::vector<std::string> LinhasResultado() const {
        std::vector<std::string> r;
        const std::string bytes = LerArquivo(Resultado());
        for (size_t i = 0, fim; (fim = bytes.find("\r\n", i)) != std::string::npos; i = fim + 2)
            r.push_back(bytes.substr(i, fim - i));
        return r;
    }
    // Every row of the month's table, every column, in a stable order.
    std::vector<std::vector<std::u16string>> Tabela() const {
        return banco_.Linhas("select * from SFPDXX02JAN order by matricula, salario");
    }
    std::u16string Coluna(std::string_view colunas, std::string_view matricula) const {
        auto linhas = banco_.Linhas("select " + std::string(colunas) +
                                    " from SFPDXX02JAN where matricula = '" +
                                    std::string(matricula) + "' and ativo = 'T' order by salario");
        std::u16string r;
        for (const auto& linha : linhas)
            for (const auto& v : linha) r += (r.empty() ? u"" : u"|") + v;
        return r;
    }
    static std::set<std::string> Nomes(const fs::path& pasta) {
        std::set<std::string> r;
        for (const auto& e : fs::directory_iterator(pasta)) r.insert(e.path().filename().string());
        return r;
    }

    BancoTeste banco_;
    PastaTemporaria saida_;
};

const char* const kSlot = "COD1, VALOR1, QUANT1, PERC1, TEMPO1, COD2, MCVALOR, RECALCULAR";

}  // namespace

TEST_F(Importacao, ModoEstrito) {
    ASSERT_EQ(Rodar(RetornoPrincipal()), "");

    // Line 2 posted whole into slot 1: PERC 3, QUANT 10, TEMPO 10 - 3 + 1. Line 3 finds 40 left.
    EXPECT_EQ(Coluna(kSlot, "123456-7"), u"35|60|10|3|8|<null>|40|S");
    // Margin exactly equal to the instalment: posted, margin 0, into the first free slot (4).
    EXPECT_EQ(Coluna("COD4, VALOR4, MCVALOR, RECALCULAR", "200000-1"), u"40|150|0|S");
    EXPECT_EQ(Coluna(kSlot, "300000-2"),
              u"<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>");
    EXPECT_EQ(Coluna("COD10, MCVALOR, RECALCULAR", "400000-3"), u"<null>|500|<null>");
    EXPECT_EQ(Coluna("COD1, MCVALOR, RECALCULAR", "700000-6"), u"<null>|100|<null>");
    // Only the first active row of a registration is posted.
    EXPECT_EQ(Coluna("SALARIO, COD1, MCVALOR", "600000-5"), u"1|46|50|2|<null>|1000");
    EXPECT_EQ(banco_.Valor("select mcvalor from SFPDXX02JAN where matricula = '500000-4'"),
              u"1000");

    const auto r = LinhasResultado();
    ASSERT_EQ(r.size(), 9u);  // lines 7 and 8 have no result line
    EXPECT_EQ(r[0], "HPREFEITURA MUNICIPAL DE TESTE" + std::string(21, ' ') + "RETORNO" +
                        std::string(23, ' ') + "012024" + "31012024");
    // Line 2, whole, piece by piece; the servant has a dismissal registered for the month.
    EXPECT_EQ(r[1], "DANA" + std::string(37, ' ') + "12345678901" + "000000001234567" + "ABCDEFGH" +
                        "CONTR1" + "35ZZZZZZ" + std::string(20, ' ') + "EMPRESTIMO     " +
                        std::string(15, ' ') + "000000000060.00" + "000000000300.00" + "003010" +
                        "240131" + "AB240131AB240131" + "000000000060.00" + "022" + "Demiss\xE3o" +
                        std::string(22, ' ') + "000000000000.00");
    struct Esperado {
        size_t linha;
        std::string marcador, descontado, codigo, resto;
    };
    const std::string nao = " N\xC3O DESCONTADO", branco(15, ' '), zero = "000000000000.00";
    for (const auto& e : std::vector<Esperado>{{2, nao, zero, "022", "000000000060.00"},
                                               {3, branco, "000000000150.00", "   ", zero},
                                               {4, nao, zero, "   ", "000000000010.00"},
                                               {5, nao, zero, "   ", "000000000020.00"},  // no slot
                                               {6, nao, zero, "   ", "000000000150.50"},
                                               {7, branco, "000000000050.00", "   ", zero}}) {
        const std::string& l = r[e.linha];
        ASSERT_EQ(l.size(), 260u) << e.linha;
        EXPECT_EQ(l.substr(124, 15), e.marcador) << e.linha;
        EXPECT_EQ(l.substr(197, 15), e.descontado) << e.linha;
        EXPECT_EQ(l.substr(212, 3), e.codigo) << e.linha;
        EXPECT_EQ(l.substr(245), e.resto) << e.linha;
    }
    EXPECT_EQ(r[8], "T0000000009000000045000");

    // Not posted: the second line of 60 (40 left), the NULL margin and 150,5 against 100. The
    // no-slot line makes no entry.
    const std::string fecho = " EMPR\xC9STIMO N\xC3O IMPORTADO!\r\n";
    EXPECT_EQ(LerArquivo(Relatorio()),
              "123456-7 - SERVIDOR: ANA" + std::string(37, ' ') + " POSSUE DE MARGEM: R$40" +
                  std::string(13, ' ') + " E PARCELA DE: R$60" + std::string(13, ' ') + fecho +
                  "300000-2 - SERVIDOR: CARLA" + std::string(35, ' ') + " POSSUE DE MARGEM: R$0" +
                  std::string(14, ' ') + " E PARCELA DE: R$10" + std::string(13, ' ') + fecho +
                  "700000-6 - SERVIDOR: GABRIELA" + std::string(32, ' ') +
                  " POSSUE DE MARGEM: R$100" + std::string(12, ' ') + " E PARCELA DE: R$150,5" +
                  std::string(10, ' ') + fecho);

    // The journal: one import with its counts, and one row per posting with every column it
    // changed, before and after; the second line of 123456-7 found 40 left and posted nothing.
    EXPECT_EQ(Diario("ID, MES, ANO, TABELA, FOLHAS, VERIFICA_MARGEM, MARGEM_VERIFICADA, "
                     "REIMPORTACAO, LINHAS, DESCONTADAS, NAO_DESCONTADAS, SEM_SLOT, "
                     "NAO_ENCONTRADAS, INATIVAS, TOTAL_CENTAVOS, ESTORNO_QUANDO"),
              u"1|1|2024|SFPDXX02JAN|MENSAL|S|S|N|11|3|3|1|1|1|26000|<null>");
    EXPECT_EQ(Diario("char_length(HASH_SHA256), RESULTADO"), u"64|" + DeUtf8(Resultado().string()));
    std::u16string lancamentos;
    for (const auto& l : banco_.Linhas(
             "select LINHA_RETORNO, MATRICULA, SLOT, COD_ANTES, COD_DEPOIS, VALOR_ANTES, "
             "VALOR_DEPOIS, QUANT_DEPOIS, PERC_DEPOIS, TEMPO_DEPOIS, MCVALOR_ANTES, "
             "MCVALOR_DEPOIS, "
             "RECALCULAR_ANTES, RECALCULAR_DEPOIS from KAVLO_LANCAMENTO order by LINHA_RETORNO")) {
        for (const auto& v : l) lancamentos += v + u" ";
        lancamentos += u"\n";
    }
    EXPECT_EQ(lancamentos,
              u"2 123456-7 1 <null> 35 <null> 60 10 3 8 100 40 <null> S \n"
              u"4 200000-1 4 <null> 40 <null> 150 10 3 8 150 0 <null> S \n"
              u"10 600000-5 1 <null> 46 <null> 50 10 3 8 100 50 <null> S \n");
    // The key the journal keeps finds the row the import changed.
    EXPECT_EQ(banco_.Valor("select count(*) from KAVLO_LANCAMENTO l join SFPDXX02JAN f on "
                           "f.rdb$db_key = l.CHAVE_LINHA and f.MATRICULA = l.MATRICULA"),
              u"3");
    EXPECT_EQ(Nomes(saida_.Caminho()),
              (std::set<std::string>{"retorno.txt", "resultado.txt", "resultado.SemMargem.txt",
                                     "resultado.Recusadas.txt"}));
    // Beside the result: the report's copy, and the lines not posted as the file has them (no
    // margin, no slot, inactive, unknown), under its header and a trailer that counts them.
    EXPECT_EQ(LerArquivo(saida_.Caminho() / "resultado.SemMargem.txt"), LerArquivo(Relatorio()));
    const std::string retorno = RetornoPrincipal();
    std::vector<std::string> linhas;
    for (size_t i = 0, fim; (fim = retorno.find("\r\n", i)) != std::string::npos; i = fim + 2)
        linhas.push_back(retorno.substr(i, fim - i));
    EXPECT_EQ(LerArquivo(saida_.Caminho() / "resultado.Recusadas.txt"),
              Arquivo({linhas[0], linhas[2], linhas[4], linhas[5], linhas[6], linhas[7], linhas[8],
                       "T0000000006XXX000000310.50"}));
}

TEST_F(Importacao, ModoTolerante) {
    // Any switch other than "S" posts every instalment whole, whatever the margin.
    for (const std::u16string verifica : {u"N", u"s", u""}) {
        Reiniciar();
        GravarArquivo(Relatorio(), "relatorio de outra execucao\r\n");
        ASSERT_EQ(Rodar(RetornoPrincipal(), verifica), "") << ParaUtf8(verifica);
        EXPECT_EQ(Coluna(kSlot, "123456-7"), u"35|60|10|3|8|36|-20|S");
        EXPECT_EQ(Coluna("COD1, VALOR1, MCVALOR", "300000-2"), u"41|10|-10");
        EXPECT_EQ(Coluna("COD1, VALOR1, MCVALOR", "700000-6"), u"45|150,5|-50,5");
        EXPECT_EQ(Coluna("COD10, MCVALOR, RECALCULAR", "400000-3"), u"<null>|500|<null>");
        EXPECT_EQ(LerArquivo(Relatorio()), "");  // an earlier report is replaced by an empty one
        const auto r = LinhasResultado();
        ASSERT_EQ(r.size(), 9u);
        EXPECT_EQ(r[6].substr(197, 15), "000000000150.50");
        EXPECT_EQ(r[5].substr(124, 15), " N\xC3O DESCONTADO");  // still no free slot
    }
}

TEST_F(Importacao, QuantidadeDeLinhas) {
    const std::string umaLinha = "H" + std::string(99, '1');
    const std::string posto = Parcela("ANA", "123456-7", "35", "000000000060.00");
    struct Caso {
        std::string nome, retorno;
        std::vector<std::string> resultado;
    };
    for (const auto& c : std::vector<Caso>{
             // One line: header and trailer, both from it.
             {"uma",
              umaLinha,
              {"H" + std::string(50, '1') + "RETORNO" + std::string(23, ' ') + "012024" +
                   std::string(8, '1'),
               "T" + std::string(22, '1')}},
             {"duas", Arquivo({kCabecalho, kRodape}), {}},
             // A trailing empty line becomes the trailer; the real trailer is a detail whose key
             // matches nobody.
             {"linha vazia no fim", Arquivo({kCabecalho, posto, kRodape, ""}), {}},
         }) {
        ASSERT_EQ(Rodar(c.retorno), "") << c.nome;
        const auto r = LinhasResultado();
        if (c.nome == "duas") {
            ASSERT_EQ(r.size(), 2u);
            EXPECT_EQ(r[1], "T0000000009000000045000");
        } else if (c.nome == "linha vazia no fim") {
            ASSERT_EQ(r.size(), 3u);
            EXPECT_EQ(r[1].substr(197, 15), "000000000060.00");
            EXPECT_EQ(r[2], "T" + std::string(22, ' '));
        } else {
            EXPECT_EQ(r, c.resultado) << c.nome;
        }
        EXPECT_EQ(LerArquivo(Relatorio()), "") << c.nome;
    }
    EXPECT_EQ(Coluna("COD1, COD2, MCVALOR", "123456-7"),
              u"35|<null>|40");  // posted by the last case only
}

TEST_F(Importacao, RetornoUtf8ComMarca) {
    // Built in ASCII, then the name swapped for its UTF-8 form, which takes more bytes.
    std::string linha = Parcela("JOSE CONCEICAO", "700000-6", "45", "000000000150.50");
    linha.replace(retorno::Nome.inicio - 1, 14, "JOSÉ CONCEIÇÃO");
    const std::string retorno = "\xEF\xBB\xBF" + Arquivo({kCabecalho, linha, kRodape});
    ASSERT_EQ(Rodar(retorno), "");
    const auto r = LinhasResultado();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[1].substr(0, 41), "DJOS\xC9 CONCEI\xC7\xC3O" + std::string(26, ' '));
    EXPECT_EQ(r[1].size(), 260u);  // one byte a character in Windows-1252
    EXPECT_EQ(LerArquivo(Relatorio()).substr(0, 61),
              "700000-6 - SERVIDOR: JOS\xC9 CONCEI\xC7\xC3O" + std::string(26, ' '));
}

// A line laid out as a person sees it, with `composto` at `campo`, written with `escrito` there
// instead (the same text, its accents maybe apart from their letters), in UTF-8.
std::string ComoEscrito(std::u16string linha, Posicao campo, const std::u16string& composto,
                        const std::u16string& escrito) {
    Por(linha, campo, composto);
    linha.replace(static_cast<size_t>(campo.inicio - 1), composto.size(), escrito);
    return ParaUtf8(linha);
}

// A UTF-8 return file with a mark whose names hold letters outside Windows-1252, some with their
// accents written apart: composed when read, so every later field is where the layout says; in
// the result file and the report as Windows writes them, each in its 40 positions.
TEST_F(Importacao, RetornoUtf8ComNomesComoOWindowsGrava) {
    const std::vector<NomeUnicode> nomes = NomesUnicode();
    std::vector<std::string> linhas = {ComoEscrito(
        LinhaDeRetorno<char16_t>({{retorno::CabTipo, u"H"}, {retorno::CabData, u"31012024"}},
                                 retorno::CabData.Fim()),
        retorno::CabTexto, u"PREFEITURA DE ŁÓDŹ – “TESTE”",
        u"PREFEITURA DE ŁO\u0301DZ\u0301 – “TESTE”")};
    std::string folha;
    for (size_t i = 0; i < nomes.size(); ++i) {
        const std::string chave = "81000" + std::to_string(i) + "-0";
        folha += "INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES ('" + chave +
                 "', 'T', 10);";
        linhas.push_back(ComoEscrito(DeUtf8(Parcela("", chave, "35", "000000000012.34")),
                                     retorno::Nome, nomes[i].composto, nomes[i].escrito));
    }
    linhas.push_back(kRodape);
    banco_.Executar(folha);
    ASSERT_EQ(Rodar("\xEF\xBB\xBF" + Arquivo(linhas)), "");

    const auto r = LinhasResultado();
    ASSERT_EQ(r.size(), nomes.size() + 2);
    const std::string cabecalho =
        "PREFEITURA DE L\xD3"
        "DZ \x96 \x93TESTE\x94";
    EXPECT_EQ(r[0], "H" + cabecalho + std::string(50 - cabecalho.size(), ' ') + "RETORNO" +
                        std::string(23, ' ') + "012024" + "31012024");
    std::string relatorio;
    const std::string fecho = " EMPR\xC9STIMO N\xC3O IMPORTADO!\r\n";
    for (size_t i = 0; i < nomes.size(); ++i) {
        SCOPED_TRACE(nomes[i].caso);
        const std::string nome40 =
            nomes[i].windows1252 + std::string(40 - nomes[i].windows1252.size(), ' ');
        const std::string& l = r[i + 1];
        EXPECT_EQ(l.size(), 260u);
        // The name, then the CPF and the registration read from their own positions; the
        // instalment, from its own, is not deducted and comes back whole as the remainder.
        EXPECT_EQ(l.substr(0, 67),
                  "D" + nome40 + "12345678901" + "0000000081000" + std::to_string(i) + "0")
            << l;
        EXPECT_EQ(l.substr(124, 15), " N\xC3O DESCONTADO");
        EXPECT_EQ(l.substr(245), "000000000012.34");
        relatorio += "81000" + std::to_string(i) + "-0 - SERVIDOR: " + nome40 +
                     " POSSUE DE MARGEM: R$10" + std::string(13, ' ') + " E PARCELA DE: R$12,34" +
                     std::string(10, ' ') + fecho;
    }
    EXPECT_EQ(LerArquivo(Relatorio()), relatorio);
}

// The journal gives the result file's path back exactly as the host named it: composed, a path
// with an accent written apart would name another file, and the tool finds the result by it.
TEST_F(Importacao, DiarioDevolveOCaminhoComoFoiDado) {
    const fs::path pasta = saida_.Caminho() / "Relato\xCC\x81rios";
    fs::create_directories(pasta);
    ASSERT_EQ(Rodar(RetornoPrincipal(), u"S", pasta / "resultado.txt"), "");
    fb::Conexao c;
    AbrirBancoDaFolha(c, banco_.Caminho());
    fb::Transacao t(c, fb::ModoTransacao::Leitura);
    const std::optional<ImportacaoRegistrada> i = BuscarImportacao(t, 1);
    ASSERT_TRUE(i);
    EXPECT_EQ(i->resultado, DeUtf8((pasta / "resultado.txt").string()));
}

// A control character in a key (a tab: line ends cannot be in a line) is shown as \xNN.
TEST_F(Importacao, ChaveComCaractereDeControleNaMensagem) {
    banco_.Executar(
        "INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES "
        "('20000' || ascii_char(9) || '-1', 'T', 100)");
    const std::string erro = Rodar(
        Arquivo({kCabecalho, Parcela("BRUNO", "20000\t-1", "40", "-00000000010.00"), kRodape}));
    EXPECT_NE(erro.find("linha 2 do arquivo de retorno, servidor 20000\\x09-1)"), std::string::npos)
        << erro;
}

TEST_F(Importacao, FalhaNaoDeixaNadaPelaMetade) {
    const std::string antes = Parcela("ANA", "123456-7", "35", "000000000060.00");
    const std::string depois = Parcela("CARLA", "300000-2", "41", "000000000010.00");
    struct Caso {
        std::string nome, linha3;
        bool pastaFalta;
        std::vector<std::string> trechos;
    };
    for (const auto& c : std::vector<Caso>{
             {"valor malformado",
              Parcela("BRUNO", "200000-1", "40", "1.234.56"),
              false,
              {"'1,234.56       ' is not a valid floating point value", "linha 3 ", "200000-1"}},
             {"contador malformado",
              Parcela("BRUNO", "200000-1", "40", "000000000010.00", "003", "1O"),
              false,
              {"'1O' is not a valid integer value", "linha 3 ", "200000-1"}},
             {"codigo em branco",
              Parcela("BRUNO", "200000-1", "  ", "000000000010.00"),
              false,
              {"Código de desconto em branco", "linha 3 ", "200000-1"}},
             {"parcela negativa",
              Parcela("BRUNO", "200000-1", "40", "-00000000010.00"),
              false,
              {"Parcela negativa '-00000000010.00'", "linha 3 ", "200000-1"}},
             {"resultado sem pasta",
              Parcela("BRUNO", "200000-1", "40", "000000000010.00"),
              true,
              {"Não foi possível criar o arquivo", "falta/resultado.txt"}},
         }) {
        const auto tabela = Tabela();
        GravarArquivo(Relatorio(), "relatorio anterior\r\n");
        const fs::path destino =
            c.pastaFalta ? saida_.Caminho() / "falta" / "resultado.txt" : Resultado();
        const std::string erro =
            Rodar(Arquivo({kCabecalho, antes, c.linha3, depois, kRodape}), u"S", destino);
        for (const auto& t : c.trechos)
            EXPECT_NE(erro.find(t), std::string::npos) << c.nome << ": " << erro;
        EXPECT_EQ(Tabela(), tabela) << c.nome;  // line 2 was posted before the failure, and is not
        EXPECT_EQ(LerArquivo(Relatorio()), "relatorio anterior\r\n") << c.nome;
        EXPECT_EQ(Nomes(saida_.Caminho()), std::set<std::string>{"retorno.txt"}) << c.nome;
        EXPECT_EQ(Nomes(banco_.Pasta()),
                  (std::set<std::string>{"payroll.fdb", "ServidoresSemMargem.txt"}))
            << c.nome;
    }
}

TEST_F(Importacao, SimulacaoGravaArquivosEDesfazLancamentos) {
    const auto tabela = Exata();
    // A real result and report from earlier: a simulation must never replace them.
    GravarArquivo(Resultado(), "resultado real\r\n");
    GravarArquivo(Relatorio(), "relatorio real\r\n");
    OpcoesImportacao simular;
    simular.simular = true;
    const ResumoImportacao r = RodarComOpcoes(RetornoPrincipal(), simular);
    EXPECT_EQ(Exata(), tabela);
    EXPECT_EQ(Diario("ID"), u"");  // the journal row went with the rollback
    EXPECT_TRUE(r.simulacao);
    EXPECT_EQ(r.integral, 3);
    EXPECT_EQ(r.totalCentavos, 26000);
    ASSERT_EQ(r.naoEncontradas.total, 1);
    ASSERT_EQ(r.naoEncontradas.primeiras.size(), 1u);
    EXPECT_EQ(r.naoEncontradas.primeiras[0].linha, 8u);
    EXPECT_EQ(r.naoEncontradas.primeiras[0].chave, u"999999-9");
    ASSERT_EQ(r.inativas.total, 1);
    ASSERT_EQ(r.inativas.primeiras.size(), 1u);
    EXPECT_EQ(r.inativas.primeiras[0].linha, 7u);
    EXPECT_EQ(LerArquivo(Resultado()), "resultado real\r\n");
    EXPECT_EQ(LerArquivo(Relatorio()), "relatorio real\r\n");
    // The files tell what a real run would do, under names that say they are a simulation.
    const fs::path resultado = saida_.Caminho() / "resultado.SIMULACAO.txt";
    const fs::path relatorio = banco_.Pasta() / "ServidoresSemMargem.SIMULACAO.txt";
    EXPECT_EQ(r.resultado, DeUtf8(resultado.string()));
    EXPECT_EQ(r.relatorio, DeUtf8(relatorio.string()));
    const std::string linhas = LerArquivo(resultado);
    EXPECT_EQ(linhas.size(), 95u + 2 + 7 * 262 + 23 + 2);
    EXPECT_EQ(linhas.substr(97 + 197, 15), "000000000060.00");
    EXPECT_NE(LerArquivo(relatorio).find("123456-7"), std::string::npos);
}

// Writing one of the call's files must never destroy another, nor the database: compared by what
// the paths resolve to, not by their spelling.
TEST_F(Importacao, ArquivosQueColidemSaoRecusados) {
    GravarArquivo(Retorno(), RetornoPrincipal());
    fs::create_symlink(banco_.Arquivo(), saida_.Caminho() / "atalho.fdb");
    fs::create_symlink(banco_.Arquivo(), saida_.Caminho() / "atalho.SemMargem.txt");
    fs::create_symlink(Retorno(), saida_.Caminho() / "retorno.Recusadas");
    const auto tabela = Exata();
    const std::string retorno = LerArquivo(Retorno());
    struct Caso {
        std::string nome;
        fs::path resultado;
        std::vector<std::string> trechos;
    };
    for (const auto& c : std::vector<Caso>{
             {"o banco", banco_.Arquivo(), {"O arquivo de resultado", "o banco de dados da folha"}},
             {"o banco por um atalho",
              saida_.Caminho() / "atalho.fdb",
              {"o banco de dados da folha"}},
             {"o retorno", saida_.Caminho() / "." / "retorno.txt", {"o arquivo de retorno"}},
             {"o relatório",
              banco_.Pasta() / ".." / banco_.Pasta().filename() / "ServidoresSemMargem.txt",
              {"o relatório de servidores sem margem"}},
             // By links: retorno.Recusadas is the return file, atalho.SemMargem.txt the database.
             {"as linhas recusadas sobre o retorno",
              saida_.Caminho() / "retorno",
              {"o arquivo das linhas recusadas", "arquivo de retorno"}},
             {"a cópia do relatório sobre o banco",
              saida_.Caminho() / "atalho.txt",
              {"cópia do relatório de servidores sem margem", "o banco de dados da folha"}},
         }) {
        SCOPED_TRACE(c.nome);
        GravarArquivo(Retorno(), retorno);
        CadeiaHost mes(u"1"), ano(u"2024"), banco(banco_.Caminho()),
            load(DeUtf8(Retorno().string())), folhas(u"MENSAL"), margem(u"S"),
            saida(DeUtf8(c.resultado.string()));
        const std::string erro =
            MensagemDeErro([&] { ImportarArquivo(mes, ano, banco, saida, load, folhas, margem); });
        for (const auto& t : c.trechos) EXPECT_NE(erro.find(t), std::string::npos) << erro;
        EXPECT_NE(erro.find("são o mesmo arquivo"), std::string::npos) << erro;
        Importacao::TearDown();
        EXPECT_EQ(Exata(), tabela);
        EXPECT_EQ(LerArquivo(Retorno()), retorno);
        EXPECT_FALSE(fs::exists(Relatorio()));
    }
}

// A dry run, or a summary file, asked through the environment would reach every host: the library
// reads no such variable, and an import with them set is a real one.
TEST_F(Importacao, AmbienteNaoMudaOQueAImportacaoFaz) {
    const fs::path resumo = saida_.Caminho() / "resumo.txt";
    Variavel v("KAVLO_SIMULAR_IMPORTACAO", "1"), r("KAVLO_RESUMO", resumo.string());
    ASSERT_EQ(Rodar(RetornoPrincipal()), "");
    EXPECT_EQ(Coluna("COD1, VALOR1, MCVALOR", "700000-6"), u"<null>|<null>|100");
    EXPECT_EQ(Coluna("COD1, VALOR1", "123456-7"), u"35|60");
    EXPECT_EQ(Diario("ID"), u"1");
    EXPECT_FALSE(fs::exists(resumo));
}

TEST_F(Importacao, SubstituiResultadoAnterior) {
    // A result file and a report of an earlier run are replaced whole, with no leftovers.
    GravarArquivo(Resultado(), std::string(5000, 'x'));
    GravarArquivo(Relatorio(), std::string(5000, 'y'));
    ASSERT_EQ(Rodar(Arquivo({kCabecalho, kRodape})), "");
    EXPECT_EQ(LinhasResultado().size(), 2u);
    EXPECT_EQ(LerArquivo(Resultado()).size(), 95u + 2 + 23 + 2);
    EXPECT_EQ(LerArquivo(Relatorio()), "");
    EXPECT_EQ(Nomes(saida_.Caminho()),
              (std::set<std::string>{"retorno.txt", "resultado.txt", "resultado.SemMargem.txt",
                                     "resultado.Recusadas.txt"}));
    // Nothing refused: the header and a trailer of none, which replace an earlier run's lines.
    EXPECT_EQ(LerArquivo(saida_.Caminho() / "resultado.Recusadas.txt"),
              Arquivo({kCabecalho, "T0000000000XXX000000000.00"}));
}

// Return files wrong in the ways an outside party gets them wrong. Each either has its documented
// outcome, or stops with an error naming the line and the field, leaving every row, the result
// file and an earlier report as they were.
TEST_F(Importacao, EntradasRuinsDaConsignataria) {
    const std::string boa = Parcela("GABRIELA", "700000-6", "45", "000000000050.00");
    auto com = [&](Posicao p, std::string_view texto) {
        std::string l = boa;
        Por(l, p, texto);
        return l;
    };
    auto utf16 = [](const std::string& ascii) {
        std::string r = "\xFF\xFE";
        for (char c : ascii) r += std::string{c, '\0'};
        return r;
    };
    struct Caso {
        std::string nome, retorno;
        std::vector<std::string> erro;  // empty: the import succeeds
        std::function<void()> conferir = [] {};
    };
    const std::vector<Caso> casos = {
        {"linha curta",
         Arquivo({kCabecalho, boa.substr(0, 100), kRodape}),
         {"'' is not a valid floating point value", "posições 140 a 154", "linha 2 ", "700000-6"}},
        {"linha longa demais",
         Arquivo({kCabecalho, boa + std::string(100, '9'), kRodape}),
         {},
         [&] {
             EXPECT_EQ(LinhasResultado()[1].size(), 260u);
             EXPECT_EQ(Coluna("COD1, VALOR1, MCVALOR", "700000-6"), u"45|50|50");
         }},
        {"tabulação no nome",
         Arquivo({kCabecalho, com(retorno::Nome, "ANA\tMARIA"), kRodape}),
         {},
         [&] { EXPECT_EQ(LinhasResultado()[1].substr(1, 9), "ANA\tMARIA"); }},
        {"NUL dentro de um campo",
         Arquivo({kCabecalho, com(Posicao{retorno::Nome.inicio + 8, 3}, std::string("A\0B", 3)),
                  kRodape}),
         {"NUL na linha 2", "retorno.txt"}},
        {"valor não numérico",
         Arquivo({kCabecalho, com(retorno::Parcela, "ABCDEFGHIJKLMNO"), kRodape}),
         {"'ABCDEFGHIJKLMNO' is not a valid floating point value", "linha 2 ", "700000-6"}},
        {"valor 1e308",
         Arquivo({kCabecalho, com(retorno::Parcela, "1e308          "), kRodape}),
         {"excede o maior valor", "linha 2 ", "700000-6"}},
        {"valor -0",
         Arquivo({kCabecalho, com(retorno::Parcela, "-0             "), kRodape}),
         {},
         [&] { EXPECT_EQ(Coluna("COD1, VALOR1, MCVALOR", "700000-6"), u"45|0|100"); }},
        {"valor com brancos em volta",
         Arquivo({kCabecalho, com(retorno::Parcela, "  150.00       "), kRodape}),
         {},
         [&] { EXPECT_EQ(LinhasResultado()[1].substr(124, 15), " N\xC3O DESCONTADO"); }},
        {"contadores no máximo",
         Arquivo({kCabecalho, com(retorno::Contadores, "999999"), kRodape}),
         {},
         [&] { EXPECT_EQ(Coluna("QUANT1, PERC1, TEMPO1", "700000-6"), u"999|999|1"); }},
        {"contador com letra",
         Arquivo({kCabecalho, com(retorno::ContadorQuant, "1 0"), kRodape}),
         {"'1 0' is not a valid integer value", "posições 170 a 175", "linha 2 "}},
        {"servidor desconhecido",
         Arquivo({kCabecalho, Parcela("X", "000000-0", "45", "000000000050.00"), kRodape}),
         {},
         [&] { EXPECT_EQ(LinhasResultado().size(), 2u); }},
        {"só linhas em branco",
         Arquivo({"", "", ""}),
         {},
         [&] {
             const auto r = LinhasResultado();
             ASSERT_EQ(r.size(), 2u);
             EXPECT_EQ(r[0], std::string(51, ' ') + "RETORNO" + std::string(23, ' ') + "012024" +
                                 std::string(8, ' '));
             EXPECT_EQ(r[1], "T" + std::string(22, ' '));
         }},
        {"Windows-1252 com acentos",
         Arquivo({kCabecalho, com(retorno::Nome, "JOS\xC9 DA CONCEI\xC7\xC3O"), kRodape}),
         {},
         [&] {
             EXPECT_EQ(LinhasResultado()[1].substr(1, 17), "JOS\xC9 DA CONCEI\xC7\xC3O");
             EXPECT_EQ(Coluna("COD1", "700000-6"), u"45");
         }},
        {"vazio", "", {"retorno.txt' está vazio", "Nada foi lançado", "foi recebido por inteiro"}},
        {"cortado no meio da última parcela",
         Arquivo({kCabecalho, boa, boa.substr(0, 150)}),
         {"retorno.txt' parece cortado", "a última linha (linha 3, servidor 700000-6)",
          "Nada foi lançado", "arquivo completo"}},
        {"sem o rodapé",
         Arquivo({kCabecalho, boa, com(retorno::Parcela, "000000000001.00")}),
         {"parece cortado", "linha 3"}},
        {"UTF-16 com marca",
         utf16(Arquivo({kCabecalho, boa, kRodape})),
         {},
         [&] {
             EXPECT_EQ(LinhasResultado()[1].substr(0, 9), "DGABRIELA");
             EXPECT_EQ(Coluna("COD1, VALOR1", "700000-6"), u"45|50");
         }},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        Reiniciar();
        GravarArquivo(Resultado(), "resultado anterior\r\n");
        GravarArquivo(Relatorio(), "relatorio anterior\r\n");
        for (const char* novo : {"resultado.SemMargem.txt", "resultado.Recusadas.txt"})
            fs::remove(saida_.Caminho() / novo);
        const auto tabela = Tabela();
        const std::string erro = Rodar(c.retorno);
        if (c.erro.empty()) {
            ASSERT_EQ(erro, "");
            c.conferir();
            continue;
        }
        for (const auto& t : c.erro) EXPECT_NE(erro.find(t), std::string::npos) << erro;
        EXPECT_EQ(Tabela(), tabela);
        EXPECT_EQ(LerArquivo(Resultado()), "resultado anterior\r\n");
        EXPECT_EQ(LerArquivo(Relatorio()), "relatorio anterior\r\n");
        EXPECT_EQ(Nomes(saida_.Caminho()), (std::set<std::string>{"retorno.txt", "resultado.txt"}));
        EXPECT_EQ(Diario("ID"), u"");
    }
}

// Money is counted in cents: what a margin covers exactly is posted, and the margin left is
// exactly what it should be, for the next month to start from.
TEST_F(Importacao, CentavosExatos) {
    struct Caso {
        std::string nome, margem;  // MCVALOR as SQL
        std::vector<std::string> parcelas;
        std::u16string verifica;
        std::string slots;    // COD1..COD3 after the import
        std::string valores;  // VALOR1..VALOR3, exactly as SQL literals compare
        std::string restante;
    };
    const std::vector<Caso> casos = {
        {"99,90 + 0,10 contra 100,00",
         "100",
         {"000000000099.90", "000000000000.10"},
         u"S",
         "31|32|<null>",
         "99.90|0.10|",
         "0"},
        {"margem gravada com resíduo binário",
         "0.0999999999999943",
         {"000000000000.10"},
         u"S",
         "31|<null>|<null>",
         "0.10||",
         "0"},
        {"terceira decimal arredondada",
         "100",
         {"00000000012.345"},
         u"S",
         "31|<null>|<null>",
         "12.35||",
         "87.65"},
        {"meio centavo para baixo",
         "100",
         {"00000000012.344"},
         u"S",
         "31|<null>|<null>",
         "12.34||",
         "87.66"},
        {"expoente", "150", {"1.5E2"}, u"S", "31|<null>|<null>", "150||", "0"},
        {"margem que falta um centavo",
         "12.34",
         {"00000000012.345"},
         u"S",
         "<null>|<null>|<null>",
         "||",
         "12.34"},
        {"tolerante abaixo de zero",
         "0.1",
         {"000000000000.30"},
         u"N",
         "31|<null>|<null>",
         "0.30||",
         "-0.2"},
        {"tolerante com margem nula",
         "NULL",
         {"000000000000.30", "000000000000.40"},
         u"N",
         "31|32|<null>",
         "0.30|0.40|",
         "-0.7"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        Reiniciar("INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES ('123456-7', 'T', " +
                  c.margem + ")");
        std::vector<std::string> linhas = {kCabecalho};
        for (size_t i = 0; i < c.parcelas.size(); ++i)
            linhas.push_back(Parcela("ANA", "123456-7", std::to_string(31 + i), c.parcelas[i]));
        linhas.push_back(kRodape);
        ASSERT_EQ(Rodar(Arquivo(linhas), c.verifica), "");
        EXPECT_EQ(ParaUtf8(Coluna("COD1, COD2, COD3", "123456-7")), c.slots);
        // Compared by the database with the literal: the stored double is the nearest to the
        // amount in cents, the same a person would type.
        std::string valores = c.valores;
        for (int slot = 1; slot <= 3; ++slot) {
            const std::string esperado = valores.substr(0, valores.find('|'));
            valores.erase(0, esperado.size() + 1);
            const std::string coluna = "VALOR" + std::to_string(slot);
            EXPECT_EQ(banco_.Valor("select count(*) from SFPDXX02JAN where " + coluna +
                                   (esperado.empty() ? " is null" : " = " + esperado)),
                      u"1")
                << coluna << " " << ParaUtf8(Coluna(coluna, "123456-7"));
        }
        EXPECT_EQ(banco_.Valor("select count(*) from SFPDXX02JAN where MCVALOR = " + c.restante),
                  u"1")
            << ParaUtf8(Coluna("MCVALOR", "123456-7"));
    }
}

// Sets of two to four instalments that add up to the margin exactly: every one is posted and the
// margin ends at exactly zero. With binary arithmetic about a third of the last ones were refused.
TEST_F(Importacao, ParcelasQueSomamAMargemExata) {
    uint32_t semente = 12345;
    auto sorteio = [&](uint32_t n) {
        semente = semente * 1103515245u + 12345u;
        return (semente >> 8) % n;
    };
    std::string folha;
    std::vector<std::string> linhas = {kCabecalho};
    size_t parcelas = 0;
    for (int s = 0; s < 60; ++s) {
        char m[16];
        std::snprintf(m, sizeof m, "%06d-%d", 100 + s, s % 10);
        int64_t total = 0;
        const uint32_t quantas = 2 + sorteio(3);
        for (uint32_t k = 0; k < quantas; ++k) {
            const int64_t centavos = 1 + sorteio(99999);
            total += centavos;
            char valor[32];
            std::snprintf(valor, sizeof valor, "%012lld.%02lld",
                          static_cast<long long>(centavos / 100),
                          static_cast<long long>(centavos % 100));
            linhas.push_back(Parcela("X", m, std::to_string(10 + k), valor));
            ++parcelas;
        }
        char reais[32];
        std::snprintf(reais, sizeof reais, "%lld.%02lld", static_cast<long long>(total / 100),
                      static_cast<long long>(total % 100));
        folha += std::string("INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES ('") + m +
                 "', 'T', " + reais + ");\n";
    }
    linhas.push_back(kRodape);
    Reiniciar(folha);
    ASSERT_EQ(Rodar(Arquivo(linhas)), "");
    EXPECT_EQ(banco_.Valor("select count(*) from SFPDXX02JAN where MCVALOR = 0"), u"60");
    EXPECT_EQ(Diario("DESCONTADAS, NAO_DESCONTADAS"), DeUtf8(std::to_string(parcelas)) + u"|0");
    EXPECT_EQ(LerArquivo(Relatorio()), "");
}

// Running the same file again for the same month is the operator's likeliest costly mistake: it is
// refused, nothing is written, and the message says what was imported and how to go on.
TEST_F(Importacao, MesmoArquivoNaoELancadoDuasVezes) {
    ASSERT_EQ(Rodar(RetornoPrincipal()), "");
    const auto depoisDaPrimeira = Exata();
    const std::string resultado = LerArquivo(Resultado());
    const std::string relatorio = LerArquivo(Relatorio());

    const std::string erro = Rodar(RetornoPrincipal());
    for (const char* trecho : {"já foi importado na tabela SFPDXX02JAN", "importação 1 de ",
                               "para 01/2024", "3 parcelas descontadas", "total R$ 260,00",
                               "Nada foi lançado", "kavlo estornar --importacao 1", "--reimportar"})
        EXPECT_NE(erro.find(trecho), std::string::npos) << trecho << "\n" << erro;
    EXPECT_EQ(Exata(), depoisDaPrimeira);
    EXPECT_EQ(LerArquivo(Resultado()), resultado);
    EXPECT_EQ(LerArquivo(Relatorio()), relatorio);
    EXPECT_EQ(Diario("ID"), u"1");

    // Another month, or another file for the same month, is another import.
    std::string outro = RetornoPrincipal();
    outro.insert(outro.find("\r\n"), "X");
    EXPECT_EQ(Rodar(outro), "");
    EXPECT_EQ(Diario("ID"), u"1|2");

    // On purpose, the same file posts again, into the next free slots, and is journaled as such.
    OpcoesImportacao de;
    de.reimportar = true;
    const ResumoImportacao r = RodarComOpcoes(RetornoPrincipal(), de);
    EXPECT_EQ(r.id, 3);
    EXPECT_EQ(Diario("REIMPORTACAO"), u"N|N|S");
    EXPECT_EQ(Coluna("COD1, COD2, COD3, COD4", "700000-6"), u"<null>|<null>|<null>|<null>");
    EXPECT_EQ(Coluna("COD4, COD5, COD6", "200000-1"), u"40|<null>|<null>");  // margin used up
}

// Undoing an import brings every column of every row back exactly as it was; a row changed since
// stops the whole undo; an undone import can be imported again.
TEST_F(Importacao, EstornoDevolveCadaColunaComoEra) {
    // Free slots with leftovers in their other columns, an empty code that is not NULL, an earlier
    // RECALCULAR and a margin with a binary residue: all must come back as they were.
    banco_.Executar(
        "update SFPDXX02JAN set VALOR1 = 0.1, QUANT1 = 7, PERC1 = 2, TEMPO1 = 6, RECALCULAR = 'N',"
        " MCVALOR = 100.00000000000001 where MATRICULA = '123456-7';"
        "update SFPDXX02JAN set COD4 = '', VALOR4 = 3.3 where MATRICULA = '200000-1'");
    const auto antes = Exata();
    ASSERT_EQ(Rodar(RetornoPrincipal()), "");
    ASSERT_NE(Exata(), antes);
    EXPECT_EQ(Coluna("COD4, VALOR4", "200000-1"), u"40|150");  // an empty code is a free slot
    const auto depois = Exata();

    fb::Conexao conexao;
    AbrirBancoDaFolha(conexao, banco_.Caminho());
    const ResultadoEstorno simulado = EstornarImportacao(conexao, 1, true);
    EXPECT_EQ(simulado.lancamentos, 3);
    EXPECT_EQ(Exata(), depois);
    EXPECT_EQ(Diario("ESTORNO_QUANDO"), u"<null>");

    const ResultadoEstorno r = EstornarImportacao(conexao, 1, false);
    EXPECT_EQ(r.lancamentos, 3);
    EXPECT_EQ(r.linhas, 3);
    EXPECT_EQ(Exata(), antes);
    EXPECT_EQ(Diario("ESTORNO_QUANDO is not null"), u"True");
    const std::string duasVezes = MensagemDeErro([&] { EstornarImportacao(conexao, 1, false); });
    EXPECT_NE(duasVezes.find("já foi estornada"), std::string::npos) << duasVezes;
    EXPECT_NE(MensagemDeErro([&] { EstornarImportacao(conexao, 9, false); }).find("não consta"),
              std::string::npos);
    conexao.Fechar();

    // Undone, the same file is no longer "already imported".
    EXPECT_EQ(Rodar(RetornoPrincipal()), "");
    EXPECT_EQ(Exata(), depois);
}

TEST_F(Importacao, EstornoRecusadoSeALinhaMudouDesde) {
    const auto antes = Exata();
    ASSERT_EQ(Rodar(RetornoPrincipal()), "");
    // A later import posts into the same row of 123456-7 (its margin left 40).
    std::string segundo =
        Arquivo({kCabecalho, Parcela("ANA", "123456-7", "37", "000000000010.00"), kRodape});
    ASSERT_EQ(Rodar(segundo), "");
    // And somebody edits a slot of 200000-1 by hand.
    banco_.Executar("update SFPDXX02JAN set VALOR4 = 149.99 where MATRICULA = '200000-1'");
    const auto mudada = Exata();

    fb::Conexao conexao;
    AbrirBancoDaFolha(conexao, banco_.Caminho());
    const std::string erro = MensagemDeErro([&] { EstornarImportacao(conexao, 1, false); });
    for (const char* trecho :
         {"não foi estornada", "Nada foi alterado",
          "servidor 123456-7: mudou desde a importação em "
          "MCVALOR",
          "a importação 2, que não foi estornada, lançou",
          "servidor 123456-7: importação 2, slot 2\n", "kavlo estornar --importacao 2",
          "servidor 200000-1: mudou desde a importação em VALOR4"})
        EXPECT_NE(erro.find(trecho), std::string::npos) << trecho << "\n" << erro;
    EXPECT_EQ(erro.find("600000-5"), std::string::npos) << erro;
    EXPECT_EQ(Exata(), mudada);
    EXPECT_EQ(Diario("ESTORNO_QUANDO"), u"<null>|<null>");

    // Undone in the reverse order, with the hand edit put back, both go.
    banco_.Executar("update SFPDXX02JAN set VALOR4 = 150 where MATRICULA = '200000-1'");
    EXPECT_EQ(EstornarImportacao(conexao, 2, false).lancamentos, 1);
    EXPECT_EQ(EstornarImportacao(conexao, 1, false).lancamentos, 3);
    EXPECT_EQ(Exata(), antes);
}

// Without its journal an import does not post: a database that refuses it fails the import before
// anything is written.
TEST_F(Importacao, SemDiarioNaoHaLancamento) {
    const auto antes = Exata();
    const std::string gfix =
        "gfix -mode read_only -user SYSDBA '" + banco_.Arquivo().string() + "'";
    ASSERT_EQ(std::system(gfix.c_str()), 0);
    const std::string erro = Rodar(RetornoPrincipal());
    EXPECT_NE(erro.find("Não foi possível criar o diário de importações"), std::string::npos)
        << erro;
    EXPECT_EQ(Exata(), antes);
    EXPECT_FALSE(fs::exists(Resultado()));
}

// A failed creation of the journal is looked at again only when another process was creating the
// same object at that moment. A refusal (a login that may not create tables, a read-only
// database) is told on the first attempt: the engine's errors of each kind, as it raises them.
TEST(Diario, SoUmaCriacaoAoMesmoTempoFazOlharDeNovo) {
    BancoTeste banco;
    auto falha = [](const std::function<void()>& f) -> std::optional<ErroBanco> {
        try {
            f();
        } catch (const ErroBanco& e) {
            return e;
        }
        return std::nullopt;
    };
    // A login that is not the database's owner may create nothing in it.
    {
        fb::Conexao outro;
        outro.Abrir(banco.Caminho(), "OUTRO", "x");
        const auto erro = falha([&] { PrepararDiario(outro); });
        ASSERT_TRUE(erro);
        EXPECT_FALSE(CriadoAoMesmoTempo(*erro)) << erro->TextoDoFirebird();
        for (const char* trecho :
             {"Não foi possível criar o diário de importações (KAVLO_IMPORTACAO_ID)",
              "o usuário do banco de dados não tem o direito de criar ou alterar tabelas"})
            EXPECT_NE(std::string(erro->what()).find(trecho), std::string::npos) << erro->what();
    }
    // Each object of the journal created by two connections at once: the one whose creation
    // comes second fails on the name the other took, committed while it waited or before. (Two
    // indexes of one name at once make both wait out the lock wait, and then one of them fails
    // on the duplicate or, at its commit, building the index (isc_idx_key_err, which the two
    // imports of Corrida.* meet now and then); the indexes are raced below, one after the other.)
    fb::Conexao a, b;
    AbrirBancoDaFolha(a, banco.Caminho());
    AbrirBancoDaFolha(b, banco.Caminho());
    for (const ObjetoDiario& objeto : kDiario) {
        if (objeto.tipo == "INDEX") continue;
        SCOPED_TRACE(std::string(objeto.nome));
        std::optional<ErroBanco> erro;
        if (objeto.tipo == "COLUMN") {  // the table was made with it
            erro = falha([&] {
                fb::Transacao t(b, fb::ModoTransacao::Escrita);
                fb::Comando(t, objeto.ddl, "criar").Executar();
                t.Commit();
            });
        } else {
            fb::Transacao primeira(a, fb::ModoTransacao::Escrita);
            fb::Comando(primeira, objeto.ddl, "criar").Executar();
            std::thread confirma([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                primeira.Commit();
            });
            erro = falha([&] {
                fb::Transacao t(b, fb::ModoTransacao::Escrita);
                fb::Comando(t, objeto.ddl, "criar").Executar();
                t.Commit();
            });
            confirma.join();
        }
        ASSERT_TRUE(erro);
        EXPECT_TRUE(CriadoAoMesmoTempo(*erro)) << erro->TextoDoFirebird();
    }
    a.Fechar();
    b.Fechar();
    // The same name taken and committed before the second creation began.
    {
        fb::Conexao c;
        AbrirBancoDaFolha(c, banco.Caminho());
        PrepararDiario(c);  // the indexes
        for (const ObjetoDiario& objeto : kDiario) {
            SCOPED_TRACE(std::string(objeto.nome));
            const auto erro = falha([&] {
                fb::Transacao t(c, fb::ModoTransacao::Escrita);
                fb::Comando(t, objeto.ddl, "criar").Executar();
                t.Commit();
            });
            ASSERT_TRUE(erro);
            EXPECT_TRUE(CriadoAoMesmoTempo(*erro)) << erro->TextoDoFirebird();
        }
    }
    // A read-only database.
    BancoTeste vazio;
    ASSERT_EQ(std::system(
                  ("gfix -mode read_only -user SYSDBA '" + vazio.Arquivo().string() + "'").c_str()),
              0);
    fb::Conexao somenteLeitura;
    AbrirBancoDaFolha(somenteLeitura, vazio.Caminho());
    const auto erro = falha([&] { PrepararDiario(somenteLeitura); });
    ASSERT_TRUE(erro);
    EXPECT_FALSE(CriadoAoMesmoTempo(*erro)) << erro->TextoDoFirebird();
}

// A deduction row another program is changing: after a short, stated wait the import gives up,
// names the servant and posts nothing, instead of a raw deadlock after half a minute.
TEST_F(Importacao, LinhaBloqueadaPorOutroProgramaNomeiaOServidor) {
    const auto antes = Exata();
    fb::Conexao outro;
    AbrirBancoDaFolha(outro, banco_.Caminho());
    fb::Transacao t(outro, fb::ModoTransacao::Escrita);
    fb::Comando(t,
                std::string_view("update SFPDXX02JAN set SALARIO = 9 where MATRICULA = '200000-1'"),
                "segurar a linha")
        .Executar();
    const auto inicio = std::chrono::steady_clock::now();
    const std::string erro = Rodar(RetornoPrincipal());
    const auto espera = std::chrono::steady_clock::now() - inicio;
    t.Rollback();
    for (const char* trecho : {"A linha do servidor 200000-1 (linha 4 do arquivo de retorno)",
                               "está sendo alterada por outro programa", "10 s de espera",
                               "Nenhuma parcela foi lançada"})
        EXPECT_NE(erro.find(trecho), std::string::npos) << trecho << "\n" << erro;
    EXPECT_EQ(erro.find("execute block"), std::string::npos) << erro;
    EXPECT_LT(espera, std::chrono::seconds(25));
    Importacao::TearDown();
    outro.Fechar();
    EXPECT_EQ(Exata(), antes);
    EXPECT_FALSE(fs::exists(Resultado()));
}

// An accented registration travels through the posting, the journal and the undo unchanged.
TEST_F(Importacao, ChaveAcentuadaNoDiarioENoEstorno) {
    Reiniciar("INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES ('AÇÃO01-1', 'T', 100)");
    const auto antes = Exata();
    std::u16string linha = DeUtf8(Parcela("ANA", "ACAO01-1", "35", "000000000010.00"));
    Por(linha, Posicao{retorno::MatriculaNumero.inicio + 1, 2}, u"ÇÃ");  // 62 and 63 of the key
    ASSERT_EQ(Rodar(Arquivo({kCabecalho, ParaWindows1252(linha), kRodape})), "");
    EXPECT_EQ(Coluna("COD1, VALOR1, MCVALOR", "AÇÃO01-1"), u"35|10|90");
    EXPECT_EQ(banco_.Valor("select MATRICULA from KAVLO_LANCAMENTO"), u"AÇÃO01-1");
    fb::Conexao conexao;
    AbrirBancoDaFolha(conexao, banco_.Caminho());
    EXPECT_EQ(EstornarImportacao(conexao, 1, false).lancamentos, 1);
    EXPECT_EQ(Exata(), antes);
}

// A month whose table is not in this database says which month to check, and leaves the database
// as it was: not even the journal is created.
TEST_F(Importacao, MesSemTabelaDizQualMesConferir) {
    GravarArquivo(Retorno(), RetornoPrincipal());
    CadeiaHost mes(u"3"), ano(u"2024"), banco(banco_.Caminho()), load(DeUtf8(Retorno().string())),
        folhas(u"MENSAL"), margem(u"S"), saida(DeUtf8(Resultado().string()));
    const std::string erro =
        MensagemDeErro([&] { ImportarArquivo(mes, ano, banco, saida, load, folhas, margem); });
    EXPECT_NE(erro.find("a tabela SFPDXX02MAR não existe neste banco de dados"), std::string::npos)
        << erro;
    EXPECT_NE(erro.find("Confira o mês informado (3, MAR)"), std::string::npos) << erro;
    EXPECT_EQ(erro.find("select"), std::string::npos) << erro;
    Importacao::TearDown();
    EXPECT_EQ(banco_.Valor("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME starting "
                           "with 'KAVLO_'"),
              u"0");
}

namespace {

// More servants than two batches, each with one instalment, between the first and the later lines
// of ANA (123456-7, slot 1 taken, margin 100): their batches are written while ANA is still open.
constexpr int kOutros = 2 * static_cast<int>(GravadorLancamentos::kLote) + 6;

std::string MatriculaOutro(int i) {
    char m[16];
    std::snprintf(m, sizeof m, "8%05d-%d", i, i % 10);
    return m;
}

std::string FolhaComOutros() {
    std::string sql =
        "INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR, COD1) VALUES ('123456-7', 'T', 100, "
        "'10');";
    for (int i = 1; i <= kOutros; ++i)
        sql += "INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES ('" + MatriculaOutro(i) +
               "', 'T', 50);";
    return sql;
}

std::string RetornoComOutros() {
    std::vector<std::string> linhas = {kCabecalho,
                                       Parcela("ANA", "123456-7", "35", "000000000060.00")};
    for (int i = 1; i <= kOutros; ++i)
        linhas.push_back(Parcela("OUTRO", MatriculaOutro(i), "50", "000000000010.00"));
    linhas.push_back(Parcela("ANA", "123456-7", "36", "000000000030.00"));
    linhas.push_back(Parcela("ANA", "123456-7", "37", "000000000020.00"));  // margin left: 10
    linhas.push_back(kRodape);
    return Arquivo(linhas);
}

}  // namespace

// A servant whose lines lie far apart in the file takes successive slots against the margin the
// earlier lines left, although the rows between are written before its last line is read.
TEST_F(Importacao, LinhasDistantesDoMesmoServidorSeguemOsSlots) {
    Reiniciar(FolhaComOutros());
    ASSERT_EQ(Rodar(RetornoComOutros()), "");
    EXPECT_EQ(Coluna("COD2, VALOR2, COD3, VALOR3, COD4, MCVALOR", "123456-7"),
              u"35|60|36|30|<null>|10");
    for (int i : {1, kOutros / 2, kOutros})
        EXPECT_EQ(Coluna("COD1, VALOR1, MCVALOR", MatriculaOutro(i)), u"50|10|40") << i;
    EXPECT_EQ(banco_.Valor("select count(*) from SFPDXX02JAN where COD1 = '50' and MCVALOR = 40"),
              DeUtf8(std::to_string(kOutros)));
    // The journal follows ANA's margin from one posting to the next.
    const auto ana = banco_.Linhas(
        "select LINHA_RETORNO, SLOT, MCVALOR_ANTES, MCVALOR_DEPOIS from KAVLO_LANCAMENTO where "
        "MATRICULA = '123456-7' order by SLOT");
    const std::vector<std::vector<std::u16string>> esperado = {
        {u"2", u"2", u"100", u"40"}, {DeUtf8(std::to_string(kOutros + 3)), u"3", u"40", u"10"}};
    EXPECT_EQ(ana, esperado);
    EXPECT_EQ(banco_.Valor("select count(*) from KAVLO_LANCAMENTO"),
              DeUtf8(std::to_string(kOutros + 2)));
    const auto r = LinhasResultado();
    ASSERT_EQ(r.size(), static_cast<size_t>(kOutros + 5));
    EXPECT_EQ(r[kOutros + 3].substr(124, 15), " N\xC3O DESCONTADO");
}

// The return file changes between the first pass (before the transaction) and the second: the
// import fails saying so, and nothing is posted or written, batches already sent included. A file
// put in its place under the same name is another file: the one opened is read to the end.
TEST_F(Importacao, ArquivoAlteradoEntreAsLeiturasNaoLancaNada) {
    const std::string original = RetornoComOutros();
    const size_t ultima = original.rfind("\r\n", original.size() - 3) + 2;  // the trailer
    struct Caso {
        std::string nome;
        std::function<void()> alterar;
        bool falha;
    };
    for (const auto& c : std::vector<Caso>{
             {"valor de uma linha",
              [&] {
                  std::string b = original;
                  b.replace(b.find("000000000060.00"), 15, "000000000050.00");
                  GravarArquivo(Retorno(), b);
              },
              true},
             {"rodapé, depois dos lotes gravados",
              [&] {
                  std::string b = original;
                  b[ultima + 1] = '8';
                  GravarArquivo(Retorno(), b);
              },
              true},
             {"linha acrescentada",
              [&] {
                  GravarArquivo(Retorno(), original.substr(0, ultima) +
                                               Parcela("ANA", "123456-7", "38", "000000000001.00") +
                                               "\r\n" + original.substr(ultima));
              },
              true},
             {"chave que a primeira leitura não viu",
              [&] {
                  std::string b = original;
                  b.replace(b.find("123456"), 6, "999998");
                  GravarArquivo(Retorno(), b);
              },
              true},
             {"arquivo cortado", [&] { fs::resize_file(Retorno(), ultima - 2); }, true},
             {"outro arquivo no lugar",
              [&] {
                  const fs::path outro = saida_.Caminho() / "outro.txt";
                  GravarArquivo(outro, Arquivo({kCabecalho, kRodape}));
                  fs::rename(outro, Retorno());
              },
              false},
         }) {
        Reiniciar(FolhaComOutros());
        const auto antes = Exata();
        GravarArquivo(Retorno(), original);
        fs::remove(Resultado());
        fs::remove(Relatorio());
        std::string erro;
        {
            TProcessoKAVLO processo;
            processo.MesAtual = u"1";
            processo.Ano = u"2024";
            processo.CaminhoBanco = banco_.Caminho();
            processo.CaminhoArquivo = DeUtf8(Resultado().string());
            processo.CaminhoLoad = DeUtf8(Retorno().string());
            processo.Folhas = u"MENSAL";
            processo.VerificaMargem = u"S";
            ASSERT_TRUE(processo.ConectarBanco());
            ArquivoDeRetorno arquivo = processo.LerRetorno();
            c.alterar();
            erro = MensagemDeErro([&] { processo.Importacao(std::move(arquivo)); });
        }
        Importacao::TearDown();
        if (!c.falha) {
            EXPECT_EQ(erro, "") << c.nome;
            EXPECT_EQ(Coluna("COD2, COD3, MCVALOR", "123456-7"), u"35|36|10") << c.nome;
            continue;
        }
        EXPECT_NE(erro.find("retorno.txt' foi alterado enquanto era lido"), std::string::npos)
            << c.nome << ": " << erro;
        EXPECT_NE(erro.find("Nada foi lançado"), std::string::npos) << c.nome << ": " << erro;
        EXPECT_EQ(Exata(), antes) << c.nome;
        EXPECT_EQ(Diario("ID"), u"") << c.nome;
        EXPECT_FALSE(fs::exists(Resultado())) << c.nome;
        EXPECT_FALSE(fs::exists(Relatorio())) << c.nome;
    }
}

// The same lines are the same file, and the guard keys on the table they would be posted into:
// another year, the month written "01", another name, other line ends or another encoding do not
// make an import already done a new one.
TEST_F(Importacao, MesmoArquivoDeOutroJeitoNaoELancadoDeNovo) {
    // An accented name, so the encodings differ in their bytes.
    std::string base = RetornoPrincipal();
    base.replace(base.find("DANA "), 5, "DAN\xC1 ");
    ASSERT_EQ(Rodar(base), "");
    const auto depois = Exata();
    const std::string resultado = LerArquivo(Resultado());
    auto semCR = [](std::string b) {
        std::erase(b, '\r');
        return b;
    };
    const std::string utf8 = "\xEF\xBB\xBF" + ParaUtf8(DeWindows1252(base));
    struct Caso {
        std::string nome, bytes;
        std::u16string mes, ano;
        std::string arquivo = "retorno.txt";
    };
    for (const auto& c : std::vector<Caso>{
             {"outro ano", base, u"1", u"2023"},
             {"mês escrito com zero", base, u"01", u"2024"},
             {"outro nome", base, u"1", u"2024", "cópia do retorno.txt"},
             {"quebras de linha LF", semCR(base), u"1", u"2024"},
             {"UTF-8 com marca", utf8, u"1", u"2024"},
             {"UTF-8 com marca, LF, outro ano e outro nome", semCR(utf8), u"01", u"2025",
              "retorno.csv"},
         }) {
        SCOPED_TRACE(c.nome);
        const std::string erro = RodarComo(c.bytes, c.mes, c.ano, saida_.Caminho() / c.arquivo);
        for (const char* trecho :
             {"já foi importado na tabela SFPDXX02JAN", "importação 1 de ", "para 01/2024",
              "do arquivo '", "3 parcelas descontadas", "total R$ 260,00", "Nada foi lançado",
              "kavlo estornar --importacao 1", "kavlo importar --reimportar"})
            EXPECT_NE(erro.find(trecho), std::string::npos) << trecho << "\n" << erro;
        EXPECT_NE(erro.find(c.arquivo), std::string::npos) << erro;
        EXPECT_EQ(Exata(), depois);
        EXPECT_EQ(LerArquivo(Resultado()), resultado);
        EXPECT_EQ(Diario("ID"), u"1");
    }
}

// A journal kept before the lines were hashed gets the column and its index at the next import,
// its rows stay, and they keep guarding by the hash of the bytes.
TEST_F(Importacao, DiarioAntigoGanhaOHashDasLinhasESegueGuardando) {
    const std::string retorno = RetornoPrincipal();
    banco_.Executar(
        "CREATE GENERATOR KAVLO_IMPORTACAO_ID;"
        "CREATE TABLE KAVLO_IMPORTACAO (ID INTEGER NOT NULL PRIMARY KEY, QUANDO TIMESTAMP NOT "
        "NULL, USUARIO VARCHAR(100) CHARACTER SET UTF8, MAQUINA VARCHAR(100) CHARACTER SET UTF8, "
        "ARQUIVO VARCHAR(1000) CHARACTER SET UTF8, HASH_SHA256 CHAR(64) CHARACTER SET ASCII NOT "
        "NULL, MES SMALLINT NOT NULL, ANO SMALLINT NOT NULL, TABELA VARCHAR(31) CHARACTER SET "
        "ASCII NOT NULL, FOLHAS VARCHAR(1000) CHARACTER SET UTF8, VERIFICA_MARGEM VARCHAR(100) "
        "CHARACTER SET UTF8, MARGEM_VERIFICADA CHAR(1) NOT NULL, REIMPORTACAO CHAR(1) NOT NULL, "
        "LINHAS INTEGER, DESCONTADAS INTEGER, NAO_DESCONTADAS INTEGER, SEM_SLOT INTEGER, "
        "NAO_ENCONTRADAS INTEGER, INATIVAS INTEGER, TOTAL_CENTAVOS DOUBLE PRECISION, RESULTADO "
        "VARCHAR(1000) CHARACTER SET UTF8, ESTORNO_QUANDO TIMESTAMP, ESTORNO_USUARIO VARCHAR(100) "
        "CHARACTER SET UTF8, ESTORNO_MAQUINA VARCHAR(100) CHARACTER SET UTF8);"
        "CREATE INDEX KAVLO_IMPORTACAO_ARQUIVO ON KAVLO_IMPORTACAO (HASH_SHA256, ANO, MES);"
        "CREATE TABLE KAVLO_LANCAMENTO (ID_IMPORTACAO INTEGER NOT NULL, LINHA_RETORNO INTEGER NOT "
        "NULL, MATRICULA VARCHAR(1000) CHARACTER SET UTF8, CHAVE_LINHA CHAR(8) CHARACTER SET "
        "OCTETS NOT NULL, SLOT SMALLINT NOT NULL, COD_ANTES VARCHAR(1000) CHARACTER SET OCTETS, "
        "COD_DEPOIS VARCHAR(1000) CHARACTER SET OCTETS, VALOR_ANTES DOUBLE PRECISION, VALOR_DEPOIS "
        "DOUBLE PRECISION, QUANT_ANTES DOUBLE PRECISION, QUANT_DEPOIS DOUBLE PRECISION, PERC_ANTES "
        "DOUBLE PRECISION, PERC_DEPOIS DOUBLE PRECISION, TEMPO_ANTES DOUBLE PRECISION, "
        "TEMPO_DEPOIS "
        "DOUBLE PRECISION, MCVALOR_ANTES DOUBLE PRECISION, MCVALOR_DEPOIS DOUBLE PRECISION, "
        "RECALCULAR_ANTES VARCHAR(1000) CHARACTER SET OCTETS, RECALCULAR_DEPOIS VARCHAR(1000) "
        "CHARACTER SET OCTETS, CONSTRAINT KAVLO_LANCAMENTO_IMPORTACAO FOREIGN KEY (ID_IMPORTACAO) "
        "REFERENCES KAVLO_IMPORTACAO (ID));"
        "SET GENERATOR KAVLO_IMPORTACAO_ID TO 1;"
        "INSERT INTO KAVLO_IMPORTACAO (ID, QUANDO, USUARIO, MAQUINA, ARQUIVO, HASH_SHA256, MES, "
        "ANO, TABELA, MARGEM_VERIFICADA, REIMPORTACAO, DESCONTADAS, TOTAL_CENTAVOS) VALUES (1, "
        "'31-JAN-2024 10:00', 'ana', 'FOLHA-01', 'retorno-de-janeiro.txt', '" +
        Sha256(retorno) + "', 1, 2024, 'SFPDXX02JAN', 'S', 'N', 3, 26000)");
    {
        // Listed and read as it is, before any import adds the column.
        fb::Conexao c;
        AbrirBancoDaFolha(c, banco_.Caminho());
        fb::Transacao t(c, fb::ModoTransacao::Leitura);
        const auto lista = ListarImportacoes(t);
        ASSERT_EQ(lista.size(), 1u);
        EXPECT_EQ(lista[0].hashConteudo, u"");
    }
    const auto antes = Exata();
    const std::string erro = RodarComo(retorno, u"1", u"2023", Retorno());
    for (const char* trecho : {"importação 1 de 31/01/2024 10:00 por ana", "para 01/2024",
                               "do arquivo 'retorno-de-janeiro.txt'", "--reimportar"})
        EXPECT_NE(erro.find(trecho), std::string::npos) << trecho << "\n" << erro;
    EXPECT_EQ(Exata(), antes);
    EXPECT_EQ(banco_.Valor("select count(*) from RDB$INDICES where RDB$INDEX_NAME = "
                           "'KAVLO_IMPORTACAO_CONTEUDO'"),
              u"1");
    EXPECT_EQ(Diario("ID, HASH_CONTEUDO, char_length(HASH_SHA256)"), u"1|<null>|64");

    // The old row knows the bytes only: the same lines with other line ends are imported, and
    // that import, hashed by its lines, then guards every copy.
    std::string lf = retorno;
    std::erase(lf, '\r');
    ASSERT_EQ(Rodar(lf), "");
    EXPECT_EQ(Diario("ID, char_length(HASH_CONTEUDO)", "where ID = 2"), u"2|64");
    EXPECT_NE(Rodar(retorno).find("importação 2 de "), std::string::npos);
}

// Lines whose CPF and name both belong to somebody else than the payroll's servant of the key, as
// a line shifted by one column reads, refuse the whole file, naming each line. A CPF or a name
// alone that differs, or a payroll without the CPF, is no reason to refuse.
TEST_F(Importacao, ParcelasDeOutrasPessoasRecusamOArquivo) {
    banco_.Executar(
        "INSERT INTO SFP001JAN (MATRICULA, NOME, CPF) VALUES ('123456-7', 'Ana Maria da Silva', "
        "'123.456.789-01');"
        "INSERT INTO SFP001JAN (MATRICULA, NOME, CPF) VALUES ('012345-6', 'OUTRO SERVIDOR', "
        "'99988877766');"
        "INSERT INTO SFP001JAN (MATRICULA, NOME, CPF) VALUES ('200000-1', 'BRUNO', "
        "'22233344455');"
        "INSERT INTO SFP001JAN (MATRICULA, NOME, CPF) VALUES ('700000-6', 'GABRIELA', '')");
    const std::string folha = kFolha.substr(kFolha.find("INSERT INTO SFPDXX02JAN")) +
                              "INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO, MCVALOR) VALUES "
                              "('012345-6', 'T', 1000);";
    auto linha = [](std::string_view nome, std::string_view cpf, std::string_view matricula,
                    std::string_view valor = "000000000010.00") {
        std::string l = Parcela(nome, matricula, "35", valor);
        Por(l, retorno::Cpf, cpf);
        return l;
    };
    const std::string ana = linha("ANA MARIA DA SILVA", "12345678901", "123456-7");
    // Shifted right by one column, its width kept: the key reads as 012345-6, the amount as 60,0.
    std::string deslocada =
        linha("ANA MARIA DA SILVA", "12345678901", "123456-7", "000000000060.00");
    deslocada.insert(1, " ");
    deslocada.pop_back();
    struct Caso {
        std::string nome;
        std::vector<std::string> linhas;
        std::vector<std::string> erro;  // empty: imported
    };
    for (const auto& c : std::vector<Caso>{
             {"CPF e nome de outra pessoa",
              {ana, linha("CARLOS", "00000000191", "200000-1")},
              {"traz parcelas de outras pessoas: em 1 linha,", "cadastro do mês (SFP001JAN)",
               "linha 3, servidor 200000-1: no arquivo, CPF '00000000191' e nome 'CARLOS'; na "
               "folha, CPF '22233344455' e nome 'BRUNO'"}},
             {"linha deslocada uma coluna",
              {ana, deslocada, linha("BRUNO", "22233344455", "200000-1")},
              {"em 1 linha,",
               "linha 3, servidor 012345-6: no arquivo, CPF ' 1234567890' e nome "
               "'ANA MARIA DA SILVA'; na folha, CPF '99988877766' e nome 'OUTRO "
               "SERVIDOR'"}},
             {"só o CPF difere", {linha("ANA MARIA DA SILVA", "00000000191", "123456-7")}, {}},
             {"só o nome difere", {linha("ANA M. SILVA", "12345678901", "123456-7")}, {}},
             {"nome com acentos, caixa e brancos",
              {linha("\xC1na  MARIA da  SILVA", "12345678901", "123456-7")},
              {}},
             {"folha sem CPF", {linha("OUTRA PESSOA", "00000000191", "700000-6")}, {}},
             {"servidor sem cadastro", {linha("CARLA", "00000000191", "300000-2")}, {}},
         }) {
        SCOPED_TRACE(c.nome);
        Reiniciar(folha);
        GravarArquivo(Resultado(), "resultado anterior\r\n");
        const auto antes = Exata();
        std::vector<std::string> linhas = {kCabecalho};
        linhas.insert(linhas.end(), c.linhas.begin(), c.linhas.end());
        linhas.push_back(kRodape);
        const std::string erro = Rodar(Arquivo(linhas));
        if (c.erro.empty()) {
            EXPECT_EQ(erro, "");
            EXPECT_EQ(banco_.Valor("select count(*) from KAVLO_IMPORTACAO"), u"1");
            continue;
        }
        for (const auto& t : c.erro)
            EXPECT_NE(erro.find(t), std::string::npos) << t << "\n" << erro;
        EXPECT_NE(erro.find("Nada foi lançado"), std::string::npos) << erro;
        EXPECT_NE(erro.find("kavlo verificar"), std::string::npos) << erro;
        EXPECT_EQ(Exata(), antes);
        EXPECT_EQ(Diario("ID"), u"");
        EXPECT_EQ(LerArquivo(Resultado()), "resultado anterior\r\n");
    }
}

// A slot cleared by hand and posted again by a later import holds the same values the first import
// wrote: only the journal tells that undoing the first would undo the second's posting.
TEST_F(Importacao, EstornoNaoDesfazOQueOutraImportacaoLancouNoMesmoSlot) {
    const auto antes = Exata();
    const std::string ana = Parcela("ANA", "123456-7", "35", "000000000060.00");
    ASSERT_EQ(Rodar(Arquivo({kCabecalho, ana, kRodape})), "");
    const auto depois = Exata();
    banco_.Executar(
        "update SFPDXX02JAN set COD1 = NULL, VALOR1 = NULL, QUANT1 = NULL, PERC1 = NULL, TEMPO1 = "
        "NULL, MCVALOR = 100, RECALCULAR = NULL where MATRICULA = '123456-7'");
    ASSERT_EQ(Exata(), antes);
    std::string outroCabecalho = kCabecalho;  // another file, the same instalment
    outroCabecalho[12] = 'X';
    ASSERT_EQ(Rodar(Arquivo({outroCabecalho, ana, kRodape})), "");
    ASSERT_EQ(Exata(), depois);

    fb::Conexao conexao;
    AbrirBancoDaFolha(conexao, banco_.Caminho());
    const std::string erro = MensagemDeErro([&] { EstornarImportacao(conexao, 1, false); });
    for (const char* trecho :
         {"A importação 1 não foi estornada. Nada foi alterado.",
          "a importação 2, que não foi estornada, lançou nas linhas dos mesmos servidores",
          "servidor 123456-7: importação 2, slot 1 (o mesmo slot desta importação)",
          "kavlo estornar --importacao 2"})
        EXPECT_NE(erro.find(trecho), std::string::npos) << trecho << "\n" << erro;
    EXPECT_EQ(Exata(), depois);
    EXPECT_EQ(Diario("ESTORNO_QUANDO"), u"<null>|<null>");

    EXPECT_EQ(EstornarImportacao(conexao, 2, false).lancamentos, 1);
    EXPECT_EQ(Exata(), antes);
    // What the first wrote was cleared by hand: there is nothing of it left to undo.
    const std::string depoisDoSegundo =
        MensagemDeErro([&] { EstornarImportacao(conexao, 1, false); });
    EXPECT_NE(depoisDoSegundo.find("servidor 123456-7: mudou desde a importação em COD1"),
              std::string::npos)
        << depoisDoSegundo;
    EXPECT_EQ(Exata(), antes);
}

// A backup restored with gbak gives the rows other keys: the undo finds each row by the servant's
// MATRICULA and the values the import wrote, and says plainly which it cannot find and why.
TEST_F(Importacao, EstornoDepoisDeRestaurarUmaCopia) {
    // Rows stored before the payroll's, deleted after the import: the restore packs the table and
    // every row the journal names moves.
    std::string antigas;
    for (int i = 0; i < 8; ++i)
        antigas += "INSERT INTO SFPDXX02JAN (MATRICULA, ATIVO) VALUES ('X0000" + std::to_string(i) +
                   "-0', 'F');";
    auto semAntigas = [](std::vector<std::vector<std::string>> linhas) {
        std::erase_if(linhas, [](const auto& l) { return l[0].starts_with("'X"); });
        return linhas;
    };
    struct Caso {
        std::string nome, alterar;
        std::vector<std::string> erro;  // empty: undone
    };
    for (const auto& c : std::vector<Caso>{
             {"linhas intactas", "", {}},
             {"linha alterada à mão",
              "update SFPDXX02JAN set VALOR4 = 149.99 where MATRICULA = '200000-1'",
              {"servidor 200000-1: mudou desde a importação em VALOR4"}},
             {"linha apagada",
              "delete from SFPDXX02JAN where MATRICULA = '200000-1'",
              {"O banco de dados foi restaurado de uma cópia de segurança depois da importação",
               "procurada pela matrícula do servidor e pelos valores que a importação gravou",
               "servidor 200000-1: não há linha com esta matrícula"}},
             {"servidor de três linhas, a lançada alterada",
              "update SFPDXX02JAN set VALOR1 = 1 where MATRICULA = '600000-5' and SALARIO = 1",
              {"O banco de dados foi restaurado",
               "servidor 600000-5: nenhuma das 3 linhas com esta matrícula guarda só o que a "
               "importação gravou"}},
         }) {
        SCOPED_TRACE(c.nome);
        Reiniciar(antigas + kFolha.substr(kFolha.find("INSERT INTO SFPDXX02JAN")));
        const auto antes = semAntigas(Exata());
        ASSERT_EQ(Rodar(RetornoPrincipal()), "");
        banco_.Executar("delete from SFPDXX02JAN where MATRICULA starting with 'X'");
        if (!c.alterar.empty()) banco_.Executar(c.alterar);
        Importacao::TearDown();
        const fs::path copia = banco_.Pasta() / "copia.fbk";
        const std::string gbak = "gbak -b -user SYSDBA '" + banco_.Arquivo().string() + "' '" +
                                 copia.string() + "' && gbak -rep -user SYSDBA '" + copia.string() +
                                 "' '" + banco_.Arquivo().string() + "'";
        ASSERT_EQ(std::system(gbak.c_str()), 0);
        fs::remove(copia);
        // The keys the journal kept no longer find their servants' rows.
        EXPECT_NE(banco_.Valor("select count(*) from KAVLO_LANCAMENTO l join SFPDXX02JAN f on "
                               "f.rdb$db_key = l.CHAVE_LINHA and f.MATRICULA = l.MATRICULA"),
                  u"3");
        const auto depois = Exata();
        const int32_t id = std::stoi(ParaUtf8(Diario("ID")));

        fb::Conexao conexao;
        AbrirBancoDaFolha(conexao, banco_.Caminho());
        if (c.erro.empty()) {
            EXPECT_EQ(EstornarImportacao(conexao, id, false).lancamentos, 3);
            EXPECT_EQ(Exata(), antes);
            continue;
        }
        const std::string erro = MensagemDeErro([&] { EstornarImportacao(conexao, id, false); });
        EXPECT_NE(erro.find("não foi estornada. Nada foi alterado."), std::string::npos) << erro;
        for (const auto& t : c.erro)
            EXPECT_NE(erro.find(t), std::string::npos) << t << "\n" << erro;
        EXPECT_EQ(Exata(), depois);
        EXPECT_EQ(Diario("ESTORNO_QUANDO"), u"<null>");
    }
}

// The lines not posted go back byte for byte as the return file has them: its encoding, its
// byte-order mark, each line's own line end; only the trailer is written anew, with the count and
// the total of the lines it closes, in the same encoding.
TEST_F(Importacao, LinhasRecusadasComoEstaoNoArquivo) {
    const std::u16string lancada = DeUtf8(Parcela("ANA", "123456-7", "35", "000000000060.00"));
    const std::u16string semMargem = DeUtf8(Parcela("CARLA", "300000-2", "41", "000000000010.00"));
    // A letter beyond ASCII in its name, so that each encoding writes it its own way.
    std::u16string desconhecida = DeUtf8(Parcela("JOSE", "999999-9", "44", "000000000040.00"));
    desconhecida[retorno::Nome.inicio + 2] = u'\u00C9';
    const std::u16string rodape = u"T0000000003XXX000000110000";
    const std::u16string novoRodape = u"T0000000002XXX000000050.00";
    auto utf16 = [](std::u16string_view t) {
        std::string r;
        for (const char16_t u : t) {
            r += static_cast<char>(u & 0xFF);
            r += static_cast<char>(u >> 8);
        }
        return r;
    };
    struct Caso {
        std::string nome, marca;
        std::function<std::string(std::u16string_view)> codificar;
        std::string fins[5];  // of the header, the three instalments and the trailer
    };
    for (const auto& c : std::vector<Caso>{
             {"Windows-1252, CR LF", "", ParaWindows1252, {"\r\n", "\r\n", "\r\n", "\r\n", "\r\n"}},
             {"UTF-8 com marca, LF, rodapé sem fim de linha",
              "\xEF\xBB\xBF",
              [](std::u16string_view t) { return ParaUtf8(t); },
              {"\n", "\n", "\n", "\n", ""}},
             {"UTF-16 LE, CR", "\xFF\xFE", utf16, {"\r", "\r", "\r", "\r", "\r"}},
             {"fins de linha misturados", "", ParaWindows1252, {"\r\n", "\n", "\r", "\n", "\r\n"}},
         }) {
        SCOPED_TRACE(c.nome);
        Reiniciar();
        auto fim = [&](size_t i) {
            return c.marca == "\xFF\xFE" ? utf16(DeWindows1252(c.fins[i])) : c.fins[i];
        };
        const std::u16string linhas[] = {DeUtf8(kCabecalho), lancada, semMargem, desconhecida,
                                         rodape};
        std::string arquivo = c.marca;
        for (size_t i = 0; i < 5; ++i) arquivo += c.codificar(linhas[i]) + fim(i);
        ASSERT_EQ(Rodar(arquivo), "");
        EXPECT_EQ(Coluna("COD1, VALOR1", "123456-7"), u"35|60");
        EXPECT_EQ(LerArquivo(saida_.Caminho() / "resultado.Recusadas.txt"),
                  c.marca + c.codificar(linhas[0]) + fim(0) + c.codificar(semMargem) + fim(2) +
                      c.codificar(desconhecida) + fim(3) + c.codificar(novoRodape) + fim(4));
    }
}
