#include "entry/Chamadas.h"

#include <mutex>

#include "entry/ProcessoKavlo.h"
#include "util/Observacao.h"

namespace kavlo {
namespace {

std::mutex umaChamadaPorVez;

// The call's progress reporting, for as long as the call runs.
class ObservacaoDaChamada {
  public:
    ObservacaoDaChamada() { Observacao::Definir(&observacao_); }
    ~ObservacaoDaChamada() { Observacao::Definir(nullptr); }
    ObservacaoDaChamada(const ObservacaoDaChamada&) = delete;
    ObservacaoDaChamada& operator=(const ObservacaoDaChamada&) = delete;
    void Fim() { observacao_.FimEtapa(); }

  private:
    Observacao observacao_;
};

}  // namespace

void GerarArquivos(const ArgumentosGeracao& a) {
    std::lock_guard<std::mutex> trava(umaChamadaPorVez);
    ObservacaoDaChamada observacao;
    TProcessoKAVLO processo;
    processo.MesAtual = a.MesAtual;
    processo.MesAnt = a.MesAnt;
    processo.Ano = a.Ano;
    processo.CaminhoBanco = a.CaminhoBanco;
    processo.CaminhoArquivo = a.CaminhoArquivo;
    processo.SqlFiltro = a.SqlFiltro;
    if (processo.ConectarBanco()) {
        processo.Geracao();
        processo.Exportacao();
    }
    observacao.Fim();
}

namespace {

ResumoImportacao Importar(const ArgumentosImportacao& a, const OpcoesImportacao& opcoes,
                          std::optional<ArquivoDeRetorno> lido) {
    std::lock_guard<std::mutex> trava(umaChamadaPorVez);
    ObservacaoDaChamada observacao;
    TProcessoKAVLO processo;
    processo.MesAtual = a.MesAtual;
    processo.Ano = a.Ano;
    processo.CaminhoBanco = a.CaminhoBanco;
    processo.CaminhoArquivo = a.CaminhoArquivo;
    processo.CaminhoLoad = a.CaminhoLoad;
    processo.Folhas = a.Folhas;
    processo.VerificaMargem = a.VerificaMargem;
    processo.Opcoes = opcoes;
    if (processo.ConectarBanco())
        processo.Importacao(lido ? processo.LidoNaVerificacao(std::move(*lido))
                                 : processo.LerRetorno());
    observacao.Fim();
    return processo.ResumoDaImportacao;
}

}  // namespace

ResumoImportacao ImportarRetorno(const ArgumentosImportacao& a, const OpcoesImportacao& opcoes) {
    return Importar(a, opcoes, std::nullopt);
}

ResumoImportacao ImportarRetorno(const ArgumentosImportacao& a, const OpcoesImportacao& opcoes,
                                 ArquivoDeRetorno lido) {
    return Importar(a, opcoes, std::move(lido));
}

}  // namespace kavlo
