// The library and the tool as a user that is neither SYSDBA nor the database's owner, through the
// local server with its default authentication (Srp): with the role kavlo preparar makes, every
// operation does what it does for SYSDBA; without it, each is refused, says what right on which
// table is missing, and changes nothing. Users are created through the server for each test and
// dropped at its end; the settings file sits beside copies of the library and of kavlo in folders
// of the test's own, so no other test ever meets it. Skipped when no server answers.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "CadeiaHost.h"
#include "dao/BancoFolha.h"
#include "dao/LoginBanco.h"
#include "dao/firebird/Firebird.h"
#include "demonstracao/BancoDemo.h"
#include "entry/Chamadas.h"
#include "entry/Conexao.h"
#include "import/Diario.h"
#include "tests/apoio/AcessoTeste.h"
#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/ServidorTeste.h"
#include "util/Codificacao.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

using Linhas = std::vector<std::vector<std::u16string>>;

// A folder holding copies of kavlo and of the library, and the settings file they read.
class Instalacao {
  public:
    explicit Instalacao(const std::string& conf = {})
        : biblioteca_(KAVLO_BIBLIOTECA, pasta_.Caminho()) {
        fs::copy_file(KAVLO_FERRAMENTA, Kavlo());
        if (conf.empty()) return;
        GravarArquivo(Conf(), conf);
        fs::permissions(Conf(), fs::perms::owner_read | fs::perms::owner_write);
    }
    fs::path Kavlo() const { return pasta_.Caminho() / "kavlo"; }
    fs::path Conf() const { return pasta_.Caminho() / "DllKavlo.conf"; }
    const BibliotecaCopiada& Biblioteca() const { return biblioteca_; }
    Execucao Executar(const std::vector<std::string>& argumentos, const std::string& entrada = {},
                      std::optional<std::chrono::milliseconds> sinal = {}) {
        std::optional<SinalApos> sigint;
        if (sinal) sigint = SinalApos{SIGINT, *sinal};
        Execucao e = ExecutarPrograma(Kavlo(), argumentos, pasta_.Caminho(), entrada, sigint);
        execucoes_.push_back(e);
        return e;
    }
    // Everything the tool printed here, for the password to be looked for.
    const std::vector<Execucao>& Execucoes() const { return execucoes_; }

  private:
    PastaTemporaria pasta_;
    BibliotecaCopiada biblioteca_;
    std::vector<Execucao> execucoes_;
};

std::string Conf(const UsuarioDoServidor& u, bool papel) {
    return "# login da DllKavlo\nusuario = " + u.Nome() + "\nsenha = " + u.Senha() + "\n" +
           (papel ? "papel = KAVLO_OPERADOR\n" : "");
}

mode_t Modo(const fs::path& arquivo) {
    struct stat s {};
    EXPECT_EQ(::stat(arquivo.c_str(), &s), 0) << arquivo;
    return s.st_mode & 07777;
}

// A file's lines but its first: the header carries the moment of the generation.
std::string SemCabecalho(const fs::path& arquivo) {
    const std::string bytes = LerArquivo(arquivo);
    return bytes.substr(bytes.find('\n') + 1);
}

class MenorPrivilegio : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ServidorFirebirdResponde())
            GTEST_SKIP() << "Nenhum servidor Firebird responde em localhost:3050 "
                            "(scripts/servidor-firebird.sh instala e inicia um).";
        if (!servidor_.Valida() || !referencia_.Valida())
            GTEST_SKIP() << "Não foi possível criar uma pasta em /tmp/firebird.";
        demo::OpcoesDemo o;
        o.banco = (local_.Caminho() / "modelo.fdb").string();
        o.retorno = Retorno().string();
        o.servidores = 300;
        demo::CriarBancoDemo(o);
        servidor_.Receber(o.banco, "folha.fdb");
        referencia_.Receber(o.banco, "folha.fdb");
        operador_.emplace(servidor_.Local("folha.fdb"));
        semPapel_.emplace(servidor_.Local("folha.fdb"));
        fs::create_directory(Saida());
    }

    std::string Banco() const { return ParaUtf8(servidor_.Local("folha.fdb")); }
    std::string Referencia() const { return ParaUtf8(referencia_.Local("folha.fdb")); }
    fs::path Retorno() const { return local_.Caminho() / "retorno.txt"; }
    fs::path Saida() const { return local_.Caminho() / "saida"; }
    Linhas Ler(const std::string& banco, std::string_view select) const {
        return BancoTesteExistente(fs::path(banco)).Linhas(select);
    }
    Linhas Deducoes(const std::string& banco) const {
        return Ler(banco, "select * from SFPDXX02FEV order by MATRICULA");
    }
    Linhas Diario(const std::string& banco) const {
        return Ler(banco,
                   "select ID, LINHAS, DESCONTADAS, NAO_DESCONTADAS, SEM_SLOT, NAO_ENCONTRADAS, "
                   "INATIVAS, TOTAL_CENTAVOS from KAVLO_IMPORTACAO order by ID");
    }
    Execucao Preparar(const std::string& banco, const std::string& usuario) {
        return sysdba_.Executar({"preparar", "--banco", banco, "--usuario", usuario});
    }
    std::vector<std::string> Gerar() const {
        return GerarDaDemo(Banco(), Saida().string(), "select matricula from SFP001FEV");
    }
    std::vector<std::string> Importar() const {
        return {"importar",
                "--mes",
                "2",
                "--ano",
                "2024",
                "--banco",
                Banco(),
                "--resultado",
                (Saida() / "resultado.txt").string(),
                "--retorno",
                Retorno().string(),
                "--folhas",
                "MENSAL"};
    }

    PastaDoServidor servidor_, referencia_;
    PastaTemporaria local_;
    std::optional<UsuarioDoServidor> operador_, semPapel_;
    Instalacao sysdba_;  // no settings file: the design's login
};

}  // namespace

TEST_F(MenorPrivilegio, ComOPapelTudoFicaComoOSysdbaDeixaria) {
    // The owner's part, once; again, it changes nothing.
    const Execucao preparo = Preparar(Banco(), operador_->Nome());
    ASSERT_EQ(preparo.codigo, 0) << preparo.erro;
    for (const std::string& linha : std::vector<std::string>{
             "Diário de importações criado.", "Papel KAVLO_OPERADOR criado.",
             "ler (SELECT) a tabela SFP001FEV", "alterar (UPDATE) 82 colunas da tabela SFPDXX02FEV",
             "usar (USAGE) o gerador KAVLO_IMPORTACAO_ID",
             "Papel KAVLO_OPERADOR concedido ao usuário " + operador_->Nome() + "."})
        EXPECT_NE(preparo.saida.find(linha), std::string::npos) << linha << "\n" << preparo.saida;
    const Execucao denovo = Preparar(Banco(), operador_->Nome());
    ASSERT_EQ(denovo.codigo, 0) << denovo.erro;
    EXPECT_EQ(denovo.saida.substr(0, denovo.saida.find('\n') + 1),
              "O banco já estava preparado: nada foi alterado.\n");
    ASSERT_EQ(Preparar(Referencia(), operador_->Nome()).codigo, 0);
    const Linhas original = Deducoes(Banco());

    // The two exports of a library whose settings file names the operator and the role, beside
    // SYSDBA's run of the same calls on a copy of the database.
    Instalacao operador(Conf(*operador_, true));
    const fs::path saidaSysdba = local_.Caminho() / "sysdba";
    fs::create_directory(saidaSysdba);
    CadeiaHost mes(u"2"), anterior(u"1"), ano(u"2024"), banco(DeUtf8(Banco())),
        saida(DeUtf8(Saida().string() + "/")), filtro(u"select matricula from SFP001FEV"),
        resultado(DeUtf8((Saida() / "resultado.txt").string())),
        retorno(DeUtf8(Retorno().string())), folhas(u"MENSAL"), s(u"S");
    // With its progress lines, which go to standard error too.
    ::setenv("KAVLO_PROGRESSO", "1", 1);
    const std::string erroPadrao = ErroPadraoDurante([&] {
        operador.Biblioteca().Gerar()(mes, anterior, ano, banco, saida, filtro);
        operador.Biblioteca().Importar()(mes, ano, banco, resultado, retorno, folhas, s);
    });
    ::unsetenv("KAVLO_PROGRESSO");
    EXPECT_NE(erroPadrao.find("Lendo demissões e afastamentos do mês"), std::string::npos)
        << erroPadrao;
    EXPECT_EQ(erroPadrao.find("Aviso"), std::string::npos) << erroPadrao;
    GerarArquivos({u"2", u"1", u"2024", DeUtf8(Referencia()), DeUtf8(saidaSysdba.string() + "/"),
                   u"select matricula from SFP001FEV"});
    ImportarRetorno({u"2", u"2024", DeUtf8(Referencia()),
                     DeUtf8((saidaSysdba / "resultado.txt").string()), DeUtf8(Retorno().string()),
                     u"MENSAL", u"S"});
    for (const char* arquivo : {"Pessoas.csv", "Margem.txt", "Transferidos.txt"})
        EXPECT_EQ(SemCabecalho(Saida() / arquivo), SemCabecalho(saidaSysdba / arquivo)) << arquivo;
    EXPECT_EQ(LerArquivo(Saida() / "resultado.txt"), LerArquivo(saidaSysdba / "resultado.txt"));
    EXPECT_EQ(LerArquivo(servidor_.Caminho() / "ServidoresSemMargem.txt"),
              LerArquivo(referencia_.Caminho() / "ServidoresSemMargem.txt"));
    const Linhas importada = Deducoes(Referencia());
    EXPECT_NE(importada, original);
    EXPECT_EQ(Deducoes(Banco()), importada);
    EXPECT_EQ(Diario(Banco()), Diario(Referencia()));
    const std::string lancamentos =
        "select LINHA_RETORNO, MATRICULA, SLOT, COD_DEPOIS, VALOR_DEPOIS, MCVALOR_ANTES, "
        "MCVALOR_DEPOIS from KAVLO_LANCAMENTO order by LINHA_RETORNO, SLOT";
    EXPECT_EQ(Ler(Banco(), lancamentos), Ler(Referencia(), lancamentos));

    // Every command of the tool, as the operator: the journal, the undo, the check, and both
    // operations again.
    const Execucao lista = operador.Executar({"importacoes", "--banco", Banco()});
    EXPECT_EQ(lista.codigo, 0) << lista.erro;
    EXPECT_NE(lista.saida.find("    1  "), std::string::npos) << lista.saida;
    const Execucao estorno =
        operador.Executar({"estornar", "--banco", Banco(), "--importacao", "1"});
    EXPECT_EQ(estorno.codigo, 0) << estorno.erro;
    EXPECT_EQ(Deducoes(Banco()), original);
    const Execucao verificacao =
        operador.Executar({"verificar", "--mes", "2", "--ano", "2024", "--banco", Banco(),
                           "--retorno", Retorno().string()});
    EXPECT_EQ(verificacao.codigo, 0) << verificacao.erro;
    const Execucao importacao = operador.Executar(Importar());
    EXPECT_EQ(importacao.codigo, 0) << importacao.erro;
    EXPECT_EQ(Deducoes(Banco()), importada);
    EXPECT_EQ(LerArquivo(Saida() / "resultado.txt"), LerArquivo(saidaSysdba / "resultado.txt"));
    const Execucao geracao = operador.Executar(Gerar());
    EXPECT_EQ(geracao.codigo, 0) << geracao.erro;
    EXPECT_EQ(SemCabecalho(Saida() / "Margem.txt"), SemCabecalho(saidaSysdba / "Margem.txt"));
    // The login on the command line, the password on standard input, as a script gives it.
    const Execucao script = sysdba_.Executar({"--usuario", operador_->Nome(), "--papel",
                                              "KAVLO_OPERADOR", "importacoes", "--banco", Banco()},
                                             operador_->Senha() + "\n");
    EXPECT_EQ(script.codigo, 0) << script.erro;
    EXPECT_NE(script.saida.find("    2  "), std::string::npos) << script.saida;

    // Personal data is its owner's alone: every file written, the report in the database's
    // folder too.
    std::vector<fs::path> escritos;
    for (const auto& e : fs::directory_iterator(Saida())) escritos.push_back(e.path());
    escritos.push_back(servidor_.Caminho() / "ServidoresSemMargem.txt");
    EXPECT_EQ(escritos.size(), 8u);
    for (const char* nome :
         {"resultado.VERIFICACAO.txt", "resultado.SemMargem.txt", "resultado.Recusadas.txt"})
        EXPECT_TRUE(fs::exists(Saida() / nome)) << nome;
    for (const fs::path& arquivo : escritos) EXPECT_EQ(Modo(arquivo), 0600u) << arquivo;

    // The password is nowhere: not in what the tool printed, not in the files, not in the
    // journal, not in the database file's bytes.
    std::vector<std::pair<std::string, std::string>> textos = {
        {"stderr da biblioteca", erroPadrao}};
    for (const Execucao& e : operador.Execucoes())
        textos.push_back({"saída do kavlo", e.saida + e.erro});
    for (const Execucao& e : sysdba_.Execucoes())
        textos.push_back({"saída do kavlo", e.saida + e.erro});
    for (const fs::path& arquivo : escritos)
        textos.push_back({arquivo.string(), LerArquivo(arquivo)});
    std::string diario;
    for (const auto& linha : Ler(Banco(), "select * from KAVLO_IMPORTACAO"))
        for (const auto& coluna : linha) diario += ParaUtf8(coluna) + ";";
    textos.push_back({"diário", diario});
    textos.push_back({"banco", LerArquivo(servidor_.Caminho() / "folha.fdb")});
    for (const auto& [onde, texto] : textos)
        EXPECT_EQ(texto.find(operador_->Senha()), std::string::npos) << onde;
}

// Without the role, each operation and each command is refused with the right and the table it
// lacks, and the database, the journal and the folder stay as they were.
TEST_F(MenorPrivilegio, SemOPapelCadaOperacaoERecusadaENadaMuda) {
    ASSERT_EQ(Preparar(Banco(), operador_->Nome()).codigo, 0);
    ASSERT_EQ(sysdba_.Executar(Importar()).codigo, 0);  // a journal row to undo
    GravarArquivo(Saida() / "Margem.txt", "o arquivo de antes");
    const Linhas deducoes = Deducoes(Banco()), diario = Diario(Banco());
    auto nomes = [&] {
        std::set<std::string> r;
        for (const auto& e : fs::directory_iterator(Saida())) r.insert(e.path().filename());
        return r;
    };
    const std::set<std::string> arquivos = nomes();
    const std::string relatorio = LerArquivo(servidor_.Caminho() / "ServidoresSemMargem.txt");

    Instalacao semPapel(Conf(*semPapel_, false));
    CadeiaHost mes(u"2"), anterior(u"1"), ano(u"2024"), banco(DeUtf8(Banco())),
        saida(DeUtf8(Saida().string() + "/")), filtro(u"select matricula from SFP001FEV"),
        resultado(DeUtf8((Saida() / "outro.txt").string())), retorno(DeUtf8(Retorno().string())),
        folhas(u"MENSAL"), s(u"S");
    struct Caso {
        std::string nome, mensagem;
    };
    std::vector<Caso> casos = {
        {"GerarArquivo", MensagemDeErro([&] {
             semPapel.Biblioteca().Gerar()(mes, anterior, ano, banco, saida, filtro);
         })},
        {"ImportarArquivo", MensagemDeErro([&] {
             semPapel.Biblioteca().Importar()(mes, ano, banco, resultado, retorno, folhas, s);
         })},
    };
    for (const std::vector<std::string>& argumentos : std::vector<std::vector<std::string>>{
             Gerar(),
             Importar(),
             {"verificar", "--mes", "2", "--ano", "2024", "--banco", Banco(), "--retorno",
              Retorno().string()},
             {"importacoes", "--banco", Banco()},
             {"estornar", "--banco", Banco(), "--importacao", "1"},
             {"--detalhes", "importacoes", "--banco", Banco()},
         }) {
        const Execucao e = semPapel.Executar(argumentos);
        EXPECT_EQ(e.codigo, 1) << argumentos[0] << "\n" << e.saida << e.erro;
        casos.push_back({"kavlo " + argumentos[0], e.erro + e.saida});
    }
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        EXPECT_NE(c.mensagem.find("o usuário do banco de dados não tem o direito de ler (SELECT) a "
                                  "tabela "),
                  std::string::npos)
            << c.mensagem;
        EXPECT_NE(c.mensagem.find("kavlo preparar"), std::string::npos) << c.mensagem;
        EXPECT_EQ(c.mensagem.find(semPapel_->Senha()), std::string::npos);
    }
    EXPECT_NE(casos[0].mensagem.find("a tabela SFP001FEV"), std::string::npos) << casos[0].mensagem;
    EXPECT_NE(casos.back().mensagem.find("SQL: select"), std::string::npos)
        << casos.back().mensagem;

    // The role named but not given: said at once, with what to run.
    Instalacao naoConcedido(Conf(*semPapel_, true));
    const Execucao papel = naoConcedido.Executar(Gerar());
    EXPECT_EQ(papel.codigo, 1);
    EXPECT_NE(
        papel.erro.find("O papel KAVLO_OPERADOR não foi concedido ao usuário " + semPapel_->Nome() +
                        " neste banco de dados, ou não existe; sem ele a DllKavlo não tem os "
                        "direitos de que precisa. O dono do banco o concede com: kavlo "
                        "preparar --banco <banco> --usuario " +
                        semPapel_->Nome() + "."),
        std::string::npos)
        << papel.erro;

    EXPECT_EQ(Deducoes(Banco()), deducoes);
    EXPECT_EQ(Diario(Banco()), diario);
    EXPECT_EQ(nomes(), arquivos);
    EXPECT_EQ(LerArquivo(Saida() / "Margem.txt"), "o arquivo de antes");
    EXPECT_EQ(LerArquivo(servidor_.Caminho() / "ServidoresSemMargem.txt"), relatorio);
}

// The settings file's login through the server: a wrong password or a missing one is refused,
// saying where the login comes from and never what the password is.
TEST_F(MenorPrivilegio, SenhaErradaOuAusente) {
    const std::string errada = "Zz" + operador_->Senha().substr(2) + "9";
    Instalacao instalacao("usuario = " + operador_->Nome() + "\nsenha = " + errada + "\n");
    CadeiaHost mes(u"2"), anterior(u"1"), ano(u"2024"), banco(DeUtf8(Banco())),
        saida(DeUtf8(Saida().string() + "/")), filtro(u"select matricula from SFP001FEV");
    const std::string m = MensagemDeErro(
        [&] { instalacao.Biblioteca().Gerar()(mes, anterior, ano, banco, saida, filtro); });
    EXPECT_NE(m.find("o usuário ou a senha do banco de dados não foram aceitos"), std::string::npos)
        << m;
    EXPECT_NE(m.find("O usuário (" + operador_->Nome() + ") e a senha vêm de '" +
                     instalacao.Conf().string() + "'"),
              std::string::npos)
        << m;
    EXPECT_EQ(m.find(errada), std::string::npos);

    struct Caso {
        std::string entrada, mensagem;
    };
    for (const Caso& c : std::vector<Caso>{
             {errada + "\n", "o usuário ou a senha do banco de dados não foram aceitos"},
             {"", "A senha do usuário " + operador_->Nome() +
                      " no banco de dados não foi "
                      "informada"},
         }) {
        const Execucao e = sysdba_.Executar(
            {"--usuario", operador_->Nome(), "importacoes", "--banco", Banco()}, c.entrada);
        EXPECT_EQ(e.codigo, 1);
        EXPECT_NE(e.erro.find(c.mensagem), std::string::npos) << e.erro;
        EXPECT_EQ(e.erro.find(errada), std::string::npos);
    }
    EXPECT_TRUE(fs::is_empty(Saida()));
}

// On a terminal the password is asked without echo: nothing typed shows on the screen, where the
// progress lines go too.
TEST_F(MenorPrivilegio, SenhaPedidaNoTerminalSemEco) {
    ASSERT_EQ(Preparar(Banco(), operador_->Nome()).codigo, 0);
    std::vector<std::string> argumentos = {sysdba_.Kavlo().string(), "--usuario", operador_->Nome(),
                                           "--papel", "KAVLO_OPERADOR"};
    const std::vector<std::string> gerar = Gerar();
    argumentos.insert(argumentos.end(), gerar.begin(), gerar.end());
    int terminal = -1;
    const pid_t filho = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(filho, 0);
    if (filho == 0) {
        std::vector<char*> argv;
        for (const auto& a : argumentos) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
    // What the terminal shows, until `fim` is there or the program ends.
    std::string tela;
    auto ler = [&](const std::string& fim) {
        char buf[4096];
        for (int i = 0; i < 600 && (fim.empty() || tela.find(fim) == std::string::npos); ++i) {
            pollfd p{terminal, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const ssize_t n = ::read(terminal, buf, sizeof buf);
            if (n <= 0) return;  // the program ended: the terminal is gone
            tela.append(buf, static_cast<size_t>(n));
        }
    };
    const std::string pergunta = "Senha do usuário " + operador_->Nome() + " no banco de dados: ";
    ler(pergunta);
    ASSERT_NE(tela.find(pergunta), std::string::npos) << tela;
    const std::string linha = operador_->Senha() + "\n";
    ASSERT_EQ(::write(terminal, linha.data(), linha.size()), static_cast<ssize_t>(linha.size()));
    ler({});
    int estado = 0;
    ::waitpid(filho, &estado, 0);
    ::close(terminal);
    EXPECT_TRUE(WIFEXITED(estado) && WEXITSTATUS(estado) == 0) << tela;
    EXPECT_NE(tela.find("Gerando Margem.txt"), std::string::npos) << tela;
    EXPECT_NE(tela.find("Arquivos gerados em"), std::string::npos) << tela;
    EXPECT_EQ(tela.find(operador_->Senha()), std::string::npos) << tela;
}

// Ctrl-C as the operator: the tool cancels its own work through the monitoring tables, which the
// role lets it do. The import waits on rows SYSDBA holds, so the signal finds it posting.
TEST_F(MenorPrivilegio, InterrupcaoComOPapel) {
    ASSERT_EQ(Preparar(Banco(), operador_->Nome()).codigo, 0);
    const Linhas original = Deducoes(Banco());
    Instalacao operador(Conf(*operador_, true));
    fb::Conexao sysdba;
    sysdba.Abrir(DeUtf8(Banco()), kUsuarioBanco, kSenhaBanco);
    fb::Transacao trava(sysdba, fb::ModoTransacao::Escrita);
    fb::Comando(trava, "update SFPDXX02FEV set MCVALOR = MCVALOR", "travar as linhas").Executar();
    const auto sinal = std::chrono::seconds(4);
    const auto inicio = std::chrono::steady_clock::now();
    const Execucao e = operador.Executar(Importar(), {}, sinal);
    const auto depoisDoSinal = std::chrono::steady_clock::now() - inicio - sinal;
    trava.Rollback();
    // Not a measure of speed: without the right to remove its attachment the tool would sit out
    // the whole wait for the rows (and then fail as interrupted all the same), so only an end well
    // within that wait shows the cancellation.
    EXPECT_LT(depoisDoSinal, std::chrono::seconds(fb::kEsperaPorBloqueio / 2));
    EXPECT_EQ(e.codigo, 130) << e.erro;
    EXPECT_NE(e.erro.find("nenhuma parcela foi lançada"), std::string::npos) << e.erro;
    EXPECT_EQ(Deducoes(Banco()), original);
    EXPECT_EQ(Diario(Banco()), Linhas{});
    EXPECT_TRUE(fs::is_empty(Saida()));
}

// A commit whose answer was lost is settled by looking for the import's transaction in the
// monitoring tables: as the operator, from a new connection, it is still seen while it lives.
TEST_F(MenorPrivilegio, ConfirmacaoIncertaComOPapel) {
    ASSERT_EQ(Preparar(Banco(), operador_->Nome()).codigo, 0);
    LoginBanco login;
    login.usuario = operador_->Nome();
    login.senha = operador_->Senha();
    login.papel = "KAVLO_OPERADOR";
    DefinirLogin(login);
    fb::Conexao conexao;
    AbrirBancoDaFolha(conexao, DeUtf8(Banco()));
    auto transacao = std::make_unique<fb::Transacao>(conexao, fb::ModoTransacao::Escrita);
    int64_t id;
    {
        fb::Comando c(*transacao, "select current_transaction from RDB$DATABASE", "ler o número");
        fb::Cursor r = c.Abrir();
        ASSERT_TRUE(r.Proximo());
        id = r.Inteiro(0u);
    }
    std::string motivo;
    EXPECT_EQ(VerificarGravacao(DeUtf8(Banco()), 999, id, 1.0, motivo),
              EstadoGravacao::Desconhecida);
    EXPECT_EQ(motivo, "a transação da importação ainda está aberta no servidor");
    transacao.reset();
    EXPECT_EQ(VerificarGravacao(DeUtf8(Banco()), 999, id, 5.0, motivo), EstadoGravacao::NaoGravada);
    DefinirLogin(std::nullopt);
}
