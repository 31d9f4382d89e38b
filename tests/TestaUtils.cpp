// Text helpers, encodings, dates, numbers and the return-file reader: pure functions, as tables.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "tests/apoio/BancoTeste.h"
#include "util/Codificacao.h"
#include "util/ConjuntoDeChaves.h"
#include "util/Datas.h"
#include "util/Erros.h"
#include "util/LeitorDeLinhas.h"
#include "util/Numeros.h"
#include "util/Observacao.h"
#include "util/Sha256.h"
#include "util/Utils.h"

using namespace kavlo;

TEST(Utils, RemoveCaracteresSegueARegraPosicaoAPosicao) {
    struct Caso {
        std::u16string texto, remover, esperado;
    };
    for (const auto& [texto, remover, esperado] : std::vector<Caso>{
             {u"12-3", u"-", u"123"},
             {u"a--b", u"-", u"a-b"},  // a run is thinned, not removed whole
             {u"---", u"-", u"-"},
             {u"----", u"-", u"--"},
             {u"1.234-5", u"-.", u"12345"},
             {u".-", u"-.", u"-"},  // "-" is not compared again after "." moved in
             {u"-12-", u"-", u"12"},
             {u"", u"-", u""},
             {u"12-3", u"", u"12-3"},
             {u"1234-5", u"-", u"12345"},
         })
        EXPECT_EQ(RemoveCaracteres(texto, remover), esperado) << ParaUtf8(texto);
}

TEST(Utils, AjustaTextoCortaOuCompleta) {
    struct Caso {
        std::u16string texto;
        int largura;
        std::u16string esperado;
    };
    for (const auto& [texto, largura, esperado] : std::vector<Caso>{
             {u"abc", 5, u"abc  "},
             {u"abcdef", 3, u"abc"},
             {u"", 2, u"  "},
             {u"abc", 3, u"abc"},
             {u"abc", 0, u""},
             {u"abc", -4, u""},
             {u"Conceição", 4, u"Conc"},
         })
        EXPECT_EQ(AjustaTexto(texto, largura), esperado);
}

TEST(Utils, EspacosIifEMeses) {
    EXPECT_EQ(Espacos(3), u"   ");
    EXPECT_EQ(Espacos(0), u"");
    EXPECT_EQ(Espacos(-2), u"");
    EXPECT_EQ(Iif(true, u"S", u"N"), u"S");
    EXPECT_EQ(Iif(false, u"S", u"N"), u"N");
    EXPECT_EQ(MesAbreviado(1), u"JAN");
    EXPECT_EQ(MesAbreviado(5), u"MAI");
    EXPECT_EQ(MesAbreviado(12), u"DEZ");
    for (int m : {0, 13, -1}) EXPECT_EQ(MesAbreviado(m), u"") << m;
}

TEST(Codificacao, Windows1252IdaEVolta) {
    const std::u16string texto = u"Conceição Ávila Ç € “aspas” Œ";
    const std::string bytes = ParaWindows1252(texto);
    EXPECT_EQ(bytes,
              "Concei\xE7\xE3o \xC1vila \xC7 \x80 \x93"
              "aspas\x94 \x8C");
    EXPECT_EQ(DeWindows1252(bytes), texto);
    // Without the bytes 0x80-0x9F the text takes the direct path; it must agree all the same.
    EXPECT_EQ(ParaWindows1252(u"Ação ÿ é"), "A\xE7\xE3o \xFF \xE9");
    EXPECT_EQ(DeWindows1252("A\xE7\xE3o \xFF \xE9"), u"Ação ÿ é");
    EXPECT_EQ(ParaWindows1252(u"\u0100"), "?");
    // Every byte reads as something and writes back as itself.
    std::string todos;
    for (int b = 0; b < 256; ++b) todos += static_cast<char>(b);
    EXPECT_EQ(ParaWindows1252(DeWindows1252(todos)), todos);
}

TEST(Codificacao, ForaDoWindows1252ViraInterrogacao) {
    EXPECT_EQ(ParaWindows1252(u"a\u4E2Db"), "a?b");
    EXPECT_EQ(ParaWindows1252(u"x\U0001F600y"), "x??y");  // one per code unit keeps fitted widths
    EXPECT_EQ(ParaWindows1252(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a?b");
}

namespace {
// The generated map itself, to hold the library to it.
#include "util/MelhorAjuste1252.inc"
}  // namespace

TEST(Codificacao, MelhorAjusteComoOWindowsGrava) {
    struct Caso {
        std::u16string texto;
        std::string bytes;
    };
    for (const auto& [texto, bytes] : std::vector<Caso>{
             {u"ŁUKASZ ŻÓŁKIEWSKI", "LUKASZ Z\xD3LKIEWSKI"},
             {u"YILMAZ IŞIK ÇAĞLAR İğdır",
              "YILMAZ ISIK \xC7"
              "AGLAR Igdir"},
             {u"Nguyễn Thị", "Nguy?n Th?"},  // no nearer letter: "?"
             {u"“aspas” ‘x’ – — ‐ −",
              "\x93"
              "aspas\x94 \x91x\x92 \x96 \x97 - -"},
             {u"∞ ＡＢＣ ½ Đ", "8 ABC \xBD \xD0"},
             {u"李小龍", "???"},
             {u"x\U0001F600y", "x??y"},  // one "?" per code unit keeps fitted widths
             {std::u16string(u"a") + char16_t(0xD800) + u"b" + char16_t(0xDC00), "a?b?"},
             // A combining accent alone is Windows' own spacing accent: the text is composed
             // before, so that E + U+0301 reaches here as É.
             {u"E\u0301 É", "E\xB4 \xC9"},
             // C1 controls: the five bytes Windows-1252 leaves undefined are their own; the rest
             // have a letter of the code page at their byte, and Windows writes "?".
             {u"\u0081\u008D\u0080\u009F", "\x81\x8D??"},
         })
        EXPECT_EQ(ParaWindows1252MelhorAjuste(texto), bytes) << ParaUtf8(texto);

    // Where the code page has the character, its exact byte; every byte reads back as itself.
    for (char32_t c = 0; c <= 0xFFFF; ++c) {
        const std::u16string unidade(1, static_cast<char16_t>(c));
        if (CabeEmWindows1252(unidade)) {
            ASSERT_EQ(ParaWindows1252MelhorAjuste(unidade), ParaWindows1252(unidade)) << int(c);
        }
    }
    std::string todos;
    for (int b = 0; b < 256; ++b) todos += static_cast<char>(b);
    EXPECT_EQ(ParaWindows1252MelhorAjuste(DeWindows1252(todos)), todos);
}

// The whole map the library writes with is the one scripts/gerar-melhor-ajuste.sh took from
// Windows' conversion: every code unit in order, against the checksum it recorded.
TEST(Codificacao, MapaDoMelhorAjusteEOGerado) {
    std::u16string unidades;
    for (char32_t c = 0; c <= 0xFFFF; ++c) unidades += static_cast<char16_t>(c);
    const std::string mapa = ParaWindows1252MelhorAjuste(unidades);
    ASSERT_EQ(mapa.size(), 65536u);
    EXPECT_EQ(Sha256(mapa), kSha256MelhorAjuste1252);
    // The exceptions, one per unit, in order, for the search to find them.
    for (size_t i = 1; i < std::size(kMelhorAjuste1252); ++i)
        EXPECT_LT(kMelhorAjuste1252[i - 1] >> 8, kMelhorAjuste1252[i] >> 8) << i;
}

TEST(Codificacao, ComporJuntaLetraEAcentos) {
    const auto u = [](std::initializer_list<char16_t> unidades) {
        return std::u16string(unidades);
    };
    struct Caso {
        std::u16string texto, composto;
    };
    for (const auto& [texto, composto] : std::vector<Caso>{
             {u"JOSE\u0301 DA CONCEIC\u0327A\u0303O", u"JOSÉ DA CONCEIÇÃO"},
             {u"NGUYE\u0302\u0303N", u"NGUYỄN"},
             // Marks in either order, as their classes put them: ệ.
             {u"e\u0323\u0302 e\u0302\u0323", u"\u1EC7 \u1EC7"},
             {u"\u1100\u1161", u"\uAC00"},  // Hangul jamo
             {u"\u212B", u"\u00C5"},        // the Ångström sign is the letter Å
             {u"\u0344", u"\u0308\u0301"},  // one unit becomes two: widths are counted after
             // Nothing to compose: unchanged.
             {u"", u""},
             {u"Ação “x” \U0001F600", u"Ação “x” \U0001F600"},
             {u"q\u0301", u"q\u0301"},
             // A lone surrogate or a noncharacter stays, and nothing composes across it.
             {u({u'E', 0xD800, 0x0301}), u({u'E', 0xD800, 0x0301})},
             {u({0xDC00, u'E', 0x0301, 0xD83D}), u({0xDC00, 0x00C9, 0xD83D})},
             {u({u'E', 0xFFFF, 0x0301, u'E', 0x0301}), u({u'E', 0xFFFF, 0x0301, 0x00C9})},
             {u({0xFDD0, u'E', 0x0301, 0xD83F, 0xDFFF}), u({0xFDD0, 0x00C9, 0xD83F, 0xDFFF})},
         })
        EXPECT_EQ(Compor(texto), composto) << ParaUtf8(texto);
}

TEST(Codificacao, Utf8IdaEVolta) {
    const std::u16string texto = u"Ação \U0001F600 \u20AC \uFFFF \U0010FFFF";
    EXPECT_EQ(ParaUtf8(texto),
              "A\xC3\xA7\xC3\xA3o \xF0\x9F\x98\x80 \xE2\x82\xAC \xEF\xBF\xBF \xF4\x8F\xBF\xBF");
    EXPECT_EQ(DeUtf8(ParaUtf8(texto)), texto);
    // A lone surrogate cannot be written in UTF-8.
    EXPECT_EQ(ParaUtf8(std::u16string(u"a") + char16_t(0xDC00) + char16_t(0xD800)),
              "a\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Codificacao, Utf8InvalidoViraSubstitutoSemPerderOQueVemDepois) {
    // One U+FFFD for each invalid byte, or for the valid beginning of a sequence cut short.
    for (const auto& [bytes, texto] : std::vector<std::pair<std::string, std::u16string>>{
             {"a\xFF"
              "b",
              u"a\uFFFDb"},
             {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong "/"
             {"\xED\xA0\x80x", u"\uFFFD\uFFFD\uFFFDx"},          // a surrogate written in UTF-8
             {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
             {"\xE2\x82", u"\uFFFD"},                            // cut at the end
             {"\xE2\x82x\xF0\x9F\x98", u"\uFFFDx\uFFFD"},
             {"\x80\x80", u"\uFFFD\uFFFD"},  // continuation bytes alone
         })
        EXPECT_EQ(DeUtf8(bytes), texto) << bytes;
}

TEST(Codificacao, ValorEmMensagemMostraCaracteresDeControle) {
    EXPECT_EQ(ParaMensagem(u"Jo\u00E3o"), "Jo\xC3\xA3o");
    EXPECT_EQ(ParaMensagem(std::u16string(u"a\0b\tc\r\n", 7)), "a\\x00b\\x09c\\x0D\\x0A");
    // DEL and the C1 controls (a NONE column's byte 0x81, a NEL) too; "…" and "€" are letters.
    EXPECT_EQ(ParaMensagem(u"\u007F\u0081\u0085\u009F\u00A0\u2026\u20AC"),
              "\\x7F\\x81\\x85\\x9F\xC2\xA0\xE2\x80\xA6\xE2\x82\xAC");
    // A value already in UTF-8 (a path on Linux) goes the same way; invalid bytes become U+FFFD.
    EXPECT_EQ(ParaMensagem(std::string_view("/tmp/a\nb\xFF")), "/tmp/a\\x0Ab\xEF\xBF\xBD");
}

TEST(Datas, ConversoesEMascaras) {
    EXPECT_EQ(CodificaData(1899, 12, 30), 0);
    EXPECT_EQ(CodificaData(2024, 3, 1), 45352);
    const auto c = DecodificaData(45352.75);
    EXPECT_EQ(c.ano, 2024);
    EXPECT_EQ(c.mes, 3);
    EXPECT_EQ(c.dia, 1);
    EXPECT_EQ(FormatarData(CodificaData(2024, 3, 1), u"ddmmyyyy"), u"01032024");
    EXPECT_EQ(FormatarData(CodificaData(2024, 3, 1), u"mmyyyy"), u"032024");
    EXPECT_EQ(FormatarData(CodificaData(2024, 2, 29), u"mm/dd/yyyy"), u"02/29/2024");
    EXPECT_EQ(FormatarData(0, u"ddmmyyyy"), u"30121899");
    EXPECT_EQ(LerData(u"01/3/2024"), CodificaData(2024, 3, 1));
    EXPECT_EQ(LerData(u"01/05/2024"), CodificaData(2024, 5, 1));
    for (auto ruim : {u"01//2024", u"01/13/2024", u"31/02/2024", u"", u"01/1/24x"}) {
        try {
            LerData(ruim);
            ADD_FAILURE() << ParaUtf8(ruim);
        } catch (const ErroConversao& e) {
            EXPECT_EQ(std::string(e.what()), "'" + ParaUtf8(ruim) + "' is not a valid date");
        }
    }
}

TEST(Datas, UltimoDiaMes) {
    struct Caso {
        TDateTime data, esperado;
    };
    for (const auto& [data, esperado] : std::vector<Caso>{
             {CodificaData(2024, 2, 1), CodificaData(2024, 2, 29)},
             {CodificaData(2023, 2, 1), CodificaData(2023, 2, 28)},
             {CodificaData(2024, 1, 15), CodificaData(2024, 1, 31)},
             {CodificaData(2024, 12, 1), CodificaData(2024, 12, 31)},
             {CodificaData(2024, 4, 30) + 0.5,
              CodificaData(2024, 4, 30) + 0.5},  // time of day kept
         })
        EXPECT_EQ(UltimoDiaMes(data), esperado);
}

TEST(Datas, FirebirdIdaEVolta) {
    int32_t dias;
    uint32_t fracoes;
    ParaDataFirebird(CodificaData(2024, 3, 1) + 0.25, dias, fracoes);
    EXPECT_EQ(dias, 45352 + 15018);
    EXPECT_EQ(fracoes, 216000000u);
    EXPECT_EQ(DeDataFirebird(dias, fracoes), CodificaData(2024, 3, 1) + 0.25);
}

TEST(Numeros, StrToIntAceitaSinalEBrancos) {
    EXPECT_EQ(StrToInt(u"12"), 12);
    EXPECT_EQ(StrToInt(u" 003 "), 3);
    EXPECT_EQ(StrToInt(u"-5"), -5);
    EXPECT_EQ(StrToInt(u"2147483647"), 2147483647);
    EXPECT_EQ(StrToInt(u"-2147483648"), INT32_MIN);
    for (auto ruim : {u"", u"  ", u"1a", u"2147483648", u"1.0", u"+", u"0x10"}) {
        try {
            StrToInt(ruim);
            ADD_FAILURE() << ParaUtf8(ruim);
        } catch (const ErroConversao& e) {
            EXPECT_EQ(std::string(e.what()),
                      "'" + ParaUtf8(ruim) + "' is not a valid integer value");
        }
    }
    EXPECT_EQ(StrToInt64(u"12345678901"), 12345678901);
}

TEST(Numeros, StrToFloatComVirgula) {
    struct Caso {
        std::u16string texto;
        double valor;
    };
    for (const auto& [texto, valor] : std::vector<Caso>{{u"000000000150,00", 150},
                                                        {u"150", 150},
                                                        {u" -2,5 ", -2.5},
                                                        {u"1e308", 1e308},
                                                        {u"1,5E-3", 0.0015},
                                                        {u",5", 0.5},
                                                        {u"5,", 5},
                                                        {u"-0", 0},
                                                        {u"1e-400", 0},
                                                        {u"9e-99999999999999999999", 0}})
        EXPECT_EQ(StrToFloat(texto), valor) << ParaUtf8(texto);
    for (auto ruim : {u"", u"1,234,56", u"1.5", u"abc", u"1e", u"1e400", u"- 1", u"1 000",
                      u"-1e99999999999999999999"}) {
        try {
            StrToFloat(ruim);
            ADD_FAILURE() << ParaUtf8(ruim);
        } catch (const ErroConversao& e) {
            EXPECT_EQ(std::string(e.what()),
                      "'" + ParaUtf8(ruim) + "' is not a valid floating point value");
        }
    }
}

TEST(Numeros, FormatoDeValor) {
    struct Caso {
        double valor;
        std::u16string texto;
    };
    for (const auto& [valor, texto] : std::vector<Caso>{
             {1234.5, u"000000001234.50"},
             {0.125, u"000000000000.13"},  // half away from zero
             {-0.125, u"-000000000000.13"},
             {1.005, u"000000000001.00"},  // 1.00499999999999989... as a double
             {2.675, u"000000000002.67"},
             {0.005, u"000000000000.01"},
             {0.0049, u"000000000000.00"},
             {-1, u"-000000000001.00"},
             {-0.001, u"000000000000.00"},
             {0, u"000000000000.00"},
             {999999999999.996, u"1000000000000.00"},
             {999999999999.995, u"999999999999.99"},  // the double lies just below the half
             {1e12, u"1000000000000.00"},
             {150, u"000000000150.00"},
             {0.1 + 0.2, u"000000000000.30"},
         })
        EXPECT_EQ(FormatarValor(valor), texto) << valor;
}

TEST(Numeros, FormatoGeral) {
    struct Caso {
        double valor;
        std::u16string texto;
    };
    for (const auto& [valor, texto] : std::vector<Caso>{
             {150, u"150"},
             {150.5, u"150,5"},
             {1234.56, u"1234,56"},
             {0.1, u"0,1"},
             {-20, u"-20"},
             {0, u"0"},
             {100, u"100"},
             {0.1 + 0.2, u"0,3"},
             {123456789012345.0, u"123456789012345"},
             {1e15, u"1E15"},
             {0.00001, u"0,00001"},
             {0.0000015, u"1,5E-6"},
         })
        EXPECT_EQ(FormatarGeral(valor), texto) << valor;
}

TEST(Numeros, ZerosECodigo) {
    EXPECT_EQ(FormatarZeros(12345, 15), u"000000000012345");
    EXPECT_EQ(FormatarZeros(-5, 3), u"-005");
    EXPECT_EQ(FormatarZeros(123456, 3), u"123456");
    EXPECT_EQ(IifValor(false, u"abc"), 0);
    EXPECT_EQ(IifValor(true, u" 42 "), 42);
    EXPECT_EQ(IifValor(true, u"2147483647"), 2147483647);
    EXPECT_THROW(IifValor(true, u"2147483648"), ErroConversao);
    EXPECT_THROW(IifValor(true, u"12a"), ErroConversao);
}

TEST(Numeros, Centavos) {
    struct Caso {
        std::u16string texto;
        int64_t centavos;
    };
    for (const auto& [texto, centavos] : std::vector<Caso>{
             {u"0", 0},
             {u"12,345", 1235},
             {u"-12,345", -1235},  // halves away from zero, on both sides
             {u"12,3449999", 1234},
             {u" +1,5E2 ", 15000},
             {u"5E-3", 1},
             {u"4,99E-3", 0},
             {u"999999999999,99", 99999999999999},
             {u"0,1", 10},
         })
        EXPECT_EQ(CentavosDoTexto(texto), centavos) << ParaUtf8(texto);
    EXPECT_EQ(teste::MensagemDeErro([] { CentavosDoTexto(u"1,2,3"); }),
              "'1,2,3' is not a valid floating point value");
    EXPECT_NE(teste::MensagemDeErro([] { CentavosDoTexto(u"1E20"); }).find("excede"),
              std::string::npos);

    struct Real {
        double valor;
        int64_t centavos;
    };
    for (const auto& [valor, centavos] : std::vector<Real>{{100 - 99.9, 10},
                                                           {-477.21000000000026, -47721},
                                                           {0.125, 13},
                                                           {100.005, 10001},
                                                           {1e-300, 0},
                                                           {-0.0, 0},
                                                           {123456789.99, 12345678999}})
        EXPECT_EQ(CentavosDe(valor), centavos) << valor;
    EXPECT_THROW(CentavosDe(std::nan("")), ErroConversao);
    EXPECT_EQ(ReaisLegiveis(123456789), "1.234.567,89");
    EXPECT_EQ(ReaisLegiveis(-5), "-0,05");
    EXPECT_EQ(ReaisLegiveis(0), "0,00");
}

// Keys are compared code unit by code unit: a blank, a case or an accent makes another key.
TEST(Observacao, LinhaDeProgressoComTotalEEstimativa) {
    struct Caso {
        uint64_t contagem, total;
        double segundos;
        bool fim;
        std::string esperado;
    };
    for (const auto& c : std::vector<Caso>{
             {0, 0, 0, false, "Importando parcelas..."},
             {5000, 0, 3, false, "Importando parcelas... 5.000"},
             {0, 0, 0, true, "Importando parcelas... 0"},
             // Under a second: no estimate yet, it would be noise.
             {0, 95002, 0, false, "Importando parcelas... 0 de 95.002 (0 %)"},
             {5000, 95002, 0.5, false, "Importando parcelas... 5.000 de 95.002 (5 %)"},
             {5000, 95002, 2, false,
              "Importando parcelas... 5.000 de 95.002 (5 %), faltam cerca de 36 s"},
             {1000, 1000000, 2, false,
              "Importando parcelas... 1.000 de 1.000.000 (0 %), faltam cerca de 33 min 18 s"},
             {1000, 10000000, 10, false,
              "Importando parcelas... 1.000 de 10.000.000 (0 %), faltam cerca de 27 h 46 min"},
             {95002, 95002, 40, true, "Importando parcelas... 95.002 de 95.002 (100 %)"},
             {95001, 95002, 40, false,
              "Importando parcelas... 95.001 de 95.002 (99 %), faltam menos de 1 s"},
             // More than announced: never past 100 %, and no estimate.
             {96000, 95002, 40, false, "Importando parcelas... 96.000 de 95.002 (100 %)"},
         })
        EXPECT_EQ(LinhaDeProgresso("Importando parcelas", c.contagem, c.total, c.segundos, c.fim),
                  c.esperado);
}

TEST(ConjuntoDeChaves, AchaCadaChaveExataEGuardaOMaiorNumero) {
    ConjuntoDeChaves c;
    c.Incluir(u"123-4", 7);
    c.Incluir(u"99-1", 2);
    c.Incluir(u"123-4", 3);
    c.Incluir(u"", 1);
    c.Incluir(u"JOSÉ", 5);
    c.Incluir(u"99-1", 9);
    c.Incluir(u"99-1", 8);  // right after itself, as a servant's lines come
    c.Incluir(u"99-1", 9);
    EXPECT_THROW(c.Indice(u"123-4"), Erro);  // not sorted yet
    c.Fechar();
    EXPECT_THROW(c.Incluir(u"1-1"), Erro);
    ASSERT_EQ(c.Tamanho(), 4u);
    const struct {
        std::u16string chave;
        std::optional<uint32_t> valor;
    } casos[] = {{u"123-4", 7}, {u"99-1", 9},  {u"", 1},      {u"JOSÉ", 5}, {u"123-4 ", {}},
                 {u"123-", {}}, {u"JOSE", {}}, {u"josé", {}}, {u"0", {}},   {u"ZZZ", {}}};
    for (const auto& caso : casos) {
        SCOPED_TRACE(ParaUtf8(caso.chave));
        const auto i = c.Indice(caso.chave);
        ASSERT_EQ(i.has_value(), caso.valor.has_value());
        if (!i) continue;
        EXPECT_EQ(c.Chave(*i), caso.chave);
        EXPECT_EQ(c.Valor(*i), *caso.valor);
    }
    ConjuntoDeChaves vazio;
    vazio.Fechar();
    EXPECT_FALSE(vazio.Contem(u""));
}

TEST(Sha256, VetoresConhecidos) {
    EXPECT_EQ(Sha256(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // Piece by piece, across the 64-byte blocks of the algorithm, and again after a result.
    Sha256Incremental h;
    for (int i = 0; i < 1000; ++i) h.Acrescentar(std::string(i % 7 == 0 ? 1000 : 0, 'a'));
    EXPECT_EQ(h.Concluir(), Sha256(std::string(143000, 'a')));
    h.Acrescentar("a");
    h.Acrescentar("bc");
    EXPECT_EQ(h.Concluir(), Sha256("abc"));
    EXPECT_EQ(h.Concluir(), Sha256(""));
}

namespace {

// Reads `bytes` in blocks of every small size and of the default one: the lines, the error and the
// hash of every byte must not depend on where the blocks end (a CR LF, a UTF-8 letter, a UTF-16
// code unit or the bytes after a NUL split between two blocks).
void LerEmBlocos(const std::string& bytes, const std::vector<std::u16string>& linhas,
                 const std::string& erro = {}) {
    for (size_t bloco : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, LeitorDeLinhas::kBloco}) {
        SCOPED_TRACE("bloco " + std::to_string(bloco));
        LeitorDeLinhas leitor = LeitorDeLinhas::DeBytes(bytes, bloco);
        std::vector<std::u16string> lidas;
        try {
            for (std::u16string linha; leitor.Proxima(linha);) lidas.push_back(linha);
            EXPECT_TRUE(erro.empty()) << "sem o erro " << erro;
        } catch (const ErroArquivo& e) {
            EXPECT_NE(std::string(e.what()).find(erro), std::string::npos) << e.what();
            if (erro.empty()) ADD_FAILURE() << e.what();
        }
        if (erro.empty()) {
            EXPECT_EQ(lidas, linhas);
        }
        EXPECT_EQ(leitor.Hash(), Sha256(bytes));
        leitor.Rebobinar();  // a second pass reads the same
        if (erro.empty()) {
            std::vector<std::u16string> denovo;
            for (std::u16string linha; leitor.Proxima(linha);) denovo.push_back(linha);
            EXPECT_EQ(denovo, linhas);
            EXPECT_EQ(leitor.Lidas(), linhas.size());
            EXPECT_EQ(leitor.Hash(), Sha256(bytes));
        }
    }
}

}  // namespace

TEST(ArquivoRetorno, NulSeguidoDeTextoRecusaOArquivo) {
    // What follows the NUL would be instalments lost without a word.
    for (const auto& [bytes, linha] : std::vector<std::pair<std::string, std::string>>{
             {std::string("ab\0cd\r\nef", 9), "linha 1 "},
             {std::string("H\r\nD1\r\nD2\0\r\nD3\r\nT\r\n", 19), "linha 3 "},
             {std::string("H\rD\nx\0T", 8), "linha 3 "},
             // Decided on the code units before decoding: UTF-8 and UTF-16 alike.
             {std::string("\xEF\xBB\xBF\xC3\xA3\r\n\0\xFF", 9), "linha 2 "},
             {std::string("\xFF\xFEH\0\n\0\0\0T\0", 10), "linha 2 "},
             {std::string("\xFE\xFF\0H\0\0\0\r\x4E\x2D", 10), "linha 1 "}}) {
        try {
            LinhasDoTexto(bytes);
            ADD_FAILURE() << bytes;
        } catch (const ErroArquivo& e) {
            EXPECT_NE(std::string(e.what()).find("NUL na " + linha), std::string::npos) << e.what();
        }
        LerEmBlocos(bytes, {}, "NUL na " + linha);
    }
}

// Each line's own bytes and line end, and the mark before them, give the text back whole: a CR LF
// split between two blocks is one line end, a lone CR or LF its own.
TEST(ArquivoRetorno, BytesDeCadaLinhaComSeuFim) {
    for (const std::string& bytes : std::vector<std::string>{
             "a\r\nb\nc\rd",
             "a\r\r\nb\n\r",
             "\xEF\xBB\xBFJo\xC3\xA3o\r\nx\n",
             std::string("\xFF\xFEJ\0\r\0\n\0x\0\r\0y\0", 14),
             std::string("\xFE\xFF\0J\0\r\0\r\0\n", 10),
         }) {
        for (size_t bloco : {size_t{1}, size_t{2}, size_t{3}, LeitorDeLinhas::kBloco}) {
            SCOPED_TRACE(bytes + " bloco " + std::to_string(bloco));
            LeitorDeLinhas leitor = LeitorDeLinhas::DeBytes(bytes, bloco);
            std::string refeito;
            for (std::u16string linha; leitor.Proxima(linha);) {
                if (refeito.empty()) refeito = leitor.Marca();
                refeito += std::string(leitor.BytesDaLinha()) + std::string(leitor.FimDaLinha());
                EXPECT_EQ(leitor.Codificar(linha), leitor.BytesDaLinha());
            }
            EXPECT_EQ(refeito, bytes);
        }
    }
}

TEST(ArquivoRetorno, MarcasDeOrdemEFinsDeLinha) {
    struct Caso {
        std::string bytes;
        std::vector<std::u16string> linhas;
    };
    for (const auto& [bytes, linhas] : std::vector<Caso>{
             {"", {}},
             {"a\r\nb\r\n", {u"a", u"b"}},
             {"a\rb\nc", {u"a", u"b", u"c"}},
             {"a\r\n\r\nb", {u"a", u"", u"b"}},
             {"a\n\n", {u"a", u""}},
             {"\n", {u""}},
             {"a\r", {u"a"}},
             {"a\r\r\nb", {u"a", u"", u"b"}},
             {std::string("ab\0\0 \r\n\0", 8), {u"ab"}},  // padding after a NUL is dropped
             {"Jo\xE3o", {u"João"}},                      // no mark: Windows-1252
             {"\xEF\xBB\xBFJo\xC3\xA3o\r\n", {u"João"}},  // UTF-8 mark
             {"Jo\xC3\xA3o", {u"Jo\u00C3\u00A3o"}},       // UTF-8 without mark reads as 1252
             {std::string("\xFF\xFEJ\0\xE3\0\r\0\n\0x\0", 12), {u"J\u00E3", u"x"}},  // UTF-16 LE
             {std::string("\xFE\xFF\0J\0\xE3\0\n", 8), {u"J\u00E3"}},                // UTF-16 BE
             {std::string("\xFF\xFE"
                          "a\0\0\0\r\0",
                          8),
              {u"a"}},                         // NUL ends the text
             {"\xEF\xBB", {u"\u00EF\u00BB"}},  // a mark cut short is text
             {"\xFF\xFE", {}},                 // a mark and nothing
             {std::string("\xFF\xFE"
                          "a\0b",
                          5),
              {u"a"}},  // a last byte short of a code unit
             {"\xEF\xBB\xBF\xE2\x82\r\n\xC3", {u"\uFFFD", u"\uFFFD"}},  // cut letters
             // Unicode lines are composed: an accent written apart is part of its letter.
             {"\xEF\xBB\xBFJOSE\xCC\x81\r\nA\xCC\x83O", {u"JOSÉ", u"ÃO"}},
             {std::string("\xFF\xFE"
                          "E\0\x01\x03\r\0\n\0",
                          8),
              {u"É"}},
         }) {
        EXPECT_EQ(LinhasDoTexto(bytes), linhas) << bytes;
        LerEmBlocos(bytes, linhas);
    }
}
