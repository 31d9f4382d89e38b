// The demo payroll builder: both months hold the servants, the payroll queries find every column
// they need, the data hold the hard cases, and the return file matches the database byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>

#include "dao/BancoFolha.h"
#include "dao/firebird/Firebird.h"
#include "demonstracao/BancoDemo.h"
#include "demonstracao/RetornoDemo.h"
#include "demonstracao/Servidores.h"
#include "import/ArquivoRetorno.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/LinhaRetorno.h"
#include "util/Caminhos.h"
#include "util/Codificacao.h"
#include "util/Datas.h"
#include "util/Erros.h"
#include "util/LeitorDeLinhas.h"
#include "util/Numeros.h"
#include "util/Sha256.h"
#include "util/Utils.h"

using namespace kavlo;
using namespace kavlo::teste;

namespace {

constexpr std::u16string_view kEmpregador = u"PREFEITURA MUNICIPAL DE SÃO JOÃO DO ARAGUAIA";

struct Demo {
    explicit Demo(int servidores = 50, int mes = 2, uint32_t semente = 20240201) {
        opcoes.banco = (pasta.Caminho() / "folha.fdb").string();
        opcoes.retorno = (pasta.Caminho() / "retorno.txt").string();
        opcoes.servidores = servidores;
        opcoes.mes = mes;
        opcoes.semente = semente;
        resumo = demo::CriarBancoDemo(opcoes);
    }
    std::vector<std::vector<std::u16string>> Linhas(std::string_view select) const {
        return BancoTesteExistente(opcoes.banco).Linhas(select);
    }
    int Contar(const std::string& select) const {
        return std::stoi(ParaUtf8(Linhas("select count(*) from (" + select + ")")[0][0]));
    }
    PastaTemporaria pasta;
    demo::OpcoesDemo opcoes;
    demo::ResumoDemo resumo;
};

// One demo shared by the tests that only read it.
const Demo& Padrao() {
    static const auto demo = std::make_unique<Demo>();
    return *demo;
}

std::string PessoasSql(const std::string& m) {
    return "select p.*, b.nomebanco from SFP001" + m + " p, SFPDXX02" + m +
           " f, sfpd9911 b where p.matricula = f.matricula and f.ativo = 'T' and p.banco = "
           "b.numbanco and "
           "p.matricula in (select matricula from (select matricula from SFP001" +
           m + "))";
}

std::string MargemSql(const std::string& m) {
    return "select f.*, p.nome, p.cpf, p.sistema, p.funcao, p.banco, p.agencia, p.dvagencia, "
           "p.conta, "
           "p.dvconta, p.dtadmissao, p.cdsecreta, p.cdsetor, f.matricula as fmatricula, c.cargo, "
           "l.codorgao, l.descricao as orgao, v.id_vinculo, v.config_kavlo from sfp001" +
           m + " p, sfpdxx02" + m + " f, sfp005" + m + " c, sfp006" + m + " l, cfg_vinc" + m +
           " v where p.matricula = f.matricula and p.funcao = c.codigo and "
           "p.cdsecreta||p.cdsetor = l.cdsecreta||l.cdsetor and p.sistema = v.id_vinculo and "
           "f.ativo = 'T' and f.matricula in (select matricula from (select matricula from SFP001" +
           m + "))";
}

std::string TransferidosSql(const std::string& m, const std::string& ant) {
    return "select pAtu.nome, pAtu.cpf, pAtu.matricula, pAtu.cdsecreta||pAtu.cdsetor as CodOrig, "
           "pAnt.cdsecreta||pAnt.cdsetor as CodDest from sfp001" +
           m + " pAtu, sfp001" + ant + " pAnt, sfpdxx02" + m +
           " f where pAtu.matricula = f.matricula and  f.ativo = 'T' and pAtu.matricula = "
           "pAnt.matricula and pAtu.cdsecreta||pAtu.cdsetor <> pAnt.cdsecreta||pAnt.cdsetor and "
           "pAtu.matricula in (select matricula from (select matricula from SFP001" +
           m + "))";
}

int64_t CentavosDe(std::u16string_view texto) {
    const std::string s = ParaUtf8(texto);
    const auto ponto = s.find('.');
    return std::stoll(s.substr(0, ponto)) * 100 + std::stoll(s.substr(ponto + 1));
}

bool SoDigitos(std::u16string_view t) {
    return !t.empty() &&
           std::all_of(t.begin(), t.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

// Eleven digits whose last two are the CPF check digits.
bool CpfValido(std::u16string_view cpf) {
    if (cpf.size() != 11 || !SoDigitos(cpf)) return false;
    for (size_t n = 9; n <= 10; ++n) {
        int soma = 0;
        for (size_t k = 0; k < n; ++k) soma += (cpf[k] - u'0') * static_cast<int>(n + 1 - k);
        if ((soma * 10 % 11) % 10 != cpf[n] - u'0') return false;
    }
    return true;
}

bool Valor15(std::u16string_view t) {
    return t.size() == 15 && SoDigitos(t.substr(0, 12)) && t[12] == u'.' && SoDigitos(t.substr(13));
}

bool DataValidaDdMmAaaa(std::u16string_view t) {
    if (t.size() != 8 || !SoDigitos(t)) return false;
    const auto n = [&](size_t a, size_t l) { return std::stoi(ParaUtf8(t.substr(a, l))); };
    return DataValida(n(4, 4), n(2, 2), n(0, 2));
}

}  // namespace

TEST(BancoDemo, OsDoisMesesGuardamOsServidores) {
    struct Caso {
        int mes;
        std::string atual, anterior;
    };
    for (const auto& [mes, m, ant] : {Caso{2, "FEV", "JAN"}, Caso{1, "JAN", "DEZ"}}) {
        SCOPED_TRACE(m);
        const Demo d(50, mes);
        const auto& r = d.resumo;
        EXPECT_EQ(r.servidores, 50);
        EXPECT_GT(r.novos, 0);
        EXPECT_EQ(d.Contar("select * from SFP001" + m), r.servidores);
        EXPECT_EQ(d.Contar("select * from SFP001" + ant), r.servidores - r.novos);
        EXPECT_EQ(d.Contar("select distinct matricula from SFPDXX02" + m), r.servidores);
        EXPECT_EQ(d.Contar("select distinct matricula from SFPDXX02" + ant),
                  r.servidores - r.novos);
        EXPECT_EQ(d.Contar("select distinct matricula from SFPDXX02" + m + " where ativo = 'T'"),
                  r.ativos);
        EXPECT_LT(r.ativos, r.servidores);
        EXPECT_EQ(d.Contar("select * from SFP017"), r.eventos);
        // Every payroll row belongs to a registered servant; keys and CPFs have their exact shape.
        EXPECT_EQ(
            d.Contar("select * from SFPDXX02" + m + " f where not exists (select 1 from SFP001" +
                     m + " p where p.matricula = f.matricula)"),
            0);
        for (const auto& l : d.Linhas("select matricula, cpf from SFP001" + m)) {
            const std::u16string& mat = l[0];
            EXPECT_TRUE(mat.size() == 8 && SoDigitos(mat.substr(0, 6)) && mat[6] == u'-' &&
                        SoDigitos(mat.substr(7)))
                << ParaUtf8(mat);
            EXPECT_TRUE(CpfValido(l[1])) << ParaUtf8(l[1]);
        }
        for (const auto& tabela : {"SFP005", "SFP006", "CFG_VINC"})
            EXPECT_GT(d.Contar("select * from " + std::string(tabela) + ant), 0);
    }
}

TEST(BancoDemo, ConsultasDaFolhaEncontramLinhasETodasAsColunas) {
    const Demo& d = Padrao();
    ASSERT_EQ(d.Linhas("select DESCRICAO from SFP003"),
              (std::vector<std::vector<std::u16string>>{{std::u16string(kEmpregador)}}));
    struct Caso {
        std::string nome, sql;
        int linhas;
        std::vector<std::string> colunas;
    };
    const std::vector<Caso> casos = {
        {"pessoas",
         PessoasSql("FEV"),
         d.resumo.ativos,
         {"CPF",   "IDENTIDADE", "TITELEITOR", "ZONA",    "SECAO",    "NOME",    "ESTCIVIL",
          "SEXO",  "DTNASC",     "NOMEPAI",    "NOMEMAE", "NUMDEPIR", "EMAIL",   "FONE",
          "FONE2", "FONECEL",    "ENDERECO",   "BAIRRO",  "CEP",      "CIDADE",  "UF",
          "BANCO", "AGENCIA",    "DVAGENCIA",  "CONTA",   "DVCONTA",  "GRINSTR", "NOMEBANCO"}},
        {"margem",
         MargemSql("FEV"),
         d.resumo.ativos,
         {"NOME",      "CPF",          "FUNCAO",     "BANCO",       "AGENCIA", "DVAGENCIA",
          "CONTA",     "DVCONTA",      "DTADMISSAO", "CDSECRETA",   "CDSETOR", "MATRICULA",
          "MCVALOR",   "MCBASEINCIDE", "REMUNTOT",   "LIQUIDO",     "TOTDESC", "SALARIO",
          "VALEXTRAS", "VALEXTRA1",    "VALADNOT",   "IRRF",        "INSS",    "VALFALTAS",
          "VALCS",     "CARGO",        "ORGAO",      "CONFIG_KAVLO"}},
        {"transferidos",
         TransferidosSql("FEV", "JAN"),
         d.resumo.transferidos,
         {"NOME", "CPF", "MATRICULA", "CODORIG", "CODDEST"}},
    };
    ASSERT_GT(d.resumo.transferidos, 0);
    fb::Conexao c;
    AbrirBancoDaFolha(c, DeUtf8(d.opcoes.banco));
    fb::Transacao t(c, fb::ModoTransacao::Leitura);
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        fb::Comando cmd(t, caso.sql, "consultar " + caso.nome);
        auto cur = cmd.Abrir();
        for (const auto& coluna : caso.colunas) EXPECT_NO_THROW(cur.Indice(coluna)) << coluna;
        int linhas = 0;
        while (cur.Proximo()) ++linhas;
        EXPECT_EQ(linhas, caso.linhas);
    }
}

TEST(BancoDemo, GuardaOsCasosDificeisDaFolha) {
    const Demo& d = Padrao();
    struct Caso {
        const char* caso;
        std::string select;
    };
    const std::vector<Caso> casos = {
        {"nome de exatamente 40", "select * from SFP001FEV where char_length(nome) = 40"},
        {"nome acima de 40", "select * from SFP001FEV where char_length(nome) > 40"},
        {"nome acentuado", "select * from SFP001FEV where nome similar to '%[ÁÂÃÉÊÍÓÔÕÚÇ]%'"},
        {"nascimento nulo", "select * from SFP001FEV where dtnasc is null"},
        {"admissão nula", "select * from SFP001FEV where dtadmissao is null"},
        {"instrução A ou B", "select * from SFP001FEV where grinstr in ('A', 'B')"},
        {"conta com dígito X", "select * from SFP001FEV where dvconta = 'X' or dvagencia = 'X'"},
        {"vínculo sem configuração",
         "select p.matricula from SFP001FEV p join CFG_VINCFEV v on v.id_vinculo = p.sistema where "
         "v.config_kavlo is null"},
        {"inativo", "select * from SFPDXX02FEV where ativo = 'F'"},
        {"margem zero", "select * from SFPDXX02FEV where ativo = 'T' and mcvalor = 0"},
        {"margem negativa", "select * from SFPDXX02FEV where ativo = 'T' and mcvalor < 0"},
        {"margem nula", "select * from SFPDXX02FEV where ativo = 'T' and mcvalor is null"},
        {"horas extras 1 nula", "select * from SFPDXX02FEV where valextra1 is null"},
        {"descontos já lançados", "select * from SFPDXX02FEV where cod1 is not null"},
        {"todas as vagas ocupadas menos a 10",
         "select * from SFPDXX02FEV where cod10 is null and cod1 is not null and cod2 is not null "
         "and cod3 is not "
         "null and cod4 is not null and cod5 is not null and cod6 is not null and cod7 is not null "
         "and cod8 is not "
         "null and cod9 is not null and cod11 is not null and cod12 is not null and cod13 is not "
         "null and cod14 is "
         "not null and cod15 is not null and cod16 is not null and cod17 is not null"},
        {"função no mês", "select * from SFP017 where tipo = '2' and mesref = 2 and anoref = 2024"},
        {"demissão no mês",
         "select * from SFP017 where codfol = 22 and mesref = 2 and anoref = 2024"},
        {"demissão anterior", "select * from SFP017 where codfol = 22 and dtinicio < '2024-02-01'"},
        {"afastamento sem fim",
         "select * from SFP017 where codfol <> 22 and tipo <> '2' and dtfim is null"},
        {"afastamento sobre o mês",
         "select s.matricula from SFP017 s join AFASTFOLHA a on a.codigo = s.codfol where s.codfol "
         "<> 22 and "
         "s.dtinicio <= '2024-02-29' and s.dtfim >= '2024-02-01'"},
        {"vários afastamentos",
         "select matricula from SFP017 where codfol <> 22 and tipo <> '2' group by matricula "
         "having count(*) > 1"},
        {"tipo demissão acentuado",
         "select * from AFASTFOLHA where codigo = 22 and descricao = 'DEMISSÃO'"},
    };
    for (const auto& [caso, select] : casos) EXPECT_GT(d.Contar(select), 0) << caso;
}

TEST(BancoDemo, RetornoCasaComOBancoEPosicoesFixas) {
    const Demo& d = Padrao();
    const std::string bytes = LerArquivo(d.opcoes.retorno);
    // Windows-1252, not UTF-8: "SÃO JOÃO" takes one byte per letter.
    EXPECT_NE(bytes.find("S\xC3O JO\xC3O"), std::string::npos);
    ASSERT_TRUE(bytes.ends_with("\r\n"));
    for (size_t p = bytes.find('\n'); p != std::string::npos; p = bytes.find('\n', p + 1))
        ASSERT_EQ(bytes[p - 1], '\r') << "LF sem CR no byte " << p;
    const auto linhas = LinhasDoTexto(bytes);
    ASSERT_GE(linhas.size(), 3u);

    const auto& h = linhas.front();
    EXPECT_EQ(Trecho(h, 1, 1), u"H");
    EXPECT_EQ(Trecho(h, 2, 50), AjustaTexto(kEmpregador, 50));
    EXPECT_EQ(Trecho(h, 52, 30), AjustaTexto(u"RETORNO", 30));
    EXPECT_EQ(Trecho(h, 82, 5), u"02202");  // mmyyyy, its last digit under the date
    EXPECT_TRUE(DataValidaDdMmAaaa(Trecho(h, 87, 8))) << ParaUtf8(Trecho(h, 87, 8));

    struct Servidor {
        std::u16string nome, cpf;
        bool ativo = false;
        double margem = 0;
    };
    // Inactive rows come first, so that a servant with both keeps the active one.
    std::map<std::u16string, Servidor> folha;
    for (const auto& l :
         d.Linhas("select p.matricula, p.nome, p.cpf, f.ativo, f.mcvalor from SFP001FEV p join "
                  "SFPDXX02FEV f on f.matricula = p.matricula order by f.ativo"))
        folha[l[0]] = {l[1], l[2], l[3] == u"T", l[4] == u"<null>" ? 0 : std::stod(ParaUtf8(l[4]))};

    int desconhecidas = 0, inativos = 0, acimaDaMargem = 0;
    int64_t total = 0;
    std::map<std::u16string, int> porServidor;
    for (size_t k = 1; k + 1 < linhas.size(); ++k) {
        const auto& l = linhas[k];
        SCOPED_TRACE(ParaUtf8(l));
        ASSERT_GE(l.size(), 197u);
        EXPECT_EQ(Trecho(l, 1, 1), u"D");
        EXPECT_EQ(Trecho(l, 53, 8), u"00000000");
        EXPECT_TRUE(SoDigitos(Trecho(l, 53, 15)));
        EXPECT_TRUE(SoDigitos(Trecho(l, 88, 2)));
        EXPECT_TRUE(Valor15(Trecho(l, 140, 15)));
        EXPECT_TRUE(Valor15(Trecho(l, 155, 15)));
        ASSERT_TRUE(SoDigitos(Trecho(l, 170, 3)) && SoDigitos(Trecho(l, 173, 3)));
        const int perc = std::stoi(ParaUtf8(Trecho(l, 170, 3))),
                  quant = std::stoi(ParaUtf8(Trecho(l, 173, 3)));
        EXPECT_TRUE(perc >= 1 && perc <= quant);
        EXPECT_TRUE(DataValidaDdMmAaaa(Trecho(l, 190, 8)));
        const int64_t parcela = CentavosDe(Trecho(l, 140, 15));
        total += parcela;

        const std::u16string chave =
            std::u16string(Trecho(l, 61, 6)) + u"-" + std::u16string(Trecho(l, 67, 1));
        const auto s = folha.find(chave);
        if (s == folha.end()) {
            ++desconhecidas;
            continue;
        }
        EXPECT_EQ(Trecho(l, 2, 40), AjustaTexto(s->second.nome, 40));
        EXPECT_EQ(Trecho(l, 42, 11), s->second.cpf);
        inativos += !s->second.ativo;
        acimaDaMargem += s->second.ativo && parcela > s->second.margem * 100;
        ++porServidor[chave];
    }
    const auto& t = linhas.back();
    const int detalhes = static_cast<int>(linhas.size()) - 2;
    EXPECT_EQ(Trecho(t, 1, 1), u"T");
    EXPECT_EQ(Trecho(t, 2, 10), FormatarZeros(detalhes, 10));
    EXPECT_EQ(CentavosDe(Trecho(t, 15, 12)), total);

    EXPECT_EQ(detalhes, d.resumo.linhasRetorno);
    EXPECT_EQ(desconhecidas, d.resumo.linhasDesconhecidas);
    EXPECT_EQ(inativos, d.resumo.linhasInativos);
    EXPECT_GT(desconhecidas, 0);
    EXPECT_GT(inativos, 0);
    EXPECT_GT(acimaDaMargem, 0);
    EXPECT_TRUE(std::any_of(porServidor.begin(), porServidor.end(),
                            [](const auto& p) { return p.second > 1; }));
}

TEST(BancoDemo, MesmaSementeMesmosBytes) {
    const Demo a(40), b(40), outra(40, 2, 7);
    for (const auto* select : {"select * from SFP001FEV order by matricula",
                               "select * from SFPDXX02FEV order by matricula, ativo",
                               "select * from SFP001JAN order by matricula",
                               "select * from SFP017 order by matricula, dtinicio, codfol, mesref"})
        EXPECT_EQ(a.Linhas(select), b.Linhas(select)) << select;
    EXPECT_EQ(LerArquivo(a.opcoes.retorno), LerArquivo(b.opcoes.retorno));
    EXPECT_NE(LerArquivo(a.opcoes.retorno), LerArquivo(outra.opcoes.retorno));
    EXPECT_NE(a.Linhas("select nome from SFP001FEV order by matricula"),
              outra.Linhas("select nome from SFP001FEV order by matricula"));
}

// The seed alone decides the rows and the bytes, whatever compiler built the builder: two draws in
// one expression would be taken in the order the compiler picks. Digests of the shared demo (50
// servants, the default seed); a deliberate change to what the demo draws changes them.
TEST(BancoDemo, MesmaSementeMesmosBytesEmQualquerCompilador) {
    const Demo& d = Padrao();
    std::string linhas;
    for (const auto* select : {"select * from SFP001FEV order by matricula",
                               "select * from SFP001JAN order by matricula",
                               "select * from SFPDXX02FEV order by matricula, ativo, salario",
                               "select * from SFPDXX02JAN order by matricula, ativo, salario",
                               "select * from SFP017 order by matricula, dtinicio, codfol, mesref"})
        for (const auto& linha : d.Linhas(select))
            for (const auto& coluna : linha) linhas += ParaUtf8(coluna) + "|";
    EXPECT_EQ(Sha256(LerArquivo(d.opcoes.retorno)),
              "8824c7e880892f51161136070fa8b5272d5998b7b717510f2b377c2df358d656");
    EXPECT_EQ(Sha256(linhas), "52f0415150468d031c9a4367bed47373fb241fdf669654cfa9bc2f77335ca899");
}

TEST(BancoDemo, SubstituiOBancoSoQuandoOutroFicaPronto) {
    PastaTemporaria pasta;
    demo::OpcoesDemo o;
    o.banco = (pasta.Caminho() / "folha.fdb").string();
    o.servidores = 5;
    // Not a database the demo made: never replaced, asked or not.
    GravarArquivo(o.banco, "não é um banco");
    o.substituir = true;
    EXPECT_THROW(demo::CriarBancoDemo(o), ErroArquivo);
    EXPECT_EQ(LerArquivo(o.banco), "não é um banco");
    std::filesystem::remove(o.banco);
    o.substituir = false;
    EXPECT_EQ(demo::CriarBancoDemo(o).servidores, 5);
    EXPECT_THROW(demo::CriarBancoDemo(o), ErroArquivo);  // exists, and not asked to replace
    o.substituir = true;
    o.servidores = 6;
    EXPECT_EQ(demo::CriarBancoDemo(o).servidores, 6);  // its own, asked to: replaced
    fb::Conexao c;
    EXPECT_NO_THROW(AbrirBancoDaFolha(c, DeUtf8(o.banco)));
    c.Fechar();

    const std::string antes = LerArquivo(o.banco);
    struct Caso {
        const char* caso;
        void (*mudar)(demo::OpcoesDemo&);
    };
    for (const auto& [caso, mudar] :
         {Caso{"nenhum servidor", [](demo::OpcoesDemo& x) { x.servidores = 0; }},
          Caso{"servidores demais", [](demo::OpcoesDemo& x) { x.servidores = 1000001; }},
          Caso{"mês 13", [](demo::OpcoesDemo& x) { x.mes = 13; }},
          Caso{"retorno em pasta inexistente",
               [](demo::OpcoesDemo& x) { x.retorno = x.banco + ".d/sem/retorno.txt"; }}}) {
        demo::OpcoesDemo errada = o;
        mudar(errada);
        EXPECT_THROW(demo::CriarBancoDemo(errada), Erro) << caso;
    }
    demo::OpcoesDemo semPasta = o;
    semPasta.banco = (pasta.Caminho() / "nao-existe" / "folha.fdb").string();
    EXPECT_THROW(demo::CriarBancoDemo(semPasta), ErroArquivo);
    // The database stays as it was and no temporary file is left behind.
    EXPECT_EQ(LerArquivo(o.banco), antes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(pasta.Caminho()), {}), 1);
}

// Up to the largest demo, every servant has a registration and a CPF of its own, without building a
// database: 1,000,000 servants take every six-digit number. The first 100,000 keep the numbers they
// always had (their digest), so that a demo of a size that worked before is unchanged.
TEST(BancoDemo, MatriculasECpfsDistintosAteOMaiorDemo) {
    constexpr uint32_t semente = 20240201;
    std::vector<bool> usado(1000000);
    std::vector<uint64_t> cpfs;
    cpfs.reserve(demo::kMaximoServidores);
    std::string primeiros;
    for (int i = 0; i < demo::kMaximoServidores; ++i) {
        const int n = demo::NumeroDaMatricula(semente, i);
        ASSERT_TRUE(n >= 0 && n <= 999999) << i << ": " << n;
        ASSERT_FALSE(usado[static_cast<size_t>(n)]) << i << ": " << n;
        usado[static_cast<size_t>(n)] = true;
        ASSERT_EQ(demo::IndiceDaMatricula(semente, n), i) << n;
        if (i < 100000) primeiros += std::to_string(n) + ",";
        const std::u16string cpf = demo::Cpf(semente, i);
        ASSERT_TRUE(CpfValido(cpf)) << ParaUtf8(cpf);
        cpfs.push_back(std::stoull(ParaUtf8(cpf)));
    }
    EXPECT_EQ(Sha256(primeiros),
              "525b9933a00e5706c05e83224f142100c4775553ba37348630e7b55fbb1118f5");
    std::sort(cpfs.begin(), cpfs.end());
    EXPECT_EQ(std::adjacent_find(cpfs.begin(), cpfs.end()), cpfs.end());
    EXPECT_EQ(demo::IndiceDaMatricula(semente, 1000000), -1);
}

// A line the return file counts as unknown names no servant of the payroll, however large: near
// 1,000,000 servants the numbers it draws for them are someone's, and the check digit keeps them
// unknown. Drawn without a database, for the first servants of a full-size demo and of a small one.
TEST(BancoDemo, RetornoContaAsLinhasSemServidorEmQualquerTamanho) {
    constexpr uint32_t semente = 20240201;
    demo::Competencia c{2, 2024, 1, 2024, CodificaData(2024, 2, 1), 0};
    c.fim = UltimoDiaMes(c.inicio);
    for (const int servidores : {30000, demo::kMaximoServidores}) {
        SCOPED_TRACE(servidores);
        demo::RetornoDemo retorno(semente, c, servidores);
        std::vector<std::u16string> linhas;
        for (int i = 0; i < 30000; ++i)
            retorno.Detalhes(demo::SortearServidor(semente, i, c), linhas);
        int semServidor = 0;
        for (const auto& l : linhas) {
            const int numero = std::stoi(ParaUtf8(LerCampo(l, retorno::MatriculaNumero)));
            const int indice = demo::IndiceDaMatricula(semente, numero);
            semServidor += indice >= servidores || demo::MatriculaDe(numero).substr(7) !=
                                                       LerCampo(l, retorno::MatriculaDigito);
        }
        EXPECT_EQ(semServidor, retorno.desconhecidas);
        EXPECT_GT(retorno.desconhecidas, 50);
    }
}
