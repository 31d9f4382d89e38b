#include "bench/Execucoes.h"

#include <fmt/core.h>

#include <stdexcept>

#include "bench/Referencias.h"
#include "dao/BancoFolha.h"
#include "dao/firebird/Firebird.h"
#include "util/Codificacao.h"

namespace fs = std::filesystem;

namespace kavlo::bench {

Execucoes::Execucoes(const Lancador& lancador, const Ambiente& ambiente, const Folha& folha,
                     bool viaServidor, Medida& m)
    : lancador_(lancador),
      ambiente_(ambiente),
      folha_(folha),
      viaServidor_(viaServidor),
      m_(m),
      rotulo_(fmt::format("[{} servidores, {}]", folha.n, viaServidor ? "servidor" : "embutido")) {}

Execucoes::~Execucoes() {
    std::error_code ec;
    if (!banco_.empty()) fs::remove(banco_, ec);
}

void Execucoes::Geracao() {
    Copiar();
    for (int k = 0; k < Repeticoes(); ++k) {
        Registrar("referência da geração", k, ReferenciaGeracao(local16_, folha_.filtro),
                  m_.referenciaGeracao);
        Registrar("geração", k, Gerar(folha_.filtro), m_.geracao);
    }
    Registrar("geração com o filtro trivial", 0, Gerar(kFiltroTrivial), m_.geracaoTrivial, 1);
}

void Execucoes::Importacao() {
    for (int k = 0; k < Repeticoes(); ++k) {
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
        Registrar("kavlo importar", k,
                  Rodar({KAVLO_FERRAMENTA, "importar", "--mes", "2", "--ano", "2024", "--banco",
                         local_, "--resultado", Resultado(), "--retorno", folha_.retorno.string(),
                         "--folhas", "MENSAL", "--verifica-margem", "S"}),
                  m_.importar);
    }
}

void Execucoes::Copiar() {
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

void Execucoes::Registrar(std::string_view oQue, int k, const Processo& p, Figura& figura,
                          int de) const {
    figura.Incluir(p);
    fmt::print(stderr, "{} {} {}/{}: {} s, CPU {} s{}\n", rotulo_, oQue, k + 1,
               de ? de : Repeticoes(), Decimal(p.segundos, 1), Decimal(p.cpu, 1),
               p.picoMiB ? fmt::format(", pico {} MiB", p.picoMiB) : "");
}

Processo Execucoes::Rodar(std::vector<std::string> argumentos) const {
    return lancador_.Rodar(std::move(argumentos), ambiente_.pasta / "erros.txt");
}

Processo Execucoes::Gerar(const std::u16string& filtro) const {
    return Rodar({KAVLO_FERRAMENTA, "gerar", "--mes", "2", "--mes-anterior", "1", "--ano", "2024",
                  "--banco", local_, "--saida", (ambiente_.pasta / "saida").string() + "/",
                  "--filtro", ParaUtf8(filtro)});
}

std::string Execucoes::Resultado() const {
    return (ambiente_.pasta / "saida" / "resultado.txt").string();
}

std::u16string Execucoes::Consultar(std::string_view sql) const {
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

std::string Execucoes::UltimaImportacao() const {
    const std::u16string id = Consultar("select max(ID) from KAVLO_IMPORTACAO");
    if (id.size() < 2) throw std::runtime_error("importação não registrada");
    return ParaUtf8(id.substr(0, id.size() - 1));
}

void Execucoes::ConferirDiario() {
    const std::u16string diario = Consultar(
        "select count(*), sum(LINHA_RETORNO * 100.0 + SLOT), sum(round(VALOR_DEPOIS * 100)), "
        "sum(round(MCVALOR_DEPOIS * 100)), sum(round(MCVALOR_ANTES * 100)) from "
        "KAVLO_LANCAMENTO");
    if (diario_.empty()) diario_ = diario;
    if (diario != diario_)
        throw std::runtime_error("a referência e a importação não gravaram o mesmo diário: " +
                                 ParaUtf8(diario_) + " e " + ParaUtf8(diario));
}

}  // namespace kavlo::bench
