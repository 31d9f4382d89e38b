// The process controller: carries one call's arguments, owns the objects that do the work and is
// reachable from them as the current instance.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "import/ImportacaoKavlo.h"

namespace kavlo {

namespace fb {
class Conexao;
}
class TGeracaoKAVLO;
class TExportacaoKAVLO;

class TProcessoKAVLO {
  public:
    TProcessoKAVLO();
    ~TProcessoKAVLO();
    TProcessoKAVLO(const TProcessoKAVLO&) = delete;
    TProcessoKAVLO& operator=(const TProcessoKAVLO&) = delete;

    std::u16string MesAtual;
    std::u16string MesAnt;
    std::u16string Ano;
    std::u16string SqlFiltro;
    std::u16string CaminhoBanco;
    std::u16string Folhas;
    std::u16string CaminhoArquivo;
    std::u16string CaminhoLoad;
    std::u16string VerificaMargem;
    // What callers inside the process may ask of an import; the exports leave it as it is.
    OpcoesImportacao Opcoes;
    // SHA-256 of the return file's bytes, taken by LerRetorno.
    std::string HashRetorno;
    // What the last Importacao did.
    ResumoImportacao ResumoDaImportacao;

    // Generation hands each record to the export as it reads it, which writes it beside its
    // destination; Exportacao then puts the three finished files in place.
    void Geracao();
    void Exportacao();
    // The first pass over the return file at CaminhoLoad: its hash, its lines counted, its keys.
    ArquivoDeRetorno LerRetorno();
    // The same first pass, made already by a check of the file.
    ArquivoDeRetorno LidoNaVerificacao(ArquivoDeRetorno AArquivo);
    // Runs the import over the return file, reading its lines again.
    void Importacao(ArquivoDeRetorno AArquivo);
    // Points the shared connection at CaminhoBanco; true when it is open afterwards.
    bool ConectarBanco();

    // The controller of the running call; raises "Processo Kavlo Não instanciado." when none.
    static TProcessoKAVLO& getInstance();
    static bool Instanciado();

    fb::Conexao& Conexao() const;

  private:
    std::unique_ptr<TGeracaoKAVLO> FGeracao;
    std::unique_ptr<TExportacaoKAVLO> FExportacao;
    std::unique_ptr<TImportacaoKAVLO> FImportacao;
};

}  // namespace kavlo
