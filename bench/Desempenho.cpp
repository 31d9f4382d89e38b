// kavlo_desempenho: generation and import on demo payrolls of growing size, embedded and through
// a local server, beside raw references measured in the same run (bench/Referencias.h), against
// the targets a state-sized payroll inside a 32-bit host needs (printed with the table):
// - generation (`kavlo gerar`, with a host filter that leaves out about 1,400 registrations by a
//   literal list) within 1.1x of its reference, read on a WIN1252 connection;
// - the exported import (ImportarArquivo from a host of its own, strict mode) within 1.1x of its
//   reference, which writes the same journal rows in the same kind of batches;
// - `kavlo importar`, which checks the return file before it imports, within 1.25x of the exported
//   import, and `kavlo estornar` of the import just measured no slower than it;
// - peak resident memory within 100 MiB up to 100,000 servants and 256 MiB beyond (1,000,000),
//   and time growing at most 11x from 100,000 to 1,000,000 servants.
//   kavlo_desempenho [sizes...]        (default 100000 1000000)
// Each program runs in a process of its own (bench/Lancador.h), so its peak memory is its own.
// Every time is the best of three runs; whatever changes the database runs on a fresh copy.
// Progress goes to standard error, the table to standard output. Server figures need a server on
// localhost (scripts/servidor-firebird.sh).
#include <fmt/core.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/Lancador.h"
#include "bench/PastaDoBench.h"
#include "bench/Referencias.h"
#include "bench/Resultados.h"
#include "dao/BancoFolha.h"
#include "dao/firebird/Firebird.h"
#include "demonstracao/BancoDemo.h"
#include "tests/apoio/ServidorTeste.h"
#include "util/Caminhos.h"
#include "util/Codificacao.h"
#include "util/LeitorDeLinhas.h"

namespace fs = std::filesystem;
using namespace kavlo;
using namespace kavlo::bench;

namespace {

const std::u16string kFiltroTrivial = u"select matricula from SFP001FEV";

// Where the runs happen: the scratch folder and, when a server answers, a folder it can open.
struct Ambiente {
    fs::path pasta = PastaDoBench();
    std::unique_ptr<teste::PastaDoServidor> servidor;
};

Ambiente PrepararAmbiente() {
    Ambiente a;
    fs::create_directories(a.pasta / "saida");
    if (teste::ServidorFirebirdResponde()) {
        a.servidor = std::make_unique<teste::PastaDoServidor>();
        if (!a.servidor->Valida()) a.servidor.reset();
    }
    if (!a.servidor)
        fmt::print(stderr, "Sem servidor Firebird local: só o acesso embutido será medido.\n");
    return a;
}

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

// A demo payroll of `n` servants, its return file and the host's filter for it.
struct Folha {
    int n;
    fs::path modelo, retorno;
    std::u16string filtro;
    std::vector<std::u16string> linhas;  // of the return file
};

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

// The runs of one payroll size through one access, each figure into `m`.
class Execucoes {
  public:
    Execucoes(const Lancador& lancador, const Ambiente& ambiente, const Folha& folha,
              bool viaServidor, Medida& m)
        : lancador_(lancador),
          ambiente_(ambiente),
          folha_(folha),
          viaServidor_(viaServidor),
          m_(m),
          rotulo_(
              fmt::format("[{} servidores, {}]", folha.n, viaServidor ? "servidor" : "embutido")) {}
    ~Execucoes() {
        std::error_code ec;
        if (!banco_.empty()) fs::remove(banco_, ec);
    }

    // The reference and `kavlo gerar` with the host's filter on one copy, taking turns so that
    // both meet the same moments of a shared machine; then the trivial filter once.
    void Geracao() {
        Copiar();
        for (int k = 0; k < kRepeticoes; ++k) {
            Registrar("referência da geração", k, ReferenciaGeracao(local16_, folha_.filtro),
                      m_.referenciaGeracao);
            Registrar("geração", k, Gerar(folha_.filtro), m_.geracao);
        }
        Registrar("geração com o filtro trivial", 0, Gerar(kFiltroTrivial), m_.geracaoTrivial, 1);
    }

    // The reference, the exported import followed by `kavlo estornar` of it, and `kavlo
    // importar`, in turns, each on a fresh copy.
    void Importacao() {
        for (int k = 0; k < kRepeticoes; ++k) {
            Copiar();
            Registrar("referência da importação", k, ReferenciaImportacao(local16_, folha_.linhas),
                      m_.referenciaImportacao);
            ConferirDiario();

            Copiar();
            Registrar("importação exportada", k,
                      Rodar({HOSPEDEIRO_IMPORTACAO, "2", "2024", local_, Resultado(),
                             folha_.retorno.string(), "MENSAL", "S"}),
                      m_.importacao);
            ConferirDiario();
            Registrar("kavlo estornar", k,
                      Rodar({KAVLO_FERRAMENTA, "estornar", "--banco", local_, "--importacao",
                             UltimaImportacao()}),
                      m_.estorno);

            Copiar();
            Registrar(
                "kavlo importar", k,
                Rodar({KAVLO_FERRAMENTA, "importar", "--mes", "2", "--ano", "2024", "--banco",
                       local_, "--resultado", Resultado(), "--retorno", folha_.retorno.string(),
                       "--folhas", "MENSAL", "--verifica-margem", "S"}),
                m_.importar);
        }
    }

  private:
    // A fresh copy of the payroll, under a name of its own: a server may keep a file open a while
    // after its last connection, and a copy written over it would be read mixed with the old one.
    void Copiar() {
        if (!banco_.empty()) fs::remove(banco_);
        const std::string arquivo = fmt::format("folha-{}-{}.fdb", folha_.n, ++copias_);
        if (viaServidor_) {
            ambiente_.servidor->Receber(folha_.modelo, arquivo);
            banco_ = ambiente_.servidor->Caminho() / arquivo;
        } else {
            banco_ = ambiente_.pasta / arquivo;
            fs::copy_file(folha_.modelo, banco_);
        }
        local_ = (viaServidor_ ? "localhost:" : "") + banco_.string();
        local16_ = DeUtf8(local_);
    }

    // The machine is noisy: each time is the best of a few runs, each peak the largest.
    void Registrar(std::string_view oQue, int k, const Processo& p, Figura& figura,
                   int de = kRepeticoes) const {
        figura.Incluir(p);
        fmt::print(stderr, "{} {} {}/{}: {} s, CPU {} s{}\n", rotulo_, oQue, k + 1, de,
                   Decimal(p.segundos, 1), Decimal(p.cpu, 1),
                   p.picoMiB ? fmt::format(", pico {} MiB", p.picoMiB) : "");
    }

    Processo Rodar(std::vector<std::string> argumentos) const {
        return lancador_.Rodar(std::move(argumentos), ambiente_.pasta / "erros.txt");
    }

    Processo Gerar(const std::u16string& filtro) const {
        return Rodar({KAVLO_FERRAMENTA, "gerar", "--mes", "2", "--mes-anterior", "1", "--ano",
                      "2024", "--banco", local_, "--saida",
                      (ambiente_.pasta / "saida").string() + "/", "--filtro", ParaUtf8(filtro)});
    }

    std::string Resultado() const { return (ambiente_.pasta / "saida" / "resultado.txt").string(); }

    // The first row of `sql` on this copy, as text.
    std::u16string Consultar(std::string_view sql) const {
        fb::Conexao c;
        AbrirBancoDaFolha(c, local16_);
        fb::Transacao t(c, fb::ModoTransacao::Leitura);
        fb::Comando q(t, sql, "conferir o diário");
        auto cur = q.Abrir();
        std::u16string r;
        if (cur.Proximo())
            for (unsigned i = 0; i < cur.Colunas(); ++i) r += cur.Texto(i) + u";";
        return r;
    }

    // The number the import just run on this copy took in the journal.
    std::string UltimaImportacao() const {
        const std::u16string id = Consultar("select max(ID) from KAVLO_IMPORTACAO");
        if (id.size() < 2) throw std::runtime_error("importação não registrada");
        return ParaUtf8(id.substr(0, id.size() - 1));
    }

    // The reference must write the journal rows the import writes: the same postings, lines and
    // margins, whichever ran on this copy (the amounts in cents, so that no sum depends on the
    // rows' order).
    void ConferirDiario() {
        const std::u16string diario = Consultar(
            "select count(*), sum(LINHA_RETORNO * 100.0 + SLOT), sum(round(VALOR_DEPOIS * 100)), "
            "sum(round(MCVALOR_DEPOIS * 100)), sum(round(MCVALOR_ANTES * 100)) from "
            "KAVLO_LANCAMENTO");
        if (diario_.empty()) diario_ = diario;
        if (diario != diario_)
            throw std::runtime_error("a referência e a importação não gravaram o mesmo diário: " +
                                     ParaUtf8(diario_) + " e " + ParaUtf8(diario));
    }

    const Lancador& lancador_;
    const Ambiente& ambiente_;
    const Folha& folha_;
    const bool viaServidor_;
    Medida& m_;
    const std::string rotulo_;
    int copias_ = 0;
    fs::path banco_;
    std::string local_;
    std::u16string local16_;
    std::u16string diario_;
};

void Medir(const Lancador& lancador, const std::vector<int>& tamanhos) {
    const Ambiente ambiente = PrepararAmbiente();
    Medidas medidas;
    for (int n : tamanhos) {
        const Folha folha = CriarFolha(ambiente, n);
        for (const bool viaServidor : {false, true}) {
            if (viaServidor && !ambiente.servidor) continue;
            Execucoes execucoes(lancador, ambiente, folha, viaServidor, medidas[{n, viaServidor}]);
            execucoes.Geracao();
            execucoes.Importacao();
        }
        fs::remove(folha.modelo);
    }
    Imprimir(medidas, tamanhos, kFiltroTrivial);
}

int Uso() {
    fmt::print(stderr,
               "Uso: kavlo_desempenho [servidores...]   (de 1 a {}; padrão: 100000 1000000)\n",
               demo::kMaximoServidores);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> tamanhos;
    for (int i = 1; i < argc; ++i) {
        char* fim = nullptr;
        const long n = std::strtol(argv[i], &fim, 10);
        if (*fim != '\0' || n < 1 || n > demo::kMaximoServidores) return Uso();
        tamanhos.push_back(static_cast<int>(n));
    }
    if (tamanhos.empty()) tamanhos = {100000, 1000000};
    std::sort(tamanhos.begin(), tamanhos.end());
    tamanhos.erase(std::unique(tamanhos.begin(), tamanhos.end()), tamanhos.end());
    try {
        const Lancador lancador;  // first of all, while this process is small
        Medir(lancador, tamanhos);
        return 0;
    } catch (const std::exception& e) {
        fmt::print(stderr, "A medição falhou: {}\n", e.what());
        return 1;
    }
}
