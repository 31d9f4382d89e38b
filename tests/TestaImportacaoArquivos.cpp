// The import's pure steps: reading fields of a return line, deciding an instalment, and building
// the result line, the report entries and the report's place.
#include <gtest/gtest.h>

#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/LinhaRetorno.h"

#include <functional>

#include "dao/BancoFolha.h"
#include "import/ArquivoResultado.h"
#include "import/ArquivoRetorno.h"
#include "import/ArquivosDaImportacao.h"
#include "import/Lancamento.h"
#include "import/RelatorioSemMargem.h"
#include "util/Codificacao.h"
#include "util/Numeros.h"

using namespace kavlo;
using kavlo::teste::LinhaDeRetorno;
using kavlo::teste::MensagemDeErro;
using kavlo::teste::Por;

namespace {

std::u16string LinhaCom(Posicao p, std::u16string_view texto) {
    std::u16string l;
    Por(l, p, texto);
    return l;
}

// A complete 197-character instalment line with a distinct text in every field.
std::u16string Detalhe(std::u16string_view parcela) {
    return LinhaDeRetorno<char16_t>({{retorno::Tipo, u"D"},
                                     {retorno::Nome, u"MARIA DA SILVA"},
                                     {retorno::Cpf, u"12345678901"},
                                     {retorno::Registro, u"000000001234567"},
                                     {retorno::Contrato, u"ABCDEFGH"},
                                     {retorno::Proposta, u"CONTR1"},
                                     {retorno::Reservado82, u"xxxxxx"},  // never read
                                     {retorno::CampoCodigo, u"35ZZZZZZ"},
                                     {retorno::Parcela, parcela},
                                     {retorno::ValorTotal, u"000000000300.00"},
                                     {retorno::ContadorPerc, u"003"},
                                     {retorno::ContadorQuant, u"010"},
                                     {retorno::DataContrato, u"AB240131"}});
}

}  // namespace

TEST(ArquivoRetorno, ChaveDoServidor) {
    EXPECT_EQ(ChaveServidor(LinhaCom(retorno::Registro, u"000000001234567")), u"123456-7");
    EXPECT_EQ(ChaveServidor(LinhaCom(retorno::Registro, u"000000000012345")), u"001234-5");
    EXPECT_EQ(ChaveServidor(LinhaCom(retorno::Registro, u"00000000abc12 X")),
              u"abc12 -X");  // nothing trimmed
    EXPECT_EQ(ChaveServidor(u""), u"-");
    EXPECT_EQ(ChaveServidor(LinhaCom(retorno::MatriculaNumero, u"1234")), u"1234-");
}

TEST(ArquivoRetorno, ParcelaEContadores) {
    struct Caso {
        std::u16string campo;
        double valor;
        int64_t centavos;
    };
    for (const auto& [campo, valor, centavos] :
         std::vector<Caso>{{u"000000000150.00", 150, 15000},
                           {u"000000000150,00", 150, 15000},
                           {u"  150.5", 150.5, 15050},
                           {u"1.5E2", 150, 15000},
                           {u"-000000000001.00", -1, -100},
                           // Cents from the digits as written, halves away from zero.
                           {u"00000000012.345", 12.345, 1235},
                           {u"00000000012.344", 12.344, 1234},
                           {u"00000000000.005", 0.005, 1},
                           {u"0.0049999", 0.0049999, 0},
                           {u"-0.005", -0.005, -1},
                           {u"1.2345E1", 12.345, 1235},
                           {u"99.995", 99.995, 10000},
                           {u"1e-300", 1e-300, 0}}) {
        EXPECT_DOUBLE_EQ(LerParcela(LinhaCom(retorno::Parcela, campo)), valor) << ParaUtf8(campo);
        EXPECT_EQ(LerParcelaCentavos(LinhaCom(retorno::Parcela, campo)), centavos)
            << ParaUtf8(campo);
    }
    // Only the first "." becomes ","; the message quotes the text after that replacement.
    EXPECT_EQ(MensagemDeErro([] { LerParcela(LinhaCom(retorno::Parcela, u"1.234.56")); }),
              "'1,234.56' is not a valid floating point value");
    EXPECT_EQ(MensagemDeErro([] { LerParcela(LinhaCom(retorno::Tipo, u"D")); }),
              "'' is not a valid floating point value");

    const std::u16string l = LinhaCom(retorno::Contadores, u" 3\t010");
    EXPECT_EQ(LerContador(l, retorno::ContadorPerc), 3);
    EXPECT_EQ(LerContador(l, retorno::ContadorQuant), 10);
    EXPECT_EQ(MensagemDeErro([] {
                  LerContador(LinhaCom(retorno::ContadorQuant, u"1O"), retorno::ContadorQuant);
              }),
              "'1O' is not a valid integer value");
    EXPECT_EQ(CodigoDesconto(LinhaCom(retorno::CampoCodigo, u" 5ZZZZZ")), u"5");
    EXPECT_EQ(CodigoDesconto(LinhaCom(retorno::CampoCodigo, u"  ZZZZZ")), u"");
}

TEST(Lancamento, DecisaoPorModo) {
    struct Caso {
        bool estrito;
        int64_t margem, parcela;  // cents
        Resultado resultado;
        int64_t descontado, resto, novaMargem;
    };
    for (const auto& c : std::vector<Caso>{
             {true, 15000, 15000, Resultado::Integral, 15000, 0, 0},  // exactly covered
             {true, 10000, 6000, Resultado::Integral, 6000, 0, 4000},
             {true, 4000, 6000, Resultado::NaoDescontado, 0, 6000, 4000},
             {true, 10, 10, Resultado::Integral, 10, 0, 0},  // 0,10 left, 0,10 asked
             {true, 9, 10, Resultado::NaoDescontado, 0, 10, 9},
             {true, 0, 0, Resultado::Integral, 0, 0, 0},
             {true, -500, 0, Resultado::NaoDescontado, 0, 0, -500},
             {false, 4000, 6000, Resultado::Integral, 6000, 0,
              -2000},                                      // lenient: whole, whatever the margin
             {false, 0, 0, Resultado::Integral, 0, 0, 0},  // not the whole margin for a 0
             {false, 10000, 0, Resultado::Integral, 0, 0, 10000},
         }) {
        const Desfecho d = Decidir(c.estrito, c.margem, c.parcela);
        EXPECT_EQ(d.resultado, c.resultado) << c.estrito << " " << c.margem << " " << c.parcela;
        EXPECT_EQ(d.descontado, c.descontado);
        EXPECT_EQ(d.resto, c.resto);
        EXPECT_EQ(d.novaMargem, c.novaMargem);
    }
}

TEST(Lancamento, PrimeiroSlotLivrePulaODez) {
    LinhaDeducao l;
    EXPECT_EQ(PrimeiroSlotLivre(l), 1);
    for (int n = 1; n <= 9; ++n) l.ocupados |= 1u << n;
    EXPECT_EQ(PrimeiroSlotLivre(l), 11);
    for (int n = 11; n <= 17; ++n) l.ocupados |= 1u << n;
    EXPECT_EQ(PrimeiroSlotLivre(l), 0);  // slot 10 free does not count
    l.ocupados |= 1u << 10;
    l.ocupados &= ~(1u << 14);
    EXPECT_EQ(PrimeiroSlotLivre(l), 14);
}

TEST(ArquivoResultado, LinhaCompletaPecaAPeca) {
    const Situacao ativo{u"", u"ATIVO"};
    const std::u16string l = Detalhe(u"000000000150.00");
    const std::u16string esperado = std::u16string(u"D") +
                                    u"MARIA DA SILVA                          "  // 2-41
                                    u"12345678901"                               // 42-52
                                    u"000000001234567"                           // 53-67
                                    u"ABCDEFGH"                                  // 68-75
                                    u"CONTR1"                                    // 76-81
                                    u"35ZZZZZZ"                                  // 82-89 from 88-95
                                    u"                    "                      // 90-109
                                    u"EMPRESTIMO     "                           // 110-124
                                    u"               "                 // 125-139 no marker
                                    u"000000000150.00"                 // 140-154
                                    u"000000000300.00"                 // 155-169
                                    u"003010"                          // 170-175
                                    u"240131"                          // 176-181 from 192-197
                                    u"AB240131AB240131"                // 182-197 twice 190-197
                                    u"000000000150.00"                 // 198-212 as received
                                    u"   "                             // 213-215 code
                                    u"ATIVO                         "  // 216-245
                                    u"000000000000.00";                // 246-260 remainder
    EXPECT_EQ(LinhaResultado(l, {Resultado::Integral, 15000, 0, 0}, ativo), esperado);
    EXPECT_EQ(esperado.size(), 260u);
}

TEST(ArquivoResultado, DesfechosNasPosicoes) {
    const Situacao demitido{u"022", u"Demissão"};
    struct Caso {
        std::u16string parcela;
        Desfecho desfecho;
        std::u16string marcador, descontado, resto;
    };
    for (const auto& c : std::vector<Caso>{
             // Posted whole as received with ",": the deducted value repeats it exactly.
             {u"150,00",
              {Resultado::Integral, 15000, 0, 0},
              u"               ",
              u"150,00         ",
              u"000000000000.00"},
             {u"000000000150.50",
              {Resultado::NaoDescontado, 0, 15050, 1000},
              u" NÃO DESCONTADO",
              u"000000000000.00",
              u"000000000150.50"},
             {u"000000000100.00",
              {Resultado::Parcial, 4000, 6000, 0},
              u"               ",
              u"000000000040.00",
              u"000000000060.00"},
             {u"000000000020.00",
              {Resultado::SemSlot, 0, 2000, 500},
              u" NÃO DESCONTADO",
              u"000000000000.00",
              u"000000000020.00"},
         }) {
        const std::u16string r = LinhaResultado(Detalhe(c.parcela), c.desfecho, demitido);
        ASSERT_EQ(r.size(), 260u);
        EXPECT_EQ(r.substr(124, 15), c.marcador) << ParaUtf8(c.parcela);
        EXPECT_EQ(r.substr(197, 15), c.descontado) << ParaUtf8(c.parcela);
        EXPECT_EQ(r.substr(212, 33), u"022Demissão                      ");
        EXPECT_EQ(r.substr(245), c.resto) << ParaUtf8(c.parcela);
    }
    // A line of 180 characters still gives 260; what lies beyond its end is blank.
    const std::u16string curta = Detalhe(u"000000000150.00").substr(0, 180);
    const std::u16string r = LinhaResultado(curta, {Resultado::Integral, 15000, 0, 0}, demitido);
    ASSERT_EQ(r.size(), 260u);
    EXPECT_EQ(r.substr(175, 22), std::u16string(22, u' '));
    EXPECT_EQ(r.substr(169, 6), u"003010");
}

TEST(ArquivoResultado, CabecalhoERodape) {
    std::u16string l(100, u'.');
    Por(l, retorno::CabTipo, u"H");
    Por(l, retorno::CabTexto, u"PREFEITURA");
    Por(l, retorno::CabData, u"31012024");
    Por(l, Posicao{retorno::CabTexto.inicio + 10, 10},
        u"0000000012");  // 12-21, never read by the header
    const std::u16string cab = CabecalhoResultado(l, u"012024");
    EXPECT_EQ(cab, u"H" + l.substr(1, 50) + u"RETORNO" + std::u16string(23, u' ') + u"012024" +
                       u"31012024");
    EXPECT_EQ(cab.size(), 95u);
    // Trailer: "T", then 2-11 and 15-26 of the line.
    const std::u16string rod = RodapeResultado(u"X0000000003XYZ000000045000ignored");
    EXPECT_EQ(rod, u"T0000000003000000045000");
    EXPECT_EQ(RodapeResultado(u""), u"T" + std::u16string(22, u' '));
}

TEST(RelatorioSemMargem, Entradas) {
    const std::u16string l = LinhaCom(retorno::Nome, u"JOSÉ DAS NEVES");
    // Margin 100 and instalment 150.5: general format with ",", each fitted to 15.
    EXPECT_EQ(EntradaNaoImportado(u"123456-7", l, 10000, 15050),
              u"123456-7 - SERVIDOR: JOSÉ DAS NEVES                          "
              u" POSSUE DE MARGEM: R$100            "
              u" E PARCELA DE: R$150,5          "
              u" EMPRÉSTIMO NÃO IMPORTADO!");
    // The posted value closes the proportional entry unpadded.
    EXPECT_EQ(EntradaProporcional(u"123456-7", u"", 4000, 10000, 4025),
              u"123456-7 - SERVIDOR: " + std::u16string(40, u' ') +
                  u" POSSUE DE MARGEM: R$40             "
                  u" E PARCELA DE: R$100            "
                  u" EMPRÉSTIMO IMPORTADO COM VALOR PROPORCIONAL DE R$40,25");
    // A margin that binary arithmetic left as 0.0999999999999943 is shown as the 10 cents it is.
    EXPECT_NE(EntradaNaoImportado(u"1", u"", CentavosDe(100 - 99.9), 2000).find(u"R$0,1 "),
              std::u16string::npos);
    // Windows-1252 holds every letter of the fixed texts.
    EXPECT_EQ(ParaWindows1252(EntradaNaoImportado(u"1", u"", 0, 0)).find('?'), std::string::npos);
}

TEST(RelatorioSemMargem, LugarDoRelatorio) {
    struct Caso {
        std::u16string banco, resultado, relatorio;
    };
    for (const auto& [banco, resultado, relatorio] : std::vector<Caso>{
             {u"C:\\Dados\\FOLHA.FDB", u"D:\\saida\\res.txt",
              u"C:\\Dados\\ServidoresSemMargem.txt"},
             {u"/dados/folha.fdb", u"/saida/res.txt", u"/dados/ServidoresSemMargem.txt"},
             {u"C:FOLHA.FDB", u"/saida/res.txt", u"C:ServidoresSemMargem.txt"},
             {u"folha.fdb", u"/saida/res.txt", u"ServidoresSemMargem.txt"},
             // Still naming a server: the database's folder is on another machine.
             {u"servidor:/dados/folha.fdb", u"/saida/res.txt", u"/saida/ServidoresSemMargem.txt"},
             {u"LOCALHOST:C:\\dados\\f.fdb", u"C:\\saida\\res.txt",
              u"C:\\saida\\ServidoresSemMargem.txt"},
             {u"srv:/dados/folha.fdb", u"res.txt", u"ServidoresSemMargem.txt"},
         })
        EXPECT_EQ(CaminhoRelatorio(banco, resultado), relatorio) << ParaUtf8(banco);
}

// Every way the client takes to name a database leads the check to the file it names on the
// machine that serves it; the location itself, read as a path, is always among them.
TEST(BancoFolha, ArquivosQueUmLocalPodeNomear) {
    struct Caso {
        std::u16string local;
        std::vector<std::u16string> arquivos;
    };
    const std::u16string p = u"/dados/folha.fdb", w = u"C:\\Dados\\FOLHA.FDB";
    for (const auto& [local, arquivos] : std::vector<Caso>{
             {p, {p}},
             {w, {w}},
             {u"C:/Dados/FOLHA.FDB", {u"C:/Dados/FOLHA.FDB"}},  // a drive, not a host
             {u"c:FOLHA.FDB", {u"c:FOLHA.FDB"}},
             {u"localhost:" + p, {u"localhost:" + p, p}},
             {u"LocalHost:" + p, {u"LocalHost:" + p, p}},
             {u"127.0.0.1:" + p, {u"127.0.0.1:" + p, p}},
             {u"localhost/3050:" + p, {u"localhost/3050:" + p, p}},
             {u"servidor/gds_db:" + w, {u"servidor/gds_db:" + w, w}},
             {u"[::1]:" + p, {u"[::1]:" + p, p}},
             {u"[::1]/3051:" + w, {u"[::1]/3051:" + w, w}},
             {u"inet://localhost/" + p, {u"inet://localhost/" + p, p}},
             {u"INET://LOCALHOST:3050/" + p, {u"INET://LOCALHOST:3050/" + p, p}},
             {u"inet://" + p, {u"inet://" + p, p}},  // no host: this machine
             {u"inet4://127.0.0.1/" + w, {u"inet4://127.0.0.1/" + w, w}},
             {u"inet6://[::1]:3050/" + w, {u"inet6://[::1]:3050/" + w, w}},
             {u"inet://servidor/folha", {u"inet://servidor/folha", u"folha"}},
             {u"wnet://servidor/" + w, {u"wnet://servidor/" + w, w}},
             {u"xnet://" + w, {u"xnet://" + w, w}},
             {u"\\\\servidor\\" + w, {u"\\\\servidor\\" + w, w}},
             {u"//servidor/" + w, {u"//servidor/" + w, w}},
         })
        EXPECT_EQ(ArquivosPossiveisDoBanco(local), arquivos) << ParaUtf8(local);
}

// The tool writes the check's findings beside the result, the library the report's copy and the
// lines not posted; a simulation names every file so.
TEST(ArquivosDaImportacao, NomesDosArquivosEscritos) {
    const auto real = NomesDaImportacao(u"/dados/folha.fdb", u"/saida/r.txt", u"/in/t.txt", false);
    EXPECT_EQ(real.relatorio, u"/dados/ServidoresSemMargem.txt");
    EXPECT_EQ(real.verificacao, u"/saida/r.VERIFICACAO.txt");
    EXPECT_EQ(real.copiaRelatorio, u"/saida/r.SemMargem.txt");
    EXPECT_EQ(real.recusadas, u"/saida/r.Recusadas.txt");
    const auto simulada = NomesDaImportacao(u"srv:/dados/f.fdb", u"/saida/r.txt", u"t", true);
    EXPECT_EQ(simulada.resultado, u"/saida/r.SIMULACAO.txt");
    EXPECT_EQ(simulada.relatorio, u"/saida/ServidoresSemMargem.SIMULACAO.txt");
    EXPECT_EQ(simulada.verificacao, u"/saida/r.SIMULACAO.VERIFICACAO.txt");
    EXPECT_EQ(simulada.copiaRelatorio, u"/saida/r.SIMULACAO.SemMargem.txt");
    EXPECT_EQ(simulada.recusadas, u"/saida/r.SIMULACAO.Recusadas.txt");
    EXPECT_EQ(real.Papeis(false).size() + 1, real.Papeis(true).size());
}
