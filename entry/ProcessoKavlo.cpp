#include "entry/ProcessoKavlo.h"

#include "dao/BancoFolha.h"
#include "entry/Conexao.h"
#include "export/ExportacaoKavlo.h"
#include "generation/GeracaoKavlo.h"
#include "import/ImportacaoKavlo.h"
#include "util/Arquivos.h"
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
    FGeracao->Gerar(*FExportacao);
}

void TProcessoKAVLO::Exportacao() {
    FExportacao->Exportar();
}

ArquivoDeRetorno TProcessoKAVLO::LerRetorno() {
    ArquivoDeRetorno arquivo(CaminhoDe(CaminhoLoad));
    HashRetorno = arquivo.Hash();
    return arquivo;
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
