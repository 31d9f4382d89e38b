// What an operator reads when the tool fails or refuses: real Firebird situations told in
// Portuguese, with what to check, the engine's English only with --detalhes; a file that is not a
// return file told once; a refused undo told briefly, with its full list in a file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "tests/apoio/BancoTeste.h"
#include "tests/apoio/Ferramenta.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

class Mensagens : public ::testing::Test {
  protected:
    // Built by the tool: a database this process never opened, so that no child inherits the
    // engine's hold on the file.
    void SetUp() override {
        const Execucao e = Kavlo({"demo", "--banco", Banco(), "--retorno", Retorno(),
                                  "--servidores", "200", "--mes", "2", "--ano", "2024"},
                                 Pasta());
        ASSERT_EQ(e.codigo, 0) << e.erro;
    }
    fs::path Pasta() const { return pasta_.Caminho(); }
    std::string Banco() const { return (Pasta() / "folha.fdb").string(); }
    std::string Retorno() const { return (Pasta() / "retorno.txt").string(); }
    std::string Resultado() const { return (Pasta() / "resultado.txt").string(); }
    std::vector<std::string> Gerar(const std::string& banco, const std::string& filtro) const {
        fs::create_directories(Pasta() / "saida");
        return GerarDaDemo(banco, (Pasta() / "saida").string(), filtro);
    }
    static size_t Linhas(const std::string& texto) {
        return static_cast<size_t>(std::count(texto.begin(), texto.end(), '\n'));
    }
    PastaTemporaria pasta_;
};

// Another process that has the database open embedded, as the payroll application or a second
// kavlo would: the engine holds the file for its own process alone. isql holds it until told to
// go; it says it is attached by a query's output in a file, and is started again until it is.
class OutroProgramaComOBanco {
  public:
    OutroProgramaComOBanco(const std::string& banco, const fs::path& pasta)
        : pasta_(pasta), banco_(banco) {
        for (int tentativa = 0; tentativa < 20 && !anexado_; ++tentativa) {
            Iniciar();
            anexado_ = LerArquivo(pasta_ / "anexado.txt").find("ANEXADO") != std::string::npos;
            if (!anexado_) Soltar();
        }
    }
    ~OutroProgramaComOBanco() { Soltar(); }
    bool Pronto() const { return anexado_; }

  private:
    void Iniciar() {
        std::error_code ec;
        for (const char* f : {"preso", "solto", "anexado.txt"}) fs::remove(pasta_ / f, ec);
        isql_ = std::make_unique<FerramentaEmExecucao>(
            "/usr/bin/isql-fb", std::vector<std::string>{"-q", "-user", "SYSDBA", banco_}, pasta_,
            "output '" + (pasta_ / "anexado.txt").string() +
                "';\nselect 'ANEXADO' from rdb$database;\noutput;\nshell touch '" +
                (pasta_ / "preso").string() +
                "';\n"
                // The loop's own ";" would end an isql command.
                "set term !! ;\nshell while [ ! -e '" +
                (pasta_ / "solto").string() + "' ]; do sleep 0.05; done!!\n");
        for (int i = 0; i < 600 && !fs::exists(pasta_ / "preso"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    void Soltar() {
        if (!isql_) return;
        GravarArquivo(pasta_ / "solto", "");
        isql_->Esperar();
        isql_.reset();
    }
    fs::path pasta_;
    std::string banco_;
    bool anexado_ = false;
    std::unique_ptr<FerramentaEmExecucao> isql_;
};

}  // namespace

// Each situation fails with exit 1 and its Portuguese message, which says what to check; the
// engine's own text appears only with --detalhes (after the message, as "Firebird: ...").
TEST_F(Mensagens, ErrosDoBancoEmPortuguesEOTextoDoFirebirdSoComDetalhes) {
    struct Caso {
        std::string nome;
        std::function<std::vector<std::string>()> argumentos;
        std::vector<std::string> mensagem;  // all of them in standard error
        std::string ingles;                 // the engine's text, only with --detalhes
        std::vector<std::string> nunca = {};
    };
    const std::string copiaSoLeitura = (Pasta() / "somente-leitura.fdb").string();
    const std::string inexistente = (Pasta() / "nao-existe" / "folha.fdb").string();
    const std::vector<Caso> casos = {
        {"arquivo que não existe",
         [&] {
             return std::vector<std::string>{"importacoes", "--banco", inexistente};
         },
         {"Não foi possível conectar ao banco de dados", "o arquivo do banco de dados não existe",
          "confira o caminho"},
         "I/O error"},
        {"arquivo somente para leitura",
         [&] {
             fs::copy_file(Banco(), copiaSoLeitura);
             ::chmod(copiaSoLeitura.c_str(), 0444);
             return std::vector<std::string>{"importacoes", "--banco", copiaSoLeitura};
         },
         {"o arquivo do banco de dados não pode ser gravado",
          "dê permissão de gravação ao arquivo"},
         "read-write",
         {"direito", "usuário"}},
        {"tabela do filtro que não existe",
         [&] { return Gerar(Banco(), "select matricula from SFP001MAR"); },
         {"a tabela SFP001MAR citada no filtro não existe", "nada foi gerado"},
         "Table unknown",
         {"Confira o mês", "coluna MATRICULA"}},
        {"erro de sintaxe no filtro",
         [&] { return Gerar(Banco(), "select matricula fro SFP001FEV"); },
         {"erro de sintaxe no filtro perto de 'SFP001FEV' (linha 1, coluna 22 do filtro)"},
         "Token unknown",
         {"coluna MATRICULA", "Confira o mês"}},
        {"coluna do filtro que não existe",
         [&] { return Gerar(Banco(), "select matricula from SFP001FEV where salario_x > 0"); },
         {"a coluna SALARIO_X citada no filtro não existe"},
         "Column unknown"},
        {"filtro sem a coluna MATRICULA",
         [&] { return Gerar(Banco(), "select nome from SFP001FEV"); },
         {"precisa ser um select que devolva a coluna MATRICULA"},
         "Column unknown"},
        {"valor que não se converte no filtro",
         [&] { return Gerar(Banco(), "select matricula from SFP001FEV where nome = 1"); },
         {"não pôde ser convertido"},
         "conversion error"},
        {"erro sem explicação própria",
         [&] {
             return Gerar(Banco(),
                          "select matricula from SFP001FEV where gen_id(NAO_EXISTE, 0) = 0");
         },
         {"o banco de dados recusou a operação", "repita com kavlo --detalhes"},
         "NAO_EXISTE"},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        const std::vector<std::string> argumentos = c.argumentos();
        const Execucao sem = Kavlo(argumentos, Pasta());
        EXPECT_EQ(sem.codigo, 1) << sem.erro;
        for (const std::string& m : c.mensagem)
            EXPECT_NE(sem.erro.find(m), std::string::npos) << m << "\n" << sem.erro;
        for (const std::string& m : c.nunca)
            EXPECT_EQ(sem.erro.find(m), std::string::npos) << m << "\n" << sem.erro;
        EXPECT_EQ(sem.erro.find(c.ingles), std::string::npos) << sem.erro;
        EXPECT_EQ(sem.erro.find("Firebird:"), std::string::npos) << sem.erro;

        std::vector<std::string> detalhado = {"--detalhes"};
        detalhado.insert(detalhado.end(), argumentos.begin(), argumentos.end());
        const Execucao com = Kavlo(detalhado, Pasta());
        EXPECT_EQ(com.codigo, 1) << com.erro;
        EXPECT_NE(com.erro.find(c.mensagem.front()), std::string::npos) << com.erro;
        const size_t firebird = com.erro.find("\nFirebird: ");
        EXPECT_NE(firebird, std::string::npos) << com.erro;
        EXPECT_NE(com.erro.find(c.ingles, firebird), std::string::npos) << com.erro;
    }
}

// Embedded, the engine keeps the file for its own process: a second program is told that another
// one holds the file and how to share it (through the server), in both kinds of call: the tool's
// own connection and the exported import.
TEST_F(Mensagens, BancoAbertoPorOutroProgramaDizComoDividir) {
    OutroProgramaComOBanco outro(Banco(), Pasta());
    ASSERT_TRUE(outro.Pronto());
    for (const auto& argumentos :
         {std::vector<std::string>{"importacoes", "--banco", Banco()},
          ImportarDaDemo(Banco(), Resultado(), Retorno()),
          std::vector<std::string>{"--detalhes", "importacoes", "--banco", Banco()}}) {
        const Execucao e = Kavlo(argumentos, Pasta());
        EXPECT_EQ(e.codigo, 1) << e.erro;
        EXPECT_NE(e.erro.find("está aberto por outro programa"), std::string::npos) << e.erro;
        EXPECT_NE(e.erro.find("localhost:"), std::string::npos) << e.erro;
        const bool detalhes = argumentos.front() == "--detalhes";
        EXPECT_EQ(e.erro.find("incompatible with current") != std::string::npos, detalhes)
            << e.erro;
    }
    EXPECT_FALSE(fs::exists(Resultado()));
}

// A file that is not a return file is one finding with a few line numbers, by verificar and by
// importar alike, which posts nothing.
TEST_F(Mensagens, ArquivoQueNaoERetornoEUmaOcorrenciaSo) {
    // Another file of the exchange by mistake: lines of another length whose amount positions
    // hold letters and digits.
    std::string outro = "0CABECALHO DE OUTRO ARQUIVO\r\n";
    for (int i = 0; i < 1330; ++i)
        outro += "1RAS 23700110401 " + std::to_string(100000 + i) + " SERVIDOR DE TESTE\r\n";
    outro += "9000001330\r\n";
    const fs::path errado = Pasta() / "Margem.txt";
    GravarArquivo(errado, outro);
    const Execucao v = Kavlo({"verificar", "--mes", "2", "--ano", "2024", "--banco", Banco(),
                              "--retorno", errado.string(), "--todas"},
                             Pasta());
    EXPECT_EQ(v.codigo, 3) << v.erro;
    EXPECT_NE(v.saida.find("não parece um arquivo de retorno: 1330 de 1330 linhas"),
              std::string::npos)
        << v.saida;
    EXPECT_NE(v.saida.find("as linhas 2, 3, 4, 5 e 6"), std::string::npos) << v.saida;
    EXPECT_LT(Linhas(v.saida), 12u) << v.saida;
    EXPECT_EQ(v.saida.find("not a valid"), std::string::npos) << v.saida;

    const Execucao i = Kavlo(ImportarDaDemo(Banco(), Resultado(), errado.string()), Pasta());
    EXPECT_EQ(i.codigo, 3) << i.erro;
    EXPECT_NE(i.erro.find("não parece um arquivo de retorno"), std::string::npos) << i.erro;
    EXPECT_NE(i.erro.find("importe de novo"), std::string::npos) << i.erro;
    EXPECT_LT(Linhas(i.erro), 10u) << i.erro;
    EXPECT_FALSE(fs::exists(Resultado()));

    // A real return file with one bad amount keeps its line-by-line finding, in Portuguese.
    std::string retorno = LerArquivo(Retorno());
    const size_t segunda = retorno.find('\n') + 1;
    retorno.replace(segunda + 139, 15, "RAS 23700110401");
    const fs::path umaLinha = Pasta() / "retorno-um-valor.txt";
    GravarArquivo(umaLinha, retorno);
    const Execucao u = Kavlo({"verificar", "--mes", "2", "--ano", "2024", "--banco", Banco(),
                              "--retorno", umaLinha.string()},
                             Pasta());
    EXPECT_EQ(u.codigo, 3) << u.saida;
    EXPECT_EQ(u.saida.find("não parece um arquivo de retorno"), std::string::npos) << u.saida;
    EXPECT_NE(u.saida.find("linha 2: o valor da parcela 'RAS 23700110401' (posições 140 a 154) "
                           "não é um número"),
              std::string::npos)
        << u.saida;
    EXPECT_EQ(u.saida.find("not a valid"), std::string::npos) << u.saida;
}

// An undo that later imports stop says in a few lines how many servants, which imports to undo
// first and in which order, and where the full list is: a file of its owner's alone, beside the
// import's result file. Undone in that order, both go through.
TEST_F(Mensagens, EstornoRecusadoResumeEGuardaAListaNumArquivo) {
    ASSERT_EQ(Kavlo(ImportarDaDemo(Banco(), Resultado(), Retorno()), Pasta()).codigo, 0);
    const std::string segundo = (Pasta() / "segundo.txt").string();
    std::vector<std::string> reimportar = ImportarDaDemo(Banco(), segundo, Retorno());
    reimportar.push_back("--reimportar");
    reimportar.push_back("--verifica-margem");
    reimportar.push_back("N");
    ASSERT_EQ(Kavlo(reimportar, Pasta()).codigo, 0);

    const Execucao e = Kavlo({"estornar", "--banco", Banco(), "--importacao", "1"}, Pasta());
    EXPECT_EQ(e.codigo, 1) << e.erro;
    EXPECT_LT(Linhas(e.erro), 10u) << e.erro;
    for (const std::string& m :
         {std::string("A importação 1 não foi estornada. Nada foi alterado."),
          std::string("servidores impedem o estorno"), std::string("importação posterior"),
          std::string("kavlo estornar --importacao 2, e por fim esta (kavlo estornar "
                      "--importacao 1)"),
          std::string("resultado.ESTORNO1.txt")})
        EXPECT_NE(e.erro.find(m), std::string::npos) << m << "\n" << e.erro;
    const fs::path lista = Pasta() / "resultado.ESTORNO1.txt";
    ASSERT_TRUE(fs::exists(lista));
    struct stat st {};
    ASSERT_EQ(::stat(lista.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string texto = LerArquivo(lista);
    EXPECT_GT(Linhas(texto), 20u);
    EXPECT_NE(texto.find(": importação 2, slot "), std::string::npos);

    // Refused again, the list goes under another name: nothing is replaced.
    EXPECT_EQ(Kavlo({"estornar", "--banco", Banco(), "--importacao", "1"}, Pasta()).codigo, 1);
    EXPECT_TRUE(fs::exists(Pasta() / "resultado.ESTORNO1-2.txt"));
    EXPECT_EQ(LerArquivo(lista), texto);

    EXPECT_EQ(Kavlo({"estornar", "--banco", Banco(), "--importacao", "2"}, Pasta()).codigo, 0);
    EXPECT_EQ(Kavlo({"estornar", "--banco", Banco(), "--importacao", "1"}, Pasta()).codigo, 0);
}
