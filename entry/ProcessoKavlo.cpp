#include "entry/ProcessoKavlo.h"

#include "dao/BancoFolha.h"
#include "dao/Direitos.h"
#include "entry/Conexao.h"
#include "export/ExportacaoKavlo.h"
#include "generation/GeracaoKavlo.h"
#include "import/ImportacaoKavlo.h"
#include "util/Caminhos.h"
#include "util/Erros.h"

namespace kavlo {
namespace {
TProcessoKAVLO* instancia = nullptr;
}  // namespace

TProcessoKAVLO::TProcessoKAVLO()
    : FGeracao(std::make_unique<TGeracaoKAVLO>()),
      FExportacao(std::make_unique<TExportacaoKAVLO>()),
      FImportacao(std::make_unique<TImportacaoKAVLO>()) {
    instancia = this;
}

TProcessoKAVLO::~TProcessoKAVLO() {
    FGeracao.reset();
    FExportacao.reset();
    FImportacao.reset();
    if (instancia == this) instancia = nullptr;
}

TProcessoKAVLO& TProcessoKAVLO::getInstance() {
    if (!instancia) throw Erro("Processo Kavlo Não instanciado.");
    return *instancia;
}

bool TProcessoKAVLO::Instanciado() {
    return instancia != nullptr;
}

fb::Conexao& TProcessoKAVLO::Conexao() const {
    return dmConexao().fdConexao;
}

void TProcessoKAVLO::Geracao() {
    FExportacao->Preparar();
    try {
        FGeracao->Gerar(*FExportacao);
    } catch (const ErroBanco& e) {
        // Generation's own statements only read: a write can only be the host's filter's.
        if (!TentouGravarSemPoder(e)) throw;
        throw e.Com(
            "O filtro de servidores tentou gravar no banco de dados: a geração só lê a folha, numa "
            "transação somente de leitura, e nada foi gravado. Corrija o filtro para que apenas "
            "selecione as matrículas (ele chama um procedimento ou uma função que grava). " +
            std::string(e.what()));
    }
}

void TProcessoKAVLO::Exportacao() {
    FExportacao->Exportar();
}

ArquivoDeRetorno TProcessoKAVLO::LerRetorno() {
    ArquivoDeRetorno arquivo(CaminhoDe(CaminhoLoad));
    HashRetorno = arquivo.Hash();
    return arquivo;
}

ArquivoDeRetorno TProcessoKAVLO::LidoNaVerificacao(ArquivoDeRetorno AArquivo) {
    HashRetorno = AArquivo.Hash();
    return AArquivo;
}

void TProcessoKAVLO::Importacao(ArquivoDeRetorno AArquivo) {
    ResumoDaImportacao =
        FImportacao->Importar(AArquivo, SemLocalhost(CaminhoBanco), VerificaMargem);
}

bool TProcessoKAVLO::ConectarBanco() {
    fb::Conexao& conexao = dmConexao().fdConexao;
    conexao.Fechar();
    AbrirBancoDaFolha(conexao, CaminhoBanco);
    return conexao.Aberta();
}

}  // namespace kavlo
