// The generation pass against a real payroll database: which column feeds which field, the code
// tables, the margin rule, the month tables and the errors an operator gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "dao/DaoKavlo.h"
#include "dao/DataInicioFuncao.h"
#include "entry/Conexao.h"
#include "entry/ProcessoKavlo.h"
#include "generation/GeracaoKavlo.h"
#include "generation/TabelasKavlo.h"
#include "tests/TestaGeracaoFolha.h"
#include "tests/apoio/BancoTeste.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Utils.h"

using namespace kavlo;
using namespace kavlo::teste;

namespace {

// A controller for January 2024 connected to `banco`.
struct Geracao {
    explicit Geracao(const BancoTeste& banco, std::u16string filtro = DeUtf8(kFiltroFolha)) {
        processo.MesAtual = u"1";
        processo.MesAnt = u"12";
        processo.Ano = u"2024";
        processo.CaminhoBanco = banco.Caminho();
        processo.SqlFiltro = std::move(filtro);
        processo.ConectarBanco();
    }
    ~Geracao() { dmConexao().fdConexao.Fechar(); }
    std::unique_ptr<TKAVLO> Gerar() { return TGeracaoKAVLO().Gerar(); }
    TProcessoKAVLO processo;
};

template <class D>
const D& Por(const std::vector<D>& lista, std::function<bool(const D&)> criterio) {
    auto it = std::find_if(lista.begin(), lista.end(), criterio);
    if (it == lista.end()) throw std::runtime_error("registro ausente");
    return *it;
}

}  // namespace

TEST(TabelasKavlo, CodigosTraduzidosEForaDaTabelaVazios) {
    struct Caso {
        int32_t codigo;
        const char16_t* estadoCivil;
        const char16_t* sexo;
        const char16_t* grau;
    };
    for (const auto& [codigo, estadoCivil, sexo, grau] : std::vector<Caso>{
             {-1, u"", u"", u""},
             {0, u"Outros", u"Outros", u"P"},
             {1, u"Solteiro", u"M", u"P"},
             {2, u"Casado", u"F", u"P"},
             {3, u"Divorciado", u"", u"P"},
             {4, u"Outros", u"", u"P"},
             {5, u"Viúvo", u"", u"MI"},
             {6, u"Desquitado e Outros", u"", u"M"},
             {7, u"", u"", u"SI"},
             {8, u"", u"", u"S"},
             {9, u"", u"", u"S"},
             {10, u"", u"", u""},
         }) {
        SCOPED_TRACE(codigo);
        EXPECT_EQ(Traduzir(EstadosCivis, codigo), estadoCivil);
        EXPECT_EQ(Traduzir(Sexos, codigo), sexo);
        EXPECT_EQ(Traduzir(GrausInstrucao, codigo), grau);
    }
}

TEST(TabelasKavlo, FlagVinculoComparaOCodigoComoTextoExato) {
    const std::vector<std::u16string> nomes = {u"Comissionado",    u"Temporario", u"Aposentado",
                                               u"Pensionista",     u"Suspenso",   u"Estatutario",
                                               u"EmpregadoPublico"};
    // Each code 1..7 sets exactly its own flag.
    for (size_t i = 0; i < nomes.size(); ++i)
        for (size_t j = 0; j < nomes.size(); ++j)
            EXPECT_EQ(FlagVinculo(nomes[j], std::u16string(1, char16_t(u'1' + i))),
                      i == j ? u"S" : u"N")
                << i << " " << j;
    for (const char16_t* codigo : {u"", u"0", u"8", u"05", u" 5", u"5 ", u"S"})
        for (const auto& nome : nomes) EXPECT_EQ(FlagVinculo(nome, codigo), u"N");
    EXPECT_EQ(FlagVinculo(u"suspenso", u"5"), u"N");  // the name is compared exactly too
}

TEST(TabelasKavlo, SoPartesDeA_BPassamSemTraducao) {
    for (const char16_t* passa : {u"A", u"B", u"_", u"A_", u"_B", u"A_B"})
        EXPECT_TRUE(PassaAB(passa));
    for (const char16_t* nao : {u"", u"a", u"AB", u"BA", u"A_B_", u"5", u" A"})
        EXPECT_FALSE(PassaAB(nao));
}

TEST(ConsultasKavlo, SufixoDoMes) {
    EXPECT_EQ(SufixoMes(u"1"), u"JAN");
    EXPECT_EQ(SufixoMes(u"05"), u"MAI");
    EXPECT_EQ(SufixoMes(u"12"), u"DEZ");
    EXPECT_EQ(MensagemDeErro([] { SufixoMes(u""); }), "'' is not a valid integer value");
    EXPECT_EQ(MensagemDeErro([] { SufixoMes(u"jan"); }), "'jan' is not a valid integer value");
    // A month without tables stops before the database is asked for tables named by the stem.
    EXPECT_EQ(MensagemDeErro([] { SufixoMes(u"13"); }),
              "Mês '13' inválido: informe o número do mês, de 1 a 12");
    EXPECT_EQ(MensagemDeErro([] { SufixoMes(u"0"); }),
              "Mês '0' inválido: informe o número do mês, de 1 a 12");
}

// The statements are the contract with the payroll database: these texts are what it receives.
TEST(ConsultasKavlo, TextosComSufixosEFiltro) {
    EXPECT_EQ(
        SqlPessoas(u"JAN", u"select matricula from SFP001JAN"),
        u"select p.*, b.nomebanco from SFP001JAN p, SFPDXX02JAN f, sfpd9911 b where p.matricula "
        u"= f.matricula and f.ativo = 'T' and p.banco = b.numbanco and p.matricula in (select "
        u"matricula from (select matricula from SFP001JAN))");
    EXPECT_EQ(
        SqlMargem(u"MAI", u"X"),
        u" select      f.*,      p.nome,      p.cpf,      p.sistema ,      p.funcao,      p.banco,"
        u"      p.agencia,      p.dvagencia,      p.conta,      p.dvconta,      p.dtadmissao,      "
        u"p.cdsecreta,      p.cdsetor,      f.matricula as fmatricula,      c.cargo,      "
        u"l.codorgao,      l.descricao as orgao,      v.id_vinculo,      v.config_kavlo  from      "
        u"sfp001MAI p,      sfpdxx02MAI f,      sfp005MAI c,      sfp006MAI l,      cfg_vincMAI v  "
        u"where      p.matricula = f.matricula and      p.funcao = c.codigo and      "
        u"p.cdsecreta||p.cdsetor = l.cdsecreta||l.cdsetor and      p.sistema = v.id_vinculo and    "
        u"  f.ativo = 'T' and      f.matricula in (select matricula from (X))");
    // January is compared with the December before it.
    EXPECT_EQ(
        SqlTransferidos(u"JAN", u"DEZ", u"X"),
        u"select pAtu.nome, pAtu.cpf, pAtu.matricula, pAtu.cdsecreta||pAtu.cdsetor as CodOrig, "
        u"pAnt.cdsecreta||pAnt.cdsetor as CodDest from sfp001JAN pAtu, sfp001DEZ pAnt, "
        u"sfpdxx02JAN f where pAtu.matricula = f.matricula and  f.ativo = 'T' and pAtu.matricula "
        u"= pAnt.matricula and pAtu.cdsecreta||pAtu.cdsetor <> pAnt.cdsecreta||pAnt.cdsetor and "
        u"pAtu.matricula in (select matricula from (X))");
    EXPECT_EQ(SqlCliente(), u"select DESCRICAO from SFP003");
}

TEST(GeracaoKavlo, CabecalhosEContagens) {
    BancoTeste banco(ScriptFolha());
    Geracao g(banco);
    auto k = g.Gerar();
    const std::u16string consignante =
        u"PREFEITURA MUNICIPAL DE SÃO JOÃO DO PARAÍSO - SECRETARIA DE ADMINISTRAÇÃO";
    EXPECT_EQ(k->Pessoas.HConsignante, consignante);
    EXPECT_EQ(k->Margem.HConsignante, consignante);
    EXPECT_EQ(k->Transferidos.HConsignante, consignante);
    EXPECT_EQ(k->Pessoas.HLayout, u"PESSOAS");
    EXPECT_EQ(k->Margem.HLayout, u"MARGEM");
    EXPECT_EQ(k->Transferidos.HLayout, u"TRANSFERIDOS");
    for (TDateTime folha : {k->Pessoas.HFolha, k->Margem.HFolha, k->Transferidos.HFolha})
        EXPECT_EQ(folha, CodificaData(2024, 1, 1));
    EXPECT_NEAR(k->Margem.HDataGeracao, Agora(), 1.0 / 24);
    // Inactive 4004 and filtered-out 5005 are in no file.
    EXPECT_EQ(k->Pessoas.DPessoas.size(), 3u);
    EXPECT_EQ(k->Pessoas.TQuantidade, 3);
    EXPECT_EQ(k->Margem.TQuantidadeRegistro, 3);
    EXPECT_EQ(k->Margem.TSomaRegistrosValorMargem, 0);  // the margin file sums for itself
    EXPECT_EQ(k->Transferidos.TQuantidadeRegistros, 1);
    for (const auto* t :
         {&k->Pessoas.TTipoRegistro, &k->Margem.TTipoRegistro, &k->Transferidos.TTipoRegistro})
        EXPECT_EQ(*t, u"T");
}

TEST(GeracaoKavlo, RegistrosDePessoas) {
    BancoTeste banco(ScriptFolha());
    Geracao g(banco);
    auto k = g.Gerar();
    const auto& jose =
        Por<TDPessoas>(k->Pessoas.DPessoas, [](const auto& p) { return p.CPF == u"12345678909"; });
    EXPECT_EQ(jose.NomeCompleto, u"JOSÉ DA CONCEIÇÃO");
    EXPECT_EQ(jose.EstadoCivil, u"Casado");
    EXPECT_EQ(jose.Sexo, u"M");
    EXPECT_EQ(jose.Formacao, u"MI");
    EXPECT_EQ(jose.DataNascimento, CodificaData(1980, 3, 1));
    EXPECT_EQ(jose.QuantidadeDependentes, 3);
    EXPECT_EQ(jose.NomeBancoContaSalario, u"BANCO DO BRASIL");
    EXPECT_EQ(jose.NumeroBancoContaSalario, u"1");
    EXPECT_EQ(jose.DigitoConta, u"X");
    EXPECT_EQ(jose.EnderecoComercial, u"");

    const auto& maria =
        Por<TDPessoas>(k->Pessoas.DPessoas, [](const auto& p) { return p.CPF == u"98765432100"; });
    EXPECT_EQ(maria.DataNascimento, 0);  // null birth date
    EXPECT_EQ(maria.EstadoCivil, u"Desquitado e Outros");
    EXPECT_EQ(maria.Sexo, u"F");
    EXPECT_EQ(maria.Formacao, u"");                  // schooling "A" passes untranslated
    EXPECT_EQ(maria.NomePai, u"PEDRO\r\nFERREIRA");  // the model keeps the payroll's text

    const auto& ana =
        Por<TDPessoas>(k->Pessoas.DPessoas, [](const auto& p) { return p.CPF == u"00123"; });
    EXPECT_EQ(ana.EstadoCivil, u"Outros");
    EXPECT_EQ(ana.Sexo, u"Outros");
    EXPECT_EQ(ana.Formacao, u"S");
}

TEST(GeracaoKavlo, RegistrosDeMargem) {
    BancoTeste banco(ScriptFolha());
    Geracao g(banco);
    auto k = g.Gerar();
    const auto& jose =
        Por<TDMargem>(k->Margem.DMargem, [](const auto& m) { return m.CPF == u"12345678909"; });
    EXPECT_EQ(jose.Matricula, u"12345");
    EXPECT_EQ(jose.CDCargo, u"10");
    EXPECT_EQ(jose.NomeCargo, u"PROFESSOR");
    EXPECT_EQ(jose.CDOrgao, u"01002");
    EXPECT_EQ(jose.NomeOrgao, u"SECRETARIA DE EDUCAÇÃO");
    EXPECT_EQ(jose.ValorMargem, 600);  // MCVALOR 50: 30% of MCBASEINCIDE 2000
    EXPECT_EQ(jose.DtInicioFuncao, CodificaData(2010, 1, 2));
    EXPECT_EQ(jose.DtFimFuncao, CodificaData(2024, 1, 15));  // sfp017 asked with "1234-5"
    EXPECT_EQ(jose.HoraExtra, 10.5);                         // VALEXTRA1 null
    EXPECT_EQ(jose.AdicionalNoturno, 0.125);
    EXPECT_EQ(jose.SalarioBruto, 3500.5);
    EXPECT_EQ(jose.Previdencia, 330);
    EXPECT_EQ(jose.DescontoSindical, 35);
    EXPECT_EQ(jose.Comissionado + jose.Temporario + jose.Aposentado + jose.Pensionista +
                  jose.Suspenso + jose.Estatutario + jose.EmpregadoPublico,
              u"NNSNNNN");

    const auto& maria =
        Por<TDMargem>(k->Margem.DMargem, [](const auto& m) { return m.Matricula == u"2001"; });
    EXPECT_EQ(maria.ValorMargem, 0);  // MCVALOR -0.01
    EXPECT_EQ(maria.DtInicioFuncao, 0);
    EXPECT_EQ(maria.DtFimFuncao, 0);  // its sfp017 row is of another type
    EXPECT_EQ(maria.HoraExtra, 3);
    EXPECT_EQ(maria.Comissionado + maria.Temporario + maria.Aposentado + maria.Pensionista +
                  maria.Suspenso + maria.Estatutario + maria.EmpregadoPublico,
              u"NNNNNNN");  // link without code

    const auto& ana =
        Por<TDMargem>(k->Margem.DMargem, [](const auto& m) { return m.Matricula == u"3003"; });
    EXPECT_EQ(ana.ValorMargem, 300);  // MCVALOR 0 still gives 30% of 1000
    EXPECT_EQ(ana.EmpregadoPublico, u"S");
    EXPECT_EQ(ana.AgenciaDigitoServidor, u"");
    EXPECT_EQ(ana.ContaDigitoServidor, u"10");
}

TEST(GeracaoKavlo, TransferidoVaiDaUnidadeDoMesAnteriorParaADoMes) {
    BancoTeste banco(ScriptFolha());
    Geracao g(banco);
    auto k = g.Gerar();
    // 2001 kept its unit and 3003 is not in December: only 1234-5 moved.
    ASSERT_EQ(k->Transferidos.DTransferidos.size(), 1u);
    const TDTransferidos& t = k->Transferidos.DTransferidos[0];
    EXPECT_EQ(t.TipoRegistro, u"D");
    EXPECT_EQ(t.NomeServidor, u"JOSÉ DA CONCEIÇÃO");
    EXPECT_EQ(t.CodigoMatriculaBeneficiarioOrigem, u"12345");
    EXPECT_EQ(t.CodigoOrgaoOrigem, u"02001");  // December
    EXPECT_EQ(t.CodigoMatriculaBeneficiarioDestino, u"12345");
    EXPECT_EQ(t.CodigoOrgaoDestino, u"01002");  // January
}

TEST(GeracaoKavlo, FiltroSemLinhasDaCabecalhosEContagemZero) {
    BancoTeste banco(ScriptFolha());
    Geracao g(banco, u"select matricula from SFP001JAN where 1 = 0");
    auto k = g.Gerar();
    EXPECT_TRUE(k->Pessoas.DPessoas.empty());
    EXPECT_TRUE(k->Margem.DMargem.empty());
    EXPECT_TRUE(k->Transferidos.DTransferidos.empty());
    EXPECT_EQ(k->Pessoas.TQuantidade + k->Margem.TQuantidadeRegistro +
                  k->Transferidos.TQuantidadeRegistros,
              0);
    EXPECT_FALSE(k->Margem.HConsignante.empty());
}

// Pasted as "in (select matricula from (filter))", a filter without a MATRICULA of its own would
// resolve the name to the outer table's column and export every servant.
TEST(GeracaoKavlo, FiltroSemMatriculaPropriaERecusado) {
    BancoTeste banco(ScriptFolha());
    for (const char16_t* filtro : {u"select nome from SFP001JAN where matricula = '1234-5'",
                                   u"select cpf as chave from SFP001JAN", u""}) {
        Geracao g(banco, filtro);
        const std::string m = MensagemDeErro([&] { g.Gerar(); });
        EXPECT_EQ(m.rfind("O filtro de servidores precisa ser um select que devolva a coluna "
                          "MATRICULA",
                          0),
                  0u)
            << m;
    }
    // A filter the database cannot read is told by its own fault, not as a missing MATRICULA.
    for (const auto& [filtro, causa] : std::vector<std::pair<std::u16string, std::string>>{
             {u"selec matricula from SFP001JAN", "erro de sintaxe no filtro perto de 'from'"},
             {u"select matricula from SFP001MAR", "a tabela SFP001MAR citada no filtro não existe"},
         }) {
        Geracao g(banco, filtro);
        const std::string m = MensagemDeErro([&] { g.Gerar(); });
        EXPECT_NE(m.find(causa), std::string::npos) << m;
        EXPECT_EQ(m.find("MATRICULA dos"), std::string::npos) << m;
        EXPECT_EQ(m.find("Confira o mês"), std::string::npos) << m;
    }
    // A MATRICULA of its own, however it is named in the filter, is fine.
    Geracao g(banco, u"select p.MATRICULA from SFP001JAN p where p.matricula = '1234-5'");
    EXPECT_EQ(g.Gerar()->Pessoas.DPessoas.size(), 1u);
}

// The filter's registrations are read once and matched in the library, not pasted into each
// query: whatever the filter's shape, the servants chosen must be the ones the database's own
// "in (select matricula from (filter))" chooses. NULLs match nothing, trailing blanks do not count,
// and a case-insensitive collation on either side (the table's column or the filter's) is the
// database's to apply.
TEST(GeracaoKavlo, FiltroEscolheOsMesmosServidoresQueOBanco) {
    const std::string letras =
        "update SFP001JAN set MATRICULA = 'A3003' where MATRICULA = '3003';"
        "update SFPDXX02JAN set MATRICULA = 'A3003' where MATRICULA = '3003';";
    std::string comColacao = ScriptFolha();
    for (const auto& [de, para] :
         {std::pair<std::string, std::string>{"(MATRICULA VARCHAR(8) NOT NULL PRIMARY KEY,",
                                              "(MATRICULA VARCHAR(8) NOT NULL PRIMARY KEY COLLATE "
                                              "WIN_PTBR,"},
          {"(MATRICULA VARCHAR(8) NOT NULL, ATIVO",
           "(MATRICULA VARCHAR(8) NOT NULL COLLATE WIN_PTBR, ATIVO"}})
        for (size_t p = comColacao.find(de); p != std::string::npos;
             p = comColacao.find(de, p + para.size()))
            comColacao.replace(p, de.size(), para);
    ASSERT_NE(comColacao, ScriptFolha());

    for (const auto& [rotulo, script] :
         {std::pair<std::string, std::string>{"ordem binária", ScriptFolha() + letras},
          {"colação WIN_PTBR na tabela", comColacao + letras}}) {
        BancoTeste banco(script);
        std::set<std::set<std::u16string>> distintos;
        for (const char* filtro : {
                 "select matricula from SFP001JAN where matricula <> '5005'",
                 "select case when matricula = '2001' then null else matricula end as matricula "
                 "from SFP001JAN",
                 "select matricula || '   ' as matricula from SFP001JAN",
                 "select cast(matricula as char(20)) as matricula from SFP001JAN",
                 "select ' ' || matricula as matricula from SFP001JAN",
                 "select lower(matricula) as matricula from SFP001JAN",
                 "select lower(matricula) collate WIN_PTBR as matricula from SFP001JAN",
                 "select cast(matricula as varchar(8) character set iso8859_1) as matricula from "
                 "SFP001JAN",
                 "select cast(matricula as varchar(8) character set octets) as matricula from "
                 "SFP001JAN",
                 "select matricula from SFP001JAN union all select matricula from SFP001DEZ",
                 // Literals compared with the registration: they go in its character set.
                 "select matricula from SFP001JAN where matricula not in ('5005', '2001')",
                 "select matricula from SFP001JAN where matricula = 'a3003' or matricula = "
                 "\"1234-5\"",
                 "select matricula from SFP001JAN where lower(matricula) in ('a3003', '2001') or "
                 "matricula || '' = '5005'",
                 "select matricula from SFP001JAN where cast(matricula as varchar(8) character set "
                 "iso8859_1) = '2001' or cast(matricula as varchar(8) character set none) = '5005' "
                 "or cast(matricula as varchar(8) character set utf8) = '1234-5'",
                 "select matricula from SFP001JAN where nome = 'JOSÉ DA CONCEIÇÃO' or matricula "
                 "like '20%' /* or matricula = '5005' */",
             }) {
            SCOPED_TRACE(rotulo + ": " + filtro);
            std::set<std::u16string> doBanco;
            for (const auto& l : banco.Linhas(
                     "select f.matricula from SFPDXX02JAN f where f.ativo = 'T' and f.matricula "
                     "in (select matricula from (" +
                     std::string(filtro) + "))"))
                doBanco.insert(RemoveCaracteres(l[0], u"-"));
            Geracao g(banco, DeUtf8(filtro));
            const auto k = g.Gerar();
            std::set<std::u16string> gerados;
            for (const TDMargem& d : k->Margem.DMargem) gerados.insert(d.Matricula);
            EXPECT_EQ(gerados, doBanco);
            // Every active servant in this payroll has a bank: the register file has the same ones.
            EXPECT_EQ(k->Pessoas.DPessoas.size(), doBanco.size());
            EXPECT_EQ(k->Pessoas.TQuantidade, static_cast<int32_t>(doBanco.size()));
            distintos.insert(doBanco);
        }
        // The cases do tell the filters apart.
        EXPECT_GE(distintos.size(), 4u);
    }
}

TEST(GeracaoKavlo, CodigoInvalidoNomeiaServidorColunaETexto) {
    struct Caso {
        const char* alteracao;
        const char* mensagem;
    };
    for (const auto& [alteracao, mensagem] : std::vector<Caso>{
             {"update SFP001JAN set ESTCIVIL = 'x' where MATRICULA = '1234-5'",
              "Pessoas.csv: servidor 1234-5 (JOSÉ DA CONCEIÇÃO): ESTCIVIL 'x' não é um número "
              "inteiro"},
             {"update SFP001JAN set SEXO = null where MATRICULA = '2001'",
              "Pessoas.csv: servidor 2001 (MARIA APARECIDA DOS SANTOS OLIVEIRA FERNANDES): SEXO '' "
              "não é um "
              "número inteiro"},
             // "AB" is not a part of "A_B" and is no number either.
             {"update SFP001JAN set GRINSTR = 'AB' where MATRICULA = '3003'",
              "Pessoas.csv: servidor 3003 (ANA): GRINSTR 'AB' não é um número inteiro"},
             {"update SFP001JAN set GRINSTR = 'a' where MATRICULA = '3003'",
              "Pessoas.csv: servidor 3003 (ANA): GRINSTR 'a' não é um número inteiro"},
             // Control characters of the data are shown, never split or cut the message.
             {"update SFP001JAN set NOME = 'JO' || ascii_char(13) || ascii_char(10) || 'SÉ' || "
              "ascii_char(0) || 'X', ESTCIVIL = 'x' || ascii_char(10) where MATRICULA = '1234-5'",
              "Pessoas.csv: servidor 1234-5 (JO\\x0D\\x0ASÉ\\x00X): ESTCIVIL 'x\\x0A' não é um "
              "número inteiro"},
             {"update SFP001JAN set MATRICULA = '30' || ascii_char(13) || ascii_char(10) || '3', "
              "GRINSTR = 'AB' where MATRICULA = '3003';"
              "update SFPDXX02JAN set MATRICULA = '30' || ascii_char(13) || ascii_char(10) || '3' "
              "where MATRICULA = '3003'",
              "Pessoas.csv: servidor 30\\x0D\\x0A3 (ANA): GRINSTR 'AB' não é um número inteiro"},
         }) {
        BancoTeste banco(ScriptFolha() + alteracao + ";");
        Geracao g(banco);
        EXPECT_EQ(MensagemDeErro([&] { g.Gerar(); }), mensagem);
    }
}

TEST(GeracaoKavlo, MesesInvalidosFalhamAntesDoBanco) {
    // An empty database: any query would fail with a database error instead.
    BancoTeste banco;
    struct Caso {
        const char16_t *mes, *mesAnt, *ano;
        const char* mensagem;
    };
    for (const auto& [mes, mesAnt, ano, mensagem] : std::vector<Caso>{
             {u"x", u"12", u"2024", "'x' is not a valid integer value"},
             {u"1", u"13", u"2024", "Mês '13' inválido: informe o número do mês, de 1 a 12"},
             {u"2", u"1", u"24x", "'01/2/24x' is not a valid date"},
         }) {
        Geracao g(banco);
        g.processo.MesAtual = mes;
        g.processo.MesAnt = mesAnt;
        g.processo.Ano = ano;
        EXPECT_EQ(MensagemDeErro([&] { g.Gerar(); }), mensagem);
    }
}

TEST(GeracaoKavlo, ErroDoBancoDizOQueSeLia) {
    BancoTeste banco(ScriptFolha() + "drop table SFP005JAN;");
    Geracao g(banco);
    const std::string m = MensagemDeErro([&] { g.Gerar(); });
    EXPECT_EQ(m.rfind("Erro no banco de dados ao ler as margens do mês (SFPDXX02JAN): ", 0), 0u)
        << m;
    EXPECT_NE(m.find("a tabela SFP005JAN não existe neste banco de dados"), std::string::npos) << m;
    EXPECT_NE(m.find("Confira o mês informado (1; mês anterior 12)"), std::string::npos) << m;
    EXPECT_EQ(m.find("select"), std::string::npos) << m;
}

TEST(DataInicioFuncao, AnoEMesVaoComoParametrosEAMatriculaEComparadaComoNoBanco) {
    BancoTeste banco(ScriptFolha() + R"(
insert into SFP017 (MATRICULA, TIPO, MESREF, ANOREF, DTINICIO) values ('O''NEIL', '2', 1, 2024, '2024-01-03');
insert into SFP017 (MATRICULA, TIPO, MESREF, ANOREF, DTINICIO) values ('7007', '2', 1, 2024, null);
insert into SFP017 (MATRICULA, TIPO, MESREF, ANOREF, DTINICIO) values (null, '2', 1, 2024, '2024-01-04');
)");
    Geracao g(banco);
    fb::Transacao t(g.processo.Conexao(), fb::ModoTransacao::Leitura);
    // The month as the host wrote it, leading zero included; SMALLINT columns compare by value.
    TDatasInicioFuncao datas(t, u"2024", u"01");
    EXPECT_EQ(datas.DataInicioFuncao(u"1234-5"), CodificaData(2024, 1, 15));
    EXPECT_EQ(datas.DataInicioFuncao(u"1234-5  "), CodificaData(2024, 1, 15));  // trailing blanks
    EXPECT_EQ(datas.DataInicioFuncao(u"12345"), 0);
    EXPECT_EQ(datas.DataInicioFuncao(u"O'NEIL"), CodificaData(2024, 1, 3));  // a quote is just data
    EXPECT_EQ(datas.DataInicioFuncao(u"7007"), 0);                           // null date
    EXPECT_EQ(datas.DataInicioFuncao(u""), 0);      // null registration matches nothing
    EXPECT_EQ(datas.DataInicioFuncao(u"2001"), 0);  // type '1'
    TDatasInicioFuncao fevereiro(t, u"2024", u"2");
    EXPECT_EQ(fevereiro.DataInicioFuncao(u"1234-5"), CodificaData(2024, 2, 20));
}
