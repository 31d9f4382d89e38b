#include "bench/Ambiente.h"

#include <fmt/core.h>

#include <algorithm>

#include "bench/Lancador.h"
#include "bench/PastaDoBench.h"
#include "bench/Resultados.h"
#include "dao/BancoFolha.h"
#include "dao/firebird/Firebird.h"
#include "demonstracao/BancoDemo.h"
#include "util/Caminhos.h"
#include "util/Codificacao.h"
#include "util/LeitorDeLinhas.h"

namespace fs = std::filesystem;

namespace kavlo::bench {
namespace {

// The host's filter: every registration of the month but about 1,400, spread over the payroll and
// written out as a literal list, as hosts keep it in their configuration.
std::u16string FiltroDoHospedeiro(const fs::path& banco) {
    fb::Conexao c;
    AbrirBancoDaFolha(c, DeUtf8(banco.string()));
    fb::Transacao t(c, fb::ModoTransacao::Leitura);
    fb::Comando q(t, std::string_view("select matricula from SFP001FEV order by matricula"),
                  "ler as matrículas");
    std::vector<std::u16string> todas;
    for (auto cur = q.Abrir(); cur.Proximo();) todas.push_back(cur.Texto(0u));
    const size_t quantas = std::min(kExcluidasPeloFiltro, todas.size() / 2);
    std::u16string lista;
    for (size_t k = 0; k < quantas; ++k)
        lista += (k ? u", '" : u"'") + todas[k * todas.size() / quantas] + u"'";
    return u"select matricula from SFP001FEV where matricula not in (" + lista + u")";
}

}  // namespace

Ambiente PrepararAmbiente() {
    Ambiente a{PastaDoBench(), nullptr};
    fs::create_directories(a.pasta / "saida");
    if (teste::ServidorFirebirdResponde()) {
        a.servidor = std::make_unique<teste::PastaDoServidor>();
        if (!a.servidor->Valida()) a.servidor.reset();
    }
    if (!a.servidor)
        fmt::print(stderr, "Sem servidor Firebird local: só o acesso embutido será medido.\n");
    return a;
}

Folha CriarFolha(const Ambiente& ambiente, int n) {
    Folha f{n,
            ambiente.pasta / fmt::format("modelo-{}.fdb", n),
            ambiente.pasta / fmt::format("retorno-{}.txt", n),
            {},
            {}};
    demo::OpcoesDemo o;
    o.banco = f.modelo.string();
    o.retorno = f.retorno.string();
    o.servidores = n;
    fmt::print(stderr, "Criando a folha de demonstração de {} servidores...\n", n);
    const Processo criacao = Cronometrar([&] { demo::CriarBancoDemo(o); });
    fmt::print(stderr, "  {} s\n", Decimal(criacao.segundos, 1));
    f.filtro = FiltroDoHospedeiro(f.modelo);
    f.linhas = LerLinhas(CaminhoDe(DeUtf8(f.retorno.string())));
    return f;
}

}  // namespace kavlo::bench
