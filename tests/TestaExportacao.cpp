// The three interchange files: field formats, record layouts, bytes on disk, and failures that
// leave the previous files as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "entry/ProcessoKavlo.h"
#include "export/ExportacaoKavlo.h"
#include "tests/TestaGeracaoFolha.h"
#include "tests/apoio/BancoTeste.h"
#include "util/Codificacao.h"
#include "util/Utils.h"

using namespace kavlo;
using namespace kavlo::teste;

namespace {

std::vector<std::u16string> Linhas(const std::function<void(const SaidaLinhas&)>& escrever) {
    std::vector<std::u16string> r;
    escrever([&](std::u16string_view l) { r.emplace_back(l); });
    return r;
}

const std::u16string Z = u"000000000000.00";  // a zero amount

std::u16string Repetir(const std::u16string& s, int n) {
    std::u16string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

TDMargem MargemBase() {
    TDMargem d;
    d.TipoRegistro = u"D";
    d.NomeServidor = u"MARIA";
    d.CPF = u"12345678909";
    d.Matricula = u"12345";
    d.CDCargo = u"7";
    d.NomeCargo = u"PROFESSOR";
    d.CDOrgao = u"1002";
    d.NomeOrgao = u"EDUCACAO";
    d.BancoServidor = u"1";
    d.AgenciaServidor = u"1234";
    d.AgenciaDigitoServidor = u"5";
    d.ContaServidor = u"12345678";
    d.ContaDigitoServidor = u"X";
    d.ValorMargem = 1234.5;
    d.DtInicioFuncao = CodificaData(2010, 1, 2);
    for (auto* f : {&d.Comissionado, &d.Temporario, &d.Aposentado, &d.Pensionista, &d.Suspenso,
                    &d.Estatutario, &d.EmpregadoPublico})
        *f = u"N";
    d.DescontoSindical = 35;
    return d;
}

}  // namespace

TEST(FormatosExportacao, CpfECodigos) {
    EXPECT_EQ(FormatarCpf(u"12345678909"), u"12345678909");
    EXPECT_EQ(FormatarCpf(u"123"), u"00000000123");
    EXPECT_EQ(FormatarCpf(u" 123 "), u"00000000123");
    EXPECT_EQ(MensagemDeErro([] { FormatarCpf(u"123.456.789-00"); }),
              "'123.456.789-00' não é um número inteiro");
    EXPECT_EQ(MensagemDeErro([] { FormatarCpf(u""); }), "'' não é um número inteiro");
    EXPECT_EQ(MensagemDeErro([] { FormatarCpf(std::u16string(u"1\r\n2\0", 5)); }),
              "'1\\x0D\\x0A2\\x00' não é um número inteiro");

    struct Caso {
        const char16_t* texto;
        int digitos;
        const char* saida;  // or the error
    };
    for (const auto& [texto, digitos, saida] : std::vector<Caso>{
             {u"12345", 15, "000000000012345"},
             {u"", 15, "000000000000000"},
             {u"  ", 8, "00000000"},
             {u"\t", 3, "000"},  // blank once control characters are trimmed
             {u"1", 3, "001"},
             {u"12345678", 20, "00000000000012345678"},
             {u"2147483647", 15, "000002147483647"},
             {u"-5", 8, "-00000005"},
             {u"1234", 3, "1234"},  // longer than its field: written whole
             {u"2147483648", 15,
              "'2147483648' excede o limite de um inteiro de 32 bits (2147483647)"},
             {u"12a", 8, "'12a' não é um número inteiro"},
         }) {
        std::string obtido;
        try {
            obtido = ParaUtf8(FormatarCodigo(texto, digitos));
        } catch (const std::exception& e) {
            obtido = e.what();
        }
        EXPECT_EQ(obtido, saida) << ParaUtf8(texto);
    }
    EXPECT_EQ(FormatarDataOuZeros(0), u"00000000");
    EXPECT_EQ(FormatarDataOuZeros(CodificaData(1980, 3, 1)), u"01031980");
}

TEST(FormatosExportacao, SeparadoresViramEspaco) {
    EXPECT_EQ(SemSeparadores(u"RUA A; CASA 2"), u"RUA A  CASA 2");
    EXPECT_EQ(SemSeparadores(u"A\r\nB\nC\rD"), u"A  B C D");
    EXPECT_EQ(SemSeparadores(u"Tab\tfica, vírgula também"), u"Tab\tfica, vírgula também");
}

// One margin record, then one field changed at a time: where it lands and what moves.
TEST(LayoutMargem, CamposECasosQueDeslocamALinha) {
    const auto linha = [](const TDMargem& d) {
        TMargem m;
        m.DMargem.push_back(d);
        return Linhas([&](const SaidaLinhas& s) { EscreverMargem(m, s); })[1];
    };
    const std::u16string base = linha(MargemBase());
    const std::u16string esperada =
        u"D" + AjustaTexto(u"MARIA", 40) + u"12345678909" + u"000000000012345" + u"00000007" +
        AjustaTexto(u"PROFESSOR", 30) + u"00001002" + AjustaTexto(u"EDUCACAO", 30) + u"001" +
        u"001234" + u"05" + u"00000000000012345678" + u"0X" + u"000000001234.50" + u"02012010" +
        u"00000000" + u"NNNNNNN" + Repetir(Z, 18) + u"000000000035.00";
    ASSERT_EQ(base, esperada);
    ASSERT_EQ(base.size(), 499u);
    ASSERT_EQ(std::u16string_view(kNome45).size(), 45u);

    struct Caso {
        const char* oque;
        std::function<void(TDMargem&)> mudar;
        size_t comprimento;
        int posicao;  // 1-based
        const char16_t* trecho;
    };
    for (const auto& [oque, mudar, comprimento, posicao, trecho] : std::vector<Caso>{
             {"nome de 45 cortado em 40", [](TDMargem& d) { d.NomeServidor = kNome45; }, 499, 2,
              u"MARIA APARECIDA DOS SANTOS OLIVEIRA FERN12345678909"},
             {"margem negativa ocupa 16", [](TDMargem& d) { d.ValorMargem = -1; }, 500, 177,
              u"-000000000001.0002012010"},
             {"meio centavo para cima", [](TDMargem& d) { d.ValorMargem = 0.125; }, 499, 177,
              u"000000000000.13"},
             {"digito vazio recua", [](TDMargem& d) { d.AgenciaDigitoServidor = u""; }, 498, 153,
              u"000000000000012345678"},
             {"digito de dois avanca", [](TDMargem& d) { d.ContaDigitoServidor = u"10"; }, 500, 175,
              u"010000000001234.50"},
             {"flag vazia e flag longa",
              [](TDMargem& d) { d.Comissionado = u"", d.Suspenso = u"SIM"; }, 499, 208, u" NNNSNN"},
             {"data de fim", [](TDMargem& d) { d.DtFimFuncao = CodificaData(2024, 1, 15); }, 499,
              200, u"15012024"},
             {"separador no nome", [](TDMargem& d) { d.NomeServidor = u"A;B\nC"; }, 499, 2,
              u"A B C "},
         }) {
        TDMargem d = MargemBase();
        mudar(d);
        const std::u16string l = linha(d);
        EXPECT_EQ(l.size(), comprimento) << oque;
        EXPECT_EQ(l.substr(static_cast<size_t>(posicao - 1), std::u16string_view(trecho).size()),
                  trecho)
            << oque;
    }
}

TEST(LayoutMargem, RodapeSomaSemArredondarEContaDoModelo) {
    TMargem m;
    m.TTipoRegistro = u"T";
    m.TQuantidadeRegistro = 7;  // the model's count, not the lines written
    TDMargem d = MargemBase();
    d.ValorMargem = 0.005;  // each written as 0.01; the sum 0.01 is rounded once
    m.DMargem = {d, d};
    const auto linhas =
        Linhas([&](const SaidaLinhas& s) { EXPECT_EQ(EscreverMargem(m, s), 0.01); });
    ASSERT_EQ(linhas.size(), 4u);
    EXPECT_EQ(linhas[1].substr(176, 15), u"000000000000.01");
    EXPECT_EQ(linhas[3], u"T0000000007000000000000.01");
}

TEST(LayoutArquivos, CabecalhoRodapeEListasVazias) {
    TKAVLO k;
    k.Pessoas.HTipoRegistro = u"H";
    k.Pessoas.HConsignante = u"PREFEITURA";
    k.Pessoas.HLayout = u"PESSOAS";
    k.Pessoas.HFolha = CodificaData(2024, 3, 1);
    k.Pessoas.HDataGeracao = CodificaData(2024, 3, 5) + 0.75;
    k.Pessoas.TTipoRegistro = u"T";
    EXPECT_EQ(
        Linhas([&](const SaidaLinhas& s) { EscreverPessoas(k.Pessoas, s); }),
        (std::vector<std::u16string>{u"H" + AjustaTexto(u"PREFEITURA", 50) +
                                         AjustaTexto(u"PESSOAS", 30) + u"032024" + u"05032024",
                                     u"T0000000000"}));
    // Headers have no zero-date substitution; a consignor of 60 characters is cut to 50.
    k.Transferidos.HConsignante = std::u16string(60, u'X');
    k.Transferidos.TQuantidadeRegistros = 2;
    EXPECT_EQ(Linhas([&](const SaidaLinhas& s) { EscreverTransferidos(k.Transferidos, s); }),
              (std::vector<std::u16string>{
                  std::u16string(50, u'X') + Repetir(u" ", 30) + u"121899" + u"30121899",
                  u"0000000002"}));
    EXPECT_EQ(Linhas([&](const SaidaLinhas& s) { EscreverMargem(k.Margem, s); })[1],
              u"0000000000" + Z);
}

TEST(LayoutTransferidos, OrigemAntesDoDestino) {
    TTransferidos t;
    t.DTransferidos.push_back({u"D", u"ANA", u"123", u"12345", u"1002", u"12345", u""});
    const auto l = Linhas([&](const SaidaLinhas& s) { EscreverTransferidos(t, s); })[1];
    EXPECT_EQ(l, u"D" + AjustaTexto(u"ANA", 40) + u"00000000123" + u"000000000012345" +
                     u"00001002" + u"000000000012345" + u"00000000");
    t.DTransferidos[0].CPF = u"";
    EXPECT_EQ(
        MensagemDeErro([&] { Linhas([&](const SaidaLinhas& s) { EscreverTransferidos(t, s); }); }),
        "Transferidos.txt, linha 2: servidor 12345 (ANA): CPF '' não é um número inteiro");
    // A CR, LF or NUL of the data in the name, the CPF or the registration is shown as \xNN:
    // the message stays one line and is not cut.
    t.DTransferidos[0].NomeServidor = std::u16string(u"A\r\nB\0C", 6);
    t.DTransferidos[0].CPF = std::u16string(u"1\r\n2\0", 5);
    t.DTransferidos[0].CodigoMatriculaBeneficiarioOrigem = u"123\n45";
    EXPECT_EQ(
        MensagemDeErro([&] { Linhas([&](const SaidaLinhas& s) { EscreverTransferidos(t, s); }); }),
        "Transferidos.txt, linha 2: servidor 123\\x0A45 (A\\x0D\\x0AB\\x00C): CPF "
        "'1\\x0D\\x0A2\\x00' não é um número inteiro");
}

TEST(Exportar, Windows1252ComCrLfEPastaJuntadaComoTexto) {
    PastaTemporaria pasta;
    TProcessoKAVLO processo;
    TKAVLO k;
    k.Pessoas.HTipoRegistro = u"H";
    k.Pessoas.HConsignante = u"SÃO JOÃO Ł";  // no Windows-1252 byte for Ł: Windows writes L
    TDPessoas p;
    p.TipoRegistro = u"D";
    p.NomeCompleto = u"JOSÉ";
    k.Pessoas.DPessoas.push_back(p);
    // Without a closing separator the files land beside the folder, prefixed by its name.
    processo.CaminhoArquivo = DeUtf8((pasta.Caminho() / "saida").string());
    TExportacaoKAVLO().Exportar(k);
    const std::string pessoas = LerArquivo(pasta.Caminho() / "saidaPessoas.csv");
    EXPECT_EQ(pessoas.substr(0, 11), "HS\xC3O JO\xC3O L");
    EXPECT_EQ(pessoas.substr(95, 2), "\r\n");
    EXPECT_EQ(pessoas.substr(97),
              "D;;;;;;JOS\xC9;;;00000000;;;0;;;;;;;;;;;;;;;;;;;;;\r\n0000000000\r\n");
    EXPECT_TRUE(std::filesystem::exists(pasta.Caminho() / "saidaMargem.txt"));
    EXPECT_TRUE(std::filesystem::exists(pasta.Caminho() / "saidaTransferidos.txt"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(pasta.Caminho()), {}), 3);
}
