#include "entry/ProcessoKavlo.h"

#include "dao/BancoFolha.h"
#include "entry/Conexao.h"
#include "export/ExportacaoKavlo.h"
#include "generation/GeracaoKavlo.h"
#include "import/ImportacaoKavlo.h"
#include "model/Kavlo.h"
#include "util/Arquivos.h"
#include "util/Erros.h"

namespace kavlo {
namespace {
TProcessoKAVLO* instancia = nullptr;
}  // namespace

TProcessoKAVLO::TProcessoKAVLO()
    : FGeracao(std::make_unique<TGeracaoKAVLO>()),
      FExportacao(std::make_unique<TExportacaoKAVLO>()),
      FImportacao(std::make_unique<TImportacaoKAVLO>()),
      FKAVLO(std::make_unique<TKAVLO>()) {
    instancia = this;
}

TProcessoKAVLO::~TProcessoKAVLO() {
    FGeracao.reset();
    FExportacao.reset();
    FImportacao.reset();
    FKAVLO.reset();
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
    FKAVLO = FGeracao->Gerar();
}

void TProcessoKAVLO::Exportacao() {
    FExportacao->Exportar(*FKAVLO);
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
