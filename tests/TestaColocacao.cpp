// Sets of files placed before their fate is known (an import's result file and report before its
// commit): recorded first, settled by a later run as their decision says, never lost meanwhile.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <set>

#include "tests/apoio/BancoTeste.h"
#include "util/Caminhos.h"
#include "util/Substituicao.h"

using namespace kavlo;
using namespace kavlo::teste;
namespace fs = std::filesystem;

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
        EXPECT_EQ(NomesNaPasta(p).size(), 2u + 3u);
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
        EXPECT_EQ(NomesNaPasta(p).size(), (c.b == "-" ? 1u : 2u) + c.restos);
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
    EXPECT_EQ(NomesNaPasta(p), std::set<std::string>{"a.txt"});

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
