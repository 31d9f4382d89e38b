// The check before posting, on a demo payroll and its return file bent the ways files arrive
// wrong: each is read exactly as the import would read it and named for what it is. Then the same
// files through kavlo verificar and kavlo importar, run as programs, with the month's table read
// before and after.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <set>

#include "CadeiaHost.h"
#include "DllKavlo.h"
#include "dao/BancoFolha.h"
#include "demonstracao/BancoDemo.h"
#include "entry/Chamadas.h"
#include "entry/Conexao.h"
#include "import/Estorno.h"
#include "import/Verificacao.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/LinhaRetorno.h"
#include "util/Codificacao.h"

extern char** environ;

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

    // The same check and the import through the tool, run as the program an operator runs.
    struct Saida {
        int codigo = -1;
        std::string saida, erro;
    };
    Saida Kavlo(const std::vector<std::string>& argumentos) const {
        const fs::path saida = saida_.Caminho() / "stdout.txt",
                       erro = saida_.Caminho() / "stderr.txt";
        posix_spawn_file_actions_t acoes;
        posix_spawn_file_actions_init(&acoes);
        posix_spawn_file_actions_addopen(&acoes, 1, saida.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&acoes, 2, erro.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<char*> argv{const_cast<char*>(KAVLO_FERRAMENTA)};
        for (const auto& a : argumentos) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_t filho = -1;
        Saida r;
        if (posix_spawn(&filho, KAVLO_FERRAMENTA, &acoes, nullptr, argv.data(), environ) == 0) {
            int estado = 0;
            ::waitpid(filho, &estado, 0);
            r.codigo = WIFEXITED(estado) ? WEXITSTATUS(estado) : 1000 + WTERMSIG(estado);
        }
        posix_spawn_file_actions_destroy(&acoes);
        r.saida = LerArquivo(saida);
        r.erro = LerArquivo(erro);
        return r;
    }
    std::string BancoUtf8() const { return (saida_.Caminho() / "folha.fdb").string(); }
    std::string Retorno() const { return (saida_.Caminho() / "retorno.txt").string(); }
    Saida Importar(const std::vector<std::string>& extra = {}, const std::string& ano = "2024",
                   const std::string& mes = "2") const {
        std::vector<std::string> a = {
            "importar",  "--mes",       mes,
            "--ano",     ano,           "--banco",
            BancoUtf8(), "--resultado", (saida_.Caminho() / "resultado.txt").string(),
            "--retorno", Retorno(),     "--folhas",
            "MENSAL"};
        a.insert(a.end(), extra.begin(), extra.end());
        return Kavlo(a);
    }
    Saida VerificarPrograma(const std::string& ano = "2024", const std::string& mes = "2") const {
        return Kavlo({"verificar", "--mes", mes, "--ano", ano, "--banco", BancoUtf8(), "--retorno",
                      Retorno()});
    }
    // The payroll as the demo made it, without any import.
    void NovoBanco() {
        fs::copy_file(pasta_->Caminho() / "modelo.fdb", BancoUtf8(),
                      fs::copy_options::overwrite_existing);
    }
    // The month's table, every row and column, and how many imports not undone the journal holds.
    std::vector<std::vector<std::u16string>> Tabela() const {
        return BancoTesteExistente(fs::path(BancoUtf8()))
            .Linhas("select * from SFPDXX02FEV order by MATRICULA, SALARIO");
    }
    std::u16string Importacoes() const {
        const BancoTesteExistente banco{fs::path(BancoUtf8())};
        if (banco.Linhas("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = "
                         "'KAVLO_IMPORTACAO'")[0][0] == u"0")
            return u"0";
        return banco.Linhas(
            "select count(*) from KAVLO_IMPORTACAO where ESTORNO_QUANDO is null")[0][0];
    }

    // The registrations of the month's payroll.
    std::set<std::u16string> Cadastrados() const {
        fb::Conexao c;
        AbrirBancoDaFolha(c, Banco());
        fb::Transacao t(c, fb::ModoTransacao::Leitura);
        fb::Comando cmd(t, std::string_view("select MATRICULA from SFP001FEV"), "ler");
        fb::Cursor r = cmd.Abrir();
        std::set<std::u16string> m;
        while (r.Proximo()) m.insert(r.Texto(0u));
        return m;
    }

    static PastaTemporaria* pasta_;
    PastaTemporaria saida_;
    std::string original_;
};
PastaTemporaria* Verificar::pasta_ = nullptr;

bool Achou(const Verificacao& v, Gravidade g, TipoAchado tipo) {
    for (const Achado& a : v.achados)
        if (a.gravidade == g && a.tipo == tipo) return true;
    return false;
}

std::string Listar(const Verificacao& v) {
    std::string r;
    for (const Achado& a : v.achados)
        r += std::to_string(a.linha) + " " + std::to_string(static_cast<int>(a.tipo)) + ": " +
             a.texto.substr(0, 120) + "\n";
    return r;
}

}  // namespace

// The import posts from the check's read of the file: what was checked is what is posted, and a
// file that changed since the check posts nothing.
TEST_F(Verificar, ImportaOQueAVerificacaoLeu) {
    const auto tabela = Tabela();
    for (const bool alterar : {true, false}) {
        std::optional<ArquivoDeRetorno> lido;
        GravarArquivo(Retorno(), original_);
        {
            fb::Conexao c;
            AbrirBancoDaFolha(c, Banco());
            VerificarRetorno(c, {u"2", u"2024", DeUtf8(Retorno()), true}, &lido);
        }
        ASSERT_TRUE(lido.has_value());
        if (alterar) {
            std::string b = original_;
            const size_t valor = b.find("\r\n") + 2 + 139;  // the first instalment's amount
            b[valor + 3] = b[valor + 3] == '9' ? '8' : '9';
            GravarArquivo(Retorno(), b);
        }
        const ArgumentosImportacao a{u"2",
                                     u"2024",
                                     Banco(),
                                     DeUtf8((saida_.Caminho() / "resultado.txt").string()),
                                     DeUtf8(Retorno()),
                                     u"MENSAL",
                                     u"S"};
        if (alterar) {
            EXPECT_NE(MensagemDeErro([&] {
                          ImportarRetorno(a, {}, std::move(*lido));
                      }).find("foi alterado enquanto era lido"),
                      std::string::npos);
            EXPECT_EQ(Tabela(), tabela);
            EXPECT_EQ(Importacoes(), u"0");
            EXPECT_FALSE(fs::exists(saida_.Caminho() / "resultado.txt"));
        } else {
            EXPECT_GT(ImportarRetorno(a, {}, std::move(*lido)).integral, 0);
            EXPECT_NE(Tabela(), tabela);
            EXPECT_EQ(Importacoes(), u"1");
        }
    }
}

TEST_F(Verificar, ArquivoCertoSoTemAvisos) {
    const Verificacao v = Rodar(original_);
    EXPECT_FALSE(v.Tem(Gravidade::Impede)) << Listar(v);
    EXPECT_FALSE(v.Tem(Gravidade::Suspeita)) << Listar(v);
    // The demo's return file names a few servants the month has not, or not active.
    EXPECT_GT(v.naoEncontradas, 0);
    EXPECT_GT(v.inativas, 0);
    EXPECT_TRUE(Achou(v, Gravidade::Aviso, TipoAchado::NaoEncontrada));
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
        TipoAchado tipo;
        std::string trecho = {};  // of the finding's text, when given
        std::u16string mes = u"2";
    };
    // The file with `texto` put at `p` of line `i` (0-based).
    const auto com = [&](size_t i, Posicao p, std::string_view texto) {
        auto l = linhas;
        Por(l[i], p, texto);
        return Juntar(l);
    };
    const auto cadastrados = Cadastrados();
    const auto cadastrado = [&](const std::string& linha) {
        return cadastrados.contains(ChaveServidor(DeWindows1252(linha)));
    };
    // A line shifted right by one column, its width kept, whose key then reads as another
    // servant's of the payroll: the name and the CPF are not that servant's.
    const auto deslocada = [&](size_t& qual) {
        for (qual = 1; qual + 1 < linhas.size(); ++qual) {
            std::string l = linhas[qual];
            l.insert(1, " ");
            l.pop_back();
            if (cadastrado(l) &&
                ChaveServidor(DeWindows1252(l)) != ChaveServidor(DeWindows1252(linhas[qual]))) {
                auto todas = linhas;
                todas[qual] = l;
                return Juntar(todas);
            }
        }
        return std::string();
    };
    size_t primeiraCadastrada = 1;
    while (!cadastrado(linhas[primeiraCadastrada])) ++primeiraCadastrada;
    size_t qualDeslocada = 0;
    const std::string comDeslocada = deslocada(qualDeslocada);
    ASSERT_FALSE(comDeslocada.empty());
    const std::vector<Caso> casos = {
        {"cada linha um caractere a mais",
         [&] {
             auto l = linhas;
             for (size_t i = 1; i + 1 < l.size(); ++i) l[i].insert(retorno::Nome.inicio - 1, " ");
             return Juntar(l);
         },
         Gravidade::Suspeita, TipoAchado::MaioriaSemServidor},
        {"uma linha deslocada",
         [&] {
             auto l = linhas;
             l[5].insert(retorno::Nome.inicio + 8, " ");  // inside the name
             return Juntar(l);
         },
         Gravidade::Suspeita, TipoAchado::Comprimento},
        {"UTF-8 sem marca", [&] { return Windows1252ParaUtf8(original_); }, Gravidade::Suspeita,
         TipoAchado::Codificacao},
        {"sem o rodapé",
         [&] { return Juntar(std::vector<std::string>(linhas.begin(), linhas.end() - 1)); },
         Gravidade::Impede, TipoAchado::Cortado},
        {"arquivo de fevereiro importado em janeiro", [&] { return original_; },
         Gravidade::Suspeita, TipoAchado::Competencia,
         "o cabeçalho indica 02/2024; foi informado 01/2024", u"1"},
        {"cabeçalho de março",
         [&] {
             return com(0, Posicao{82, 5}, "03202");
         },
         Gravidade::Suspeita, TipoAchado::Competencia,
         "o cabeçalho indica 03/2024; foi informado 02/2024"},
        {"cabeçalho de outra década",
         [&] {
             return com(0, Posicao{82, 5}, "02201");
         },
         Gravidade::Suspeita, TipoAchado::Competencia,
         "o cabeçalho indica 02/201?; foi informado 02/2024"},
        {"vazio", [] { return std::string(); }, Gravidade::Impede, TipoAchado::Vazio,
         "o arquivo está vazio"},
        {"só o cabeçalho", [&] { return Juntar({linhas[0]}); }, Gravidade::Suspeita,
         TipoAchado::Vazio, "uma linha só e nenhuma parcela"},
        {"cabeçalho e rodapé",
         [&] {
             return Juntar({linhas[0], "T0000000000"});
         },
         Gravidade::Suspeita, TipoAchado::Vazio, "duas linhas e nenhuma parcela"},
        {"cortado dentro da última parcela",
         [&] {
             auto l = std::vector<std::string>(linhas.begin(), linhas.end() - 1);
             l.back().resize(150);
             return Juntar(l);
         },
         Gravidade::Impede, TipoAchado::Cortado, "o arquivo foi cortado"},
        {"rodapé sem a quantidade",
         [&] {
             auto l = linhas;
             l.back() = "FIM DO ARQUIVO";
             return Juntar(l);
         },
         Gravidade::Suspeita, TipoAchado::Rodape, "não traz a quantidade de parcelas"},
        {"rodapé com outra quantidade",
         [&] { return com(linhas.size() - 1, retorno::RodQuantidade, "0000000001"); },
         Gravidade::Suspeita, TipoAchado::Rodape, "o rodapé anuncia 1 parcelas"},
        {"rodapé com outro total",
         [&] { return com(linhas.size() - 1, retorno::RodTotal, "000000001.00"); },
         Gravidade::Suspeita, TipoAchado::TotalDoRodape,
         "o rodapé anuncia o total de R$ 1,00 (posições 15 a 26), e as parcelas do arquivo somam"},
        {"valor com expoente", [&] { return com(3, retorno::Parcela, "000000000001E05"); },
         Gravidade::Suspeita, TipoAchado::FormatoDoValor,
         "'000000000001E05' (posições 140 a 154) não está escrito só com algarismos e um ponto "
         "antes dos centavos: a importação o leria como R$ 100.000,00"},
        {"valor com vírgula", [&] { return com(3, retorno::Parcela, "000000000150,00"); },
         Gravidade::Suspeita, TipoAchado::FormatoDoValor, "'000000000150,00'"},
        {"valor com sinal", [&] { return com(3, retorno::Parcela, "+00000000150.00"); },
         Gravidade::Suspeita, TipoAchado::FormatoDoValor, "'+00000000150.00'"},
        {"valor sem ponto", [&] { return com(3, retorno::Parcela, "000000000015000"); },
         Gravidade::Suspeita, TipoAchado::FormatoDoValor, "R$ 15.000,00"},
        {"valor zero", [&] { return com(3, retorno::Parcela, "000000000000.00"); },
         Gravidade::Suspeita, TipoAchado::ValorZero, "parcela de valor zero"},
        {"contador negativo", [&] { return com(3, retorno::ContadorQuant, "-60"); },
         Gravidade::Suspeita, TipoAchado::ContadorNegativo,
         "contador de parcelas negativo '-60' (posições 173 a 175"},
        {"CPF e nome de outra pessoa",
         [&] {
             auto l = linhas;
             Por(l[primeiraCadastrada], retorno::Cpf, "00000000191");
             Por(l[primeiraCadastrada], retorno::Nome,
                 std::string("FULANO DE TAL").append(27, ' '));
             return Juntar(l);
         },
         Gravidade::Impede, TipoAchado::OutraPessoa,
         "o CPF '00000000191' e o nome 'FULANO DE TAL' não são os do servidor"},
        {"uma linha deslocada para outro servidor", [&] { return comDeslocada; }, Gravidade::Impede,
         TipoAchado::OutraPessoa, "a importação recusa o arquivo (na folha, CPF"},
        {"um nome trocado",
         [&] {
             return com(primeiraCadastrada, retorno::Nome,
                        std::string("FULANO DE TAL").append(27, ' '));
         },
         Gravidade::Suspeita, TipoAchado::Nome, "o nome 'FULANO DE TAL' difere"},
        {"Pessoas.csv no lugar do retorno",
         [&] {
             return Juntar({"H0000000000PESSOAS", "D;12345678901;MG123;JOAO DA SILVA;1;2",
                            "D;98765432100;SP9;MARIA;2;1;;", "T0000000002"});
         },
         Gravidade::Impede, TipoAchado::NaoERetorno,
         "não parece um arquivo de retorno: 2 de 2 linhas de parcela não seguem o leiaute"},
        {"CPFs de outras pessoas",
         [&] {
             auto l = linhas;
             for (size_t i = 1; i + 1 < l.size(); ++i) Por(l[i], retorno::Cpf, "00000000191");
             return Juntar(l);
         },
         Gravidade::Suspeita, TipoAchado::CpfMaioria},
        {"valor que não converte",
         [&] {
             auto l = linhas;
             Por(l[3], retorno::Parcela, "1.234.56       ");
             return Juntar(l);
         },
         Gravidade::Impede, TipoAchado::Valor},
        {"parcela repetida",
         [&] {
             auto l = linhas;
             l.insert(l.begin() + 3, l[2]);
             return Juntar(l);
         },
         Gravidade::Suspeita, TipoAchado::Repetida},
        {"um CPF trocado",
         [&] {
             auto l = linhas;
             Por(l[2], retorno::Cpf, "00000000191");
             return Juntar(l);
         },
         Gravidade::Suspeita, TipoAchado::Cpf},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        const Verificacao v = Rodar(c.arquivo(), c.mes);
        EXPECT_TRUE(Achou(v, c.gravidade, c.tipo)) << Listar(v);
        if (!c.trecho.empty()) {
            EXPECT_TRUE(std::any_of(v.achados.begin(), v.achados.end(),
                                    [&](const Achado& a) {
                                        return a.tipo == c.tipo &&
                                               a.texto.find(c.trecho) != std::string::npos;
                                    }))
                << c.trecho << "\n"
                << Listar(v);
        }
    }
    // The shifted line is named by its own number.
    const Verificacao v = Rodar(comDeslocada);
    EXPECT_TRUE(std::any_of(v.achados.begin(), v.achados.end(), [&](const Achado& a) {
        return a.tipo == TipoAchado::OutraPessoa && a.linha == qualDeslocada + 1;
    })) << Listar(v);
}

// What an import not undone already posted into the month's table stops the import: the same
// lines, however the file is written, or an instalment of them in another file, naming the import
// and its line. Undone, neither does.
TEST_F(Verificar, ArquivoOuParcelaJaImportadosImpedem) {
    const fs::path retorno = saida_.Caminho() / "retorno.txt";
    GravarArquivo(retorno, original_);
    CadeiaHost mes(u"2"), ano(u"2024"), banco(Banco()),
        res(DeUtf8((saida_.Caminho() / "resultado.txt").string())), load(DeUtf8(retorno.string())),
        folhas(u"MENSAL"), s(u"S");
    ImportarArquivo(mes, ano, banco, res, load, folhas, s);
    dmConexao().fdConexao.Fechar();

    std::string lf = original_;
    std::erase(lf, '\r');
    const Verificacao v = Rodar(lf);
    EXPECT_TRUE(Achou(v, Gravidade::Impede, TipoAchado::JaImportado)) << Listar(v);
    EXPECT_FALSE(Achou(v, Gravidade::Impede, TipoAchado::JaLancada)) << Listar(v);
    ASSERT_TRUE(v.anterior);
    EXPECT_EQ(v.anterior->id, 1);

    // Another file (its header differs) with the same instalments: each one the import posted is
    // named with the import and the line that posted it.
    std::vector<std::string> l = Linhas(original_);
    Por(l[0], retorno::CabTexto, "OUTRO CABECALHO");
    std::string lancada;
    {
        fb::Conexao c;
        AbrirBancoDaFolha(c, Banco());
        fb::Transacao t(c, fb::ModoTransacao::Leitura);
        fb::Comando cmd(t,
                        std::string_view("select first 1 LINHA_RETORNO, MATRICULA from "
                                         "KAVLO_LANCAMENTO order by LINHA_RETORNO"),
                        "ler");
        fb::Cursor r = cmd.Abrir();
        ASSERT_TRUE(r.Proximo());
        lancada = std::to_string(r.Inteiro(0u)) + " " + ParaUtf8(r.Texto(1u));
    }
    const size_t linha = std::stoul(lancada);
    const Verificacao outra = Rodar(Juntar(l));
    EXPECT_FALSE(outra.anterior);
    std::string texto;
    for (const Achado& a : outra.achados)
        if (a.tipo == TipoAchado::JaLancada && a.linha == linha) texto = a.texto;
    for (const std::string& trecho :
         {"a mesma parcela (servidor " + lancada.substr(lancada.find(' ') + 1),
          "já foi lançada nesta tabela pela importação 1, linha " + std::to_string(linha) +
              " do arquivo dela, que não foi estornada",
          std::string("kavlo estornar --importacao 1"), std::string("--reimportar")})
        EXPECT_NE(texto.find(trecho), std::string::npos) << trecho << "\n" << Listar(outra);

    fb::Conexao c;
    AbrirBancoDaFolha(c, Banco());
    EstornarImportacao(c, 1, false);
    c.Fechar();
    const Verificacao estornada = Rodar(Juntar(l));
    EXPECT_FALSE(Achou(estornada, Gravidade::Impede, TipoAchado::JaLancada)) << Listar(estornada);
    EXPECT_FALSE(Rodar(original_).anterior);
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
    const auto texto = [&](size_t linha, TipoAchado tipo) {
        for (const Achado& a : v.achados)
            if (a.linha == linha && a.tipo == tipo) return a.texto;
        return "(nenhum achado " + std::to_string(static_cast<int>(tipo)) + " na linha " +
               std::to_string(linha) + ")";
    };
    EXPECT_EQ(texto(cpf + 1, TipoAchado::Cpf),
              "o CPF '00000000191' (posições 42 a 52) não é o do servidor " + ParaUtf8(chave(cpf)) +
                  " na folha (" + ParaUtf8(cadastro(chave(cpf))->second) + ")");
    EXPECT_EQ(texto(nome + 1, TipoAchado::Nome), "o nome 'OUTRO NOME' difere do nome do servidor " +
                                                     ParaUtf8(chave(nome)) + " na folha (" +
                                                     ParaUtf8(cadastro(chave(nome))->first) + ")");
    EXPECT_EQ(texto(l.size() - 1, TipoAchado::Repetida),
              "a mesma parcela da linha 4 (servidor " + ParaUtf8(chave(3)) +
                  ", código, valor e parcela iguais): seria descontada duas vezes");
}

// The same lines imported again however the file came: another year, the month written "02",
// other line ends, another encoding. Stopped by the check before the library is called, with the
// import it repeats and both ways on.
TEST_F(Verificar, ImportarParaOMesmoArquivoDeOutroJeito) {
    const std::string original = original_;
    GravarArquivo(Retorno(), original);
    const Saida primeira = Importar();
    ASSERT_EQ(primeira.codigo, 0) << primeira.erro;
    const auto depois = Tabela();
    std::string lf = original;
    std::erase(lf, '\r');
    struct Caso {
        std::string nome, bytes, ano = "2024", mes = "2";
    };
    for (const auto& c : std::vector<Caso>{
             {"outro ano", original, "2023"},
             {"mês escrito com zero", original, "2024", "02"},
             {"quebras de linha LF", lf},
             {"UTF-8 com marca", "\xEF\xBB\xBF" + ParaUtf8(DeWindows1252(original))},
         }) {
        SCOPED_TRACE(c.nome);
        GravarArquivo(Retorno(), c.bytes);
        const Saida v = VerificarPrograma(c.ano, c.mes);
        EXPECT_EQ(v.codigo, 3) << v.saida;
        EXPECT_NE(v.saida.find("já foi importado na tabela SFPDXX02FEV"), std::string::npos)
            << v.saida;
        for (const std::vector<std::string>& extra :
             {std::vector<std::string>{}, std::vector<std::string>{"--forcar"}}) {
            const Saida e = Importar(extra, c.ano, c.mes);
            EXPECT_EQ(e.codigo, 3) << e.erro;
            for (const char* trecho :
                 {"Nada foi lançado", "já foi importado na tabela SFPDXX02FEV", "importação 1 de ",
                  "para 02/2024", "kavlo estornar --importacao 1", "kavlo importar --reimportar"})
                EXPECT_NE(e.erro.find(trecho), std::string::npos) << trecho << "\n" << e.erro;
        }
        EXPECT_EQ(Tabela(), depois);
        EXPECT_EQ(Importacoes(), u"1");
    }
    // On purpose it goes in.
    GravarArquivo(Retorno(), lf);
    const Saida de = Importar({"--reimportar", "--forcar"});
    EXPECT_EQ(de.codigo, 0) << de.erro;
    EXPECT_EQ(Importacoes(), u"2");
}

// Files the check stops, each on a fresh payroll: what it says, and whether --forcar or
// --reimportar lets it through. What the library itself refuses, nothing lets through.
TEST_F(Verificar, ImportarParaArquivosQueLancariamErrado) {
    const std::vector<std::string> linhas = Linhas(original_);
    const auto com = [&](size_t i, Posicao p, std::string_view texto) {
        auto l = linhas;
        Por(l[i], p, texto);
        return Juntar(l);
    };
    // Instalment lines shifted right by one column, each kept 200 wide: keys, CPFs, names and
    // amounts fall on their neighbours' positions. One line in seven, and every line whose key
    // then reads as another servant's of the payroll (as most do in a large payroll).
    std::set<std::u16string> cadastrados;
    for (const auto& l : BancoTesteExistente(pasta_->Caminho() / "modelo.fdb")
                             .Linhas("select MATRICULA from SFP001FEV"))
        cadastrados.insert(l[0]);
    size_t deOutros = 0;
    const auto umaEmSete = [&] {
        auto l = linhas;
        for (size_t i = 1; i + 1 < l.size(); ++i) {
            std::string d = l[i];
            d.insert(1, " ");
            d.pop_back();
            const bool deOutro = cadastrados.contains(ChaveServidor(DeWindows1252(d)));
            if (i % 7 != 1 && !deOutro) continue;
            l[i] = d;
            deOutros += deOutro;
        }
        return Juntar(l);
    };
    struct Caso {
        std::string nome;
        std::function<std::string()> arquivo;
        std::vector<std::string> trechos;
        std::optional<std::vector<std::string>> passaCom;  // nothing: nothing lets it through
        bool importarAntes = false;
    };
    const std::vector<Caso> casos = {
        {"uma linha em sete deslocada",
         umaEmSete,
         {"não são os do servidor", "a importação recusa o arquivo"},
         std::nullopt},
        {"cortado dentro da última parcela",
         [&] {
             auto l = std::vector<std::string>(linhas.begin(), linhas.end() - 1);
             l.back().resize(120);
             return Juntar(l);
         },
         {"o arquivo foi cortado"},
         std::nullopt},
        {"vazio", [] { return std::string(); }, {"o arquivo está vazio"}, std::nullopt},
        {"só o cabeçalho",
         [&] { return Juntar({linhas[0]}); },
         {"nenhuma parcela"},
         std::vector<std::string>{"--forcar"}},
        {"parcela repetida",
         [&] {
             auto l = linhas;
             l.insert(l.begin() + 3, l[2]);
             char quantidade[16];
             std::snprintf(quantidade, sizeof quantidade, "%010zu", l.size() - 2);
             Por(l.back(), retorno::RodQuantidade, quantidade);
             return Juntar(l);
         },
         {"a mesma parcela da linha 3", "seria descontada duas vezes", "--forcar"},
         std::vector<std::string>{"--forcar"}},
        {"cabeçalho de março",
         [&] {
             return com(0, Posicao{82, 5}, "03202");
         },
         {"o cabeçalho indica 03/2024; foi informado 02/2024"},
         std::vector<std::string>{"--forcar"}},
        {"valor com expoente",
         [&] { return com(2, retorno::Parcela, "000000000001E05"); },
         {"'000000000001E05'", "R$ 100.000,00"},
         std::vector<std::string>{"--forcar"}},
        {"contador negativo",
         [&] { return com(2, retorno::ContadorQuant, "-60"); },
         {"contador de parcelas negativo '-60'"},
         std::vector<std::string>{"--forcar"}},
        {"valor zero",
         [&] { return com(2, retorno::Parcela, "000000000000.00"); },
         {"parcela de valor zero"},
         std::vector<std::string>{"--forcar"}},
        {"parcelas já lançadas por outra importação",
         [&] { return com(0, retorno::CabTexto, "OUTRO CABECALHO"); },
         {"já foi lançada nesta tabela pela importação 1, linha ", "--reimportar"},
         std::vector<std::string>{"--reimportar"},
         true},
    };
    umaEmSete();
    ASSERT_GT(deOutros, 0u);
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        NovoBanco();
        if (c.importarAntes) {
            GravarArquivo(Retorno(), original_);
            ASSERT_EQ(Importar().codigo, 0);
        }
        GravarArquivo(Retorno(), c.arquivo());
        const auto antes = Tabela();
        const std::u16string importacoes = Importacoes();
        const Saida v = VerificarPrograma();
        EXPECT_EQ(v.codigo, 3) << v.saida;
        for (const auto& t : c.trechos) {
            if (t.starts_with("--")) continue;  // how to go on is the import's to say
            EXPECT_NE(v.saida.find(t), std::string::npos) << t << "\n" << v.saida;
        }
        const Saida e = Importar();
        EXPECT_EQ(e.codigo, 3) << e.erro;
        EXPECT_NE(e.erro.find("Nada foi lançado"), std::string::npos) << e.erro;
        for (const auto& t : c.trechos)
            EXPECT_NE(e.erro.find(t), std::string::npos) << t << "\n" << e.erro;
        EXPECT_EQ(Tabela(), antes);
        EXPECT_EQ(Importacoes(), importacoes);
        if (!c.passaCom) {
            const Saida forcado = Importar({"--forcar", "--reimportar"});
            EXPECT_NE(forcado.codigo, 0) << forcado.saida;
            EXPECT_EQ(Tabela(), antes);
            EXPECT_EQ(Importacoes(), importacoes);
            continue;
        }
        // The other switch is no way through.
        const std::string outra = c.passaCom->front() == "--forcar" ? "--reimportar" : "--forcar";
        EXPECT_EQ(Importar({outra}).codigo, 3);
        const Saida passa = Importar(*c.passaCom);
        EXPECT_EQ(passa.codigo, 0) << passa.erro;
        EXPECT_NE(Importacoes(), importacoes);
    }
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
            if (a.linha == k + 1 && a.tipo == TipoAchado::Nome) return a.texto;
        return std::nullopt;
    };
    EXPECT_EQ(achado("LUKASZ YILMAZ ISIK"), std::nullopt);
    EXPECT_EQ(achado("?UKASZ YILMAZ I?IK"),
              "o nome '?UKASZ YILMAZ I?IK' difere do nome do servidor " + ParaUtf8(chave) +
                  " na folha (ŁUKASZ YILMAZ IŞIK)");
}
