#include "entry/ProcessoKavlo.h"

#include "entry/Conexao.h"
#include "export/ExportacaoKavlo.h"
#include "generation/GeracaoKavlo.h"
#include "import/ImportacaoKavlo.h"
#include "model/Kavlo.h"
#include "util/Erros.h"

namespace kavlo {
namespace {
TProcessoKAVLO* instancia = nullptr;

// The fixed credentials the payroll database is reached with.
constexpr const char* kUsuario = "SYSDBA";
constexpr const char* kSenha = "quillbank";
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

void TProcessoKAVLO::Importacao(const std::vector<std::u16string>& AArquivo) {
    FImportacao->Importar(AArquivo, SemLocalhost(CaminhoBanco), VerificaMargem);
}

bool TProcessoKAVLO::ConectarBanco() {
    fb::Conexao& conexao = dmConexao().fdConexao;
    conexao.Fechar();
    conexao.Abrir(CaminhoBanco, kUsuario, kSenha);
    return conexao.Aberta();
}

std::u16string SemLocalhost(std::u16string_view caminhoBanco) {
    std::u16string r(caminhoBanco);
    if (auto p = r.find(u"localhost:"); p != std::u16string::npos) r.erase(p, 10);
    return r;
}

}  // namespace kavlo
