// The check before posting, on a demo payroll and its return file bent the ways files arrive
// wrong: each is read exactly as the import would read it and named for what it is.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "dao/BancoFolha.h"
#include "demonstracao/BancoDemo.h"
#include "entry/Conexao.h"
#include "import/Verificacao.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/LinhaRetorno.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Linhas(const std::string& bytes) {
    std::vector<std::string> r;
    for (size_t i = 0, fim; (fim = bytes.find("\r\n", i)) != std::string::npos; i = fim + 2)
        r.push_back(bytes.substr(i, fim - i));
    return r;
}

std::string Juntar(const std::vector<std::string>& linhas) {
    std::string r;
    for (const auto& l : linhas) r += l + "\r\n";
    return r;
}

std::string Windows1252ParaUtf8(const std::string& bytes) {
    return ParaUtf8(DeWindows1252(bytes));
}

class Verificar : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        pasta_ = new PastaTemporaria;
        demo::OpcoesDemo o;
        o.banco = (pasta_->Caminho() / "modelo.fdb").string();
        o.retorno = (pasta_->Caminho() / "retorno.txt").string();
        o.servidores = 300;
        demo::CriarBancoDemo(o);
    }
    static void TearDownTestSuite() {
        delete pasta_;
        pasta_ = nullptr;
    }
    void SetUp() override {
        fs::copy_file(pasta_->Caminho() / "modelo.fdb", saida_.Caminho() / "folha.fdb");
        original_ = LerArquivo(pasta_->Caminho() / "retorno.txt");
    }
    void TearDown() override { dmConexao().fdConexao.Fechar(); }

    std::u16string Banco() const { return DeUtf8((saida_.Caminho() / "folha.fdb").string()); }

    Verificacao Rodar(const std::string& bytes, const std::u16string& mes = u"2") {
        const fs::path retorno = saida_.Caminho() / "retorno.txt";
        GravarArquivo(retorno, bytes);
        fb::Conexao c;
        AbrirBancoDaFolha(c, Banco());
        return VerificarRetorno(c, {mes, u"2024", DeUtf8(retorno.string()), true});
    }

    static PastaTemporaria* pasta_;
    PastaTemporaria saida_;
    std::string original_;
};
PastaTemporaria* Verificar::pasta_ = nullptr;

bool Achou(const Verificacao& v, Gravidade g, const std::string& tipo) {
    for (const Achado& a : v.achados)
        if (a.gravidade == g && a.tipo == tipo) return true;
    return false;
}

std::string Listar(const Verificacao& v) {
    std::string r;
    for (const Achado& a : v.achados)
        r += std::to_string(a.linha) + " " + a.tipo + ": " + a.texto.substr(0, 120) + "\n";
    return r;
}

}  // namespace

TEST_F(Verificar, ArquivoCertoSoTemAvisos) {
    const Verificacao v = Rodar(original_);
    EXPECT_FALSE(v.Tem(Gravidade::Impede)) << Listar(v);
    EXPECT_FALSE(v.Tem(Gravidade::Suspeita)) << Listar(v);
    // The demo's return file names a few servants the month has not, or not active.
    EXPECT_GT(v.naoEncontradas, 0);
    EXPECT_GT(v.inativas, 0);
    EXPECT_TRUE(Achou(v, Gravidade::Aviso, "nao_encontrada"));
    EXPECT_GT(v.descontadas, 0);
    EXPECT_EQ(v.detalhes, v.linhas - 2);
    EXPECT_EQ(v.comprimentoUsual, 200u);
}

TEST_F(Verificar, ArquivosErradosComoChegam) {
    const std::vector<std::string> linhas = Linhas(original_);
    struct Caso {
        std::string nome;
        std::function<std::string()> arquivo;
        Gravidade gravidade;
        std::string tipo;
        std::u16string mes = u"2";
    };
    const std::vector<Caso> casos = {
        {"cada linha um caractere a mais",
         [&] {
             auto l = linhas;
             for (size_t i = 1; i + 1 < l.size(); ++i) l[i].insert(retorno::Nome.inicio - 1, " ");
             return Juntar(l);
         },
         Gravidade::Suspeita, "maioria_sem_servidor"},
        {"uma linha deslocada",
         [&] {
             auto l = linhas;
             l[5].insert(retorno::Nome.inicio + 8, " ");  // inside the name
             return Juntar(l);
         },
         Gravidade::Suspeita, "comprimento"},
        {"UTF-8 sem marca", [&] { return Windows1252ParaUtf8(original_); }, Gravidade::Suspeita,
         "codificacao"},
        {"sem o rodapé",
         [&] { return Juntar(std::vector<std::string>(linhas.begin(), linhas.end() - 1)); },
         Gravidade::Suspeita, "rodape"},
        {"arquivo de fevereiro importado em janeiro", [&] { return original_; },
         Gravidade::Suspeita, "competencia", u"1"},
        {"Pessoas.csv no lugar do retorno",
         [&] {
             return Juntar({"H0000000000PESSOAS", "D;12345678901;MG123;JOAO DA SILVA;1;2",
                            "D;98765432100;SP9;MARIA;2;1;;", "T0000000002"});
         },
         Gravidade::Suspeita, "maioria_sem_servidor"},
        {"CPFs de outras pessoas",
         [&] {
             auto l = linhas;
             for (size_t i = 1; i + 1 < l.size(); ++i) Por(l[i], retorno::Cpf, "00000000191");
             return Juntar(l);
         },
         Gravidade::Suspeita, "cpf_maioria"},
        {"valor que não converte",
         [&] {
             auto l = linhas;
             Por(l[3], retorno::Parcela, "1.234.56       ");
             return Juntar(l);
         },
         Gravidade::Impede, "valor"},
        {"parcela repetida",
         [&] {
             auto l = linhas;
             l.insert(l.begin() + 3, l[2]);
             return Juntar(l);
         },
         Gravidade::Aviso, "repetida"},
        {"um CPF trocado",
         [&] {
             auto l = linhas;
             Por(l[2], retorno::Cpf, "00000000191");
             return Juntar(l);
         },
         Gravidade::Aviso, "cpf"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        const Verificacao v = Rodar(c.arquivo(), c.mes);
        EXPECT_TRUE(Achou(v, c.gravidade, c.tipo)) << Listar(v);
    }
}

TEST_F(Verificar, ArquivoJaImportadoImpede) {
    const fs::path retorno = saida_.Caminho() / "retorno.txt";
    GravarArquivo(retorno, original_);
    CadeiaHost mes(u"2"), ano(u"2024"), banco(Banco()),
        res(DeUtf8((saida_.Caminho() / "resultado.txt").string())), load(DeUtf8(retorno.string())),
        folhas(u"MENSAL"), s(u"S");
    ImportarArquivo(mes, ano, banco, res, load, folhas, s);
    dmConexao().fdConexao.Fechar();
    const Verificacao v = Rodar(original_);
    EXPECT_TRUE(Achou(v, Gravidade::Impede, "ja_importado")) << Listar(v);
    ASSERT_TRUE(v.anterior);
    EXPECT_EQ(v.anterior->id, 1);
}

// The texts a finding quotes: the payroll's CPF and name of the servant (read again for the
// findings only), and the first line of a repeated instalment however far before it lies.
TEST_F(Verificar, AchadosCitamAFolhaEALinhaAnterior) {
    std::vector<std::string> l = Linhas(original_);
    const auto chave = [&](size_t i) { return ChaveServidor(DeWindows1252(l[i])); };
    const auto cadastro = [&](const std::u16string& matricula) {
        fb::Conexao c;
        AbrirBancoDaFolha(c, Banco());
        fb::Transacao t(c, fb::ModoTransacao::Leitura);
        fb::Comando cmd(t, std::string_view("select NOME, CPF from SFP001FEV where MATRICULA = ?"),
                        "ler");
        fb::Cursor r = cmd.Abrir({matricula});
        return r.Proximo() ? std::optional(std::pair(r.Texto(0u), r.Texto(1u))) : std::nullopt;
    };
    // Two lines after the fourth whose servants the payroll has.
    size_t cpf = 4;
    while (!cadastro(chave(cpf))) ++cpf;
    size_t nome = cpf + 1;
    while (!cadastro(chave(nome)) || chave(nome) == chave(cpf)) ++nome;
    Por(l[cpf], retorno::Cpf, "00000000191");
    Por(l[nome], retorno::Nome, std::string("OUTRO NOME").append(30, ' '));
    l.insert(l.end() - 1, l[3]);  // line 4 again, as the last instalment
    const Verificacao v = Rodar(Juntar(l));
    const auto texto = [&](size_t linha, const std::string& tipo) {
        for (const Achado& a : v.achados)
            if (a.linha == linha && a.tipo == tipo) return a.texto;
        return "(nenhum achado " + tipo + " na linha " + std::to_string(linha) + ")";
    };
    EXPECT_EQ(texto(cpf + 1, "cpf"), "o CPF '00000000191' (posições 42 a 52) não é o do servidor " +
                                         ParaUtf8(chave(cpf)) + " na folha (" +
                                         ParaUtf8(cadastro(chave(cpf))->second) + ")");
    EXPECT_EQ(texto(nome + 1, "nome"), "o nome 'OUTRO NOME' difere do nome do servidor " +
                                           ParaUtf8(chave(nome)) + " na folha (" +
                                           ParaUtf8(cadastro(chave(nome))->first) + ")");
    EXPECT_EQ(texto(l.size() - 1, "repetida"), "a mesma parcela da linha 4 (servidor " +
                                                   ParaUtf8(chave(3)) +
                                                   ", código, valor e parcela iguais)");
}

// A payroll name outside Windows-1252 went to the party as Windows writes it (Ł as L) and comes
// back so: that is the same name. What an earlier generation wrote ("?" for Ł) is not, and the
// finding quotes the payroll's name as it is.
TEST_F(Verificar, NomeComparadoComoOArquivoOLevou) {
    {
        // NOME in UTF8, so that it holds the letters.
        fb::Conexao c;
        AbrirBancoDaFolha(c, Banco());
        for (const char* sql : {
                 "alter table SFP001FEV add NOME_UTF8 varchar(60) character set UTF8",
                 "update SFP001FEV set NOME_UTF8 = NOME",
                 "alter table SFP001FEV drop NOME",
                 "alter table SFP001FEV alter NOME_UTF8 to NOME",
             }) {
            fb::Transacao t(c, fb::ModoTransacao::Escrita);
            fb::Comando(t, std::string_view(sql), "preparar o teste").Executar();
            t.Commit();
        }
    }
    // The first instalment line whose servant the payroll has gets the name.
    std::vector<std::string> l = Linhas(original_);
    size_t k = 1;
    std::u16string chave;
    {
        fb::Conexao c;
        AbrirBancoDaFolha(c, Banco());
        fb::Transacao t(c, fb::ModoTransacao::Escrita);
        fb::Comando mudar(t, std::string_view("update SFP001FEV set NOME = ? where MATRICULA = ?"),
                          "preparar o teste");
        for (; k + 1 < l.size(); ++k) {
            chave = ChaveServidor(DeWindows1252(l[k]));
            if (mudar.Executar({std::u16string(u"ŁUKASZ YILMAZ IŞIK"), chave}) == 1) break;
        }
        t.Commit();
    }
    ASSERT_LT(k + 1, l.size());
    const auto achado = [&](const std::string& nome) -> std::optional<std::string> {
        Por(l[k], retorno::Nome, nome + std::string(40 - nome.size(), ' '));
        const Verificacao v = Rodar(Juntar(l));
        for (const Achado& a : v.achados)
            if (a.linha == k + 1 && a.tipo == "nome") return a.texto;
        return std::nullopt;
    };
    EXPECT_EQ(achado("LUKASZ YILMAZ ISIK"), std::nullopt);
    EXPECT_EQ(achado("?UKASZ YILMAZ I?IK"),
              "o nome '?UKASZ YILMAZ I?IK' difere do nome do servidor " + ParaUtf8(chave) +
                  " na folha (ŁUKASZ YILMAZ IŞIK)");
}
