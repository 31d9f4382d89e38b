// Output files are replaced as a set: all of them, or none.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <set>

#include "tests/apoio/BancoTeste.h"
#include "util/Arquivos.h"
#include "util/Erros.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

namespace {

std::set<std::string> Nomes(const fs::path& pasta) {
    std::set<std::string> r;
    for (const auto& e : fs::directory_iterator(pasta)) r.insert(e.path().filename().string());
    return r;
}

}  // namespace

TEST(Substituicao, FalhaNoTerceiroDevolveOsTresAnteriores) {
    PastaTemporaria pasta;
    const fs::path a = pasta.Caminho() / "a.txt", b = pasta.Caminho() / "b.txt",
                   c = pasta.Caminho() / "c.txt";
    GravarArquivo(a, "a antigo");
    GravarArquivo(c, "c antigo");  // b is new
    {
        ArquivoTemporario na(a), nb(b), nc(c);
        na.EscreverLinha(u"a novo");
        nb.EscreverLinha(u"b novo");
        nc.EscreverLinha(u"c novo");
        na.Fechar();
        nb.Fechar();
        nc.Fechar();
        fs::remove(nc.Temporario());  // the third cannot be put in place
        Substituicao s;
        s.Colocar(na);
        s.Colocar(nb);
        EXPECT_EQ(LerArquivo(a), "a novo\r\n");
        EXPECT_THROW(s.Colocar(nc), ErroArquivo);
    }
    EXPECT_EQ(LerArquivo(a), "a antigo");
    EXPECT_EQ(LerArquivo(c), "c antigo");
    EXPECT_EQ(Nomes(pasta.Caminho()), (std::set<std::string>{"a.txt", "c.txt"}));
}

TEST(Substituicao, SemConcluirDesfazEConcluidaLimpaOsAnteriores) {
    PastaTemporaria pasta;
    const fs::path a = pasta.Caminho() / "a.txt";
    GravarArquivo(a, "antigo");
    {
        ArquivoTemporario novo(a);
        novo.Escrever("novo");
        Substituicao s;
        s.Colocar(novo);
        EXPECT_EQ(LerArquivo(a), "novo");
    }  // a commit that failed after the files were in place
    EXPECT_EQ(LerArquivo(a), "antigo");
    EXPECT_EQ(Nomes(pasta.Caminho()), std::set<std::string>{"a.txt"});
    {
        ArquivoTemporario novo(a);
        novo.Escrever("novo");
        Substituicao s;
        s.Colocar(novo);
        s.Concluir();
    }
    EXPECT_EQ(LerArquivo(a), "novo");
    EXPECT_EQ(Nomes(pasta.Caminho()), std::set<std::string>{"a.txt"});
}

// What a process killed outright left for a destination is cleared by the next run for it: its
// own temporary files nobody holds, and an earlier file kept aside is put back where it is missing.
// Files of other names, and those a live writer holds, stay.
TEST(ArquivoTemporario, ProximaExecucaoLimpaORestoDeUmProcessoMorto) {
    PastaTemporaria pasta;
    const fs::path p = pasta.Caminho();
    GravarArquivo(p / "resultado.txt.tmp123456", "meio resultado");
    GravarArquivo(p / "resultado.txt.anterior42", "resultado da execução anterior");
    GravarArquivo(p / "relatorio.txt.tmp777", "de outro destino");
    GravarArquivo(p / "resultado.txt.tmpABC", "nome que a biblioteca não usa");
    GravarArquivo(p / "resultado.txt.bak", "do usuário");
    {
        ArquivoTemporario vivo(p / "outro.txt");  // a writer still at work
        const std::string nomeVivo = vivo.Temporario().filename().string();
        ArquivoTemporario novo(p / "resultado.txt");
        // The kept-aside file had no place: it is back, and the half-written one is gone.
        EXPECT_EQ(LerArquivo(p / "resultado.txt"), "resultado da execução anterior");
        EXPECT_FALSE(fs::exists(p / "resultado.txt.tmp123456"));
        EXPECT_TRUE(fs::exists(p / "relatorio.txt.tmp777"));
        EXPECT_TRUE(fs::exists(p / "resultado.txt.tmpABC"));
        EXPECT_TRUE(fs::exists(p / "resultado.txt.bak"));
        // A second writer of "outro.txt" leaves the first one's file alone while it is held.
        ArquivoTemporario outro(p / "outro.txt");
        EXPECT_TRUE(fs::exists(p / nomeVivo));
        novo.Escrever("novo");
        novo.Confirmar();
    }
    EXPECT_EQ(LerArquivo(p / "resultado.txt"), "novo");
    // With its destination in place, an abandoned kept-aside file is simply removed.
    GravarArquivo(p / "resultado.txt.anterior7", "sobra");
    { ArquivoTemporario novo(p / "resultado.txt"); }
    EXPECT_FALSE(fs::exists(p / "resultado.txt.anterior7"));
    EXPECT_EQ(LerArquivo(p / "resultado.txt"), "novo");
}

namespace {

// Sets an environment variable for the length of a scope.
class Ambiente {
  public:
    Ambiente(const char* nome, const char* valor) : nome_(nome) {
        if (const char* v = std::getenv(nome)) antes_ = v;
        setenv(nome, valor, 1);
    }
    ~Ambiente() {
        if (antes_)
            setenv(nome_, antes_->c_str(), 1);
        else
            unsetenv(nome_);
    }

  private:
    const char* nome_;
    std::optional<std::string> antes_;
};

// a.txt replaced and b.txt new, as one set whose fate is decided elsewhere, then left as a process
// that died before knowing it leaves it.
void DeixarConjunto(const fs::path& pasta, std::string decisao) {
    ArquivoTemporario a(pasta / "a.txt"), b(pasta / "b.txt");
    a.Escrever("a novo");
    b.Escrever("b novo");
    a.Fechar();
    b.Fechar();
    Substituicao s;
    s.Registrar({&a, &b}, std::move(decisao));
    s.Colocar(a);
    s.Colocar(b);
    s.Deixar();
}

std::string Conteudo(const fs::path& p) {
    return fs::exists(p) ? LerArquivo(p) : "-";
}

}  // namespace

// A set placed before its fate is known and left so is settled by a later run as its decision
// says, whether that run looks beside its destinations or in the folder of pending sets; until
// then no run for the same destination takes the earlier file it kept aside.
TEST(Substituicao, ConjuntoDeixadoEAcertadoPelaDecisao) {
    struct Caso {
        std::string nome;
        DestinoDaColocacao destino;
        bool semPastaDeEstado;  // only the records beside the destinations
        std::string a, b;       // afterwards
        size_t restos;          // files besides a.txt and b.txt afterwards
    };
    for (const auto& c : std::vector<Caso>{
             {"valem", DestinoDaColocacao::Valer, false, "a novo", "b novo", 0},
             {"desfeitos", DestinoDaColocacao::Desfazer, false, "a antigo", "-", 0},
             {"desfeitos, só com os registros ao lado", DestinoDaColocacao::Desfazer, true,
              "a antigo", "-", 0},
             // The earlier a.txt kept aside and the record beside each file.
             {"mantidos", DestinoDaColocacao::Manter, false, "a novo", "b novo", 3},
         }) {
        SCOPED_TRACE(c.nome);
        PastaTemporaria pasta;
        const fs::path p = pasta.Caminho();
        std::optional<Ambiente> estado, casa;
        if (c.semPastaDeEstado) estado.emplace("XDG_STATE_HOME", ""), casa.emplace("HOME", "");
        GravarArquivo(p / "a.txt", "a antigo");
        DeixarConjunto(p, "decide");
        // A run for a.txt before the set is settled keeps its earlier file aside.
        { ArquivoTemporario outro(p / "a.txt"); }
        EXPECT_EQ(Nomes(p).size(), 2u + 3u);
        std::vector<std::string> decisoes;
        const auto r = AcertarColocacoes(
            c.semPastaDeEstado ? std::vector<fs::path>{p / "b.txt"} : std::vector<fs::path>{},
            [&](const ColocacaoPendente& pendente) {
                decisoes.push_back(pendente.decisao);
                return c.destino;
            });
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(decisoes, std::vector<std::string>{"decide"});
        EXPECT_EQ(r[0].colocacao.itens.size(), 2u);
        EXPECT_EQ(Conteudo(p / "a.txt"), c.a);
        EXPECT_EQ(Conteudo(p / "b.txt"), c.b);
        EXPECT_EQ(Nomes(p).size(), (c.b == "-" ? 1u : 2u) + c.restos);
        // Settled once; left as it was, asked again next time.
        EXPECT_EQ(
            AcertarColocacoes({p / "a.txt"}, [](const auto&) { return DestinoDaColocacao::Valer; })
                .size(),
            c.destino == DestinoDaColocacao::Manter ? 1u : 0u);
    }
}

// A set whose writer still holds it is nobody else's to settle; a destination somebody wrote to
// after the writer died is neither replaced nor removed, and its earlier file stays aside.
TEST(Substituicao, ConjuntoVivoOuAlteradoDepois) {
    PastaTemporaria pasta;
    const fs::path p = pasta.Caminho();
    GravarArquivo(p / "a.txt", "a antigo");
    auto nunca = [](const ColocacaoPendente&) -> DestinoDaColocacao {
        ADD_FAILURE() << "acertou um conjunto que o seu processo ainda tem";
        return DestinoDaColocacao::Manter;
    };
    {
        ArquivoTemporario a(p / "a.txt");
        a.Escrever("a novo");
        a.Fechar();
        Substituicao s;
        s.Registrar({&a}, "viva");
        s.Colocar(a);
        EXPECT_TRUE(AcertarColocacoes({p / "a.txt"}, nunca).empty());
        s.Concluir();
    }
    EXPECT_EQ(Nomes(p), std::set<std::string>{"a.txt"});

    DeixarConjunto(p, "morta");
    GravarArquivo(p / "a.txt", "do usuário");
    const auto r = AcertarColocacoes(
        {p / "a.txt"}, [](const ColocacaoPendente&) { return DestinoDaColocacao::Desfazer; });
    ASSERT_EQ(r.size(), 1u);
    ASSERT_EQ(r[0].alterados.size(), 1u);
    EXPECT_EQ(LerArquivo(p / "a.txt"), "do usuário");
    EXPECT_EQ(LerArquivo(r[0].alterados[0].anterior), "a novo");
    EXPECT_FALSE(fs::exists(p / "b.txt"));
}
