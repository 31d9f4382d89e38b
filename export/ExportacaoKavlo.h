// The export writer: writes the three interchange files, record by record as generation hands
// them over, or from a whole model.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "model/Kavlo.h"

namespace kavlo {

// Where a writer puts its lines (without line ends): a file, or a list in a test.
using SaidaLinhas = std::function<void(std::u16string_view linha)>;

// The file formats that can fail, for the writers and their tests. Errors are ErroConversao
// naming the offending text.
std::u16string FormatarCpf(std::u16string_view cpf);
std::u16string FormatarCodigo(std::u16string_view codigo, int digitos);
std::u16string FormatarDataOuZeros(TDateTime data);

// A ";" or a line break inside a value would add a column or split a record: each becomes one
// blank. Nothing else changes.
std::u16string SemSeparadores(std::u16string_view texto);

// One file being written part by part as its records come: where its lines go, its name for
// messages, the number of the last line and, for the margin file, the sum of the margins written
// (unrounded, in record order, rounded once in the trailer). The trailer's count is the one the
// file's model carries: generation counts what it handed over.
struct Escrita {
    SaidaLinhas saida;
    const char* nome;
    size_t linha = 0;
    double soma = 0;

    void Cabecalho(const TPessoas& pessoas);
    void Cabecalho(const TMargem& margem);
    void Cabecalho(const TTransferidos& transferidos);
    void Registro(const TDPessoas& registro);
    void Registro(const TDMargem& registro);
    void Registro(const TDTransferidos& registro);
    void Rodape(const TPessoas& pessoas);
    void Rodape(const TMargem& margem);
    void Rodape(const TTransferidos& transferidos);
};

// A whole file from its model.
void EscreverPessoas(const TPessoas& pessoas, const SaidaLinhas& saida);
// Returns the margin sum written in the trailer.
double EscreverMargem(const TMargem& margem, const SaidaLinhas& saida);
void EscreverTransferidos(const TTransferidos& transferidos, const SaidaLinhas& saida);

// Writes "Pessoas.csv", "Margem.txt" and "Transferidos.txt" into the current controller's
// CaminhoArquivo. All three are built beside their destinations as generation hands their records
// over, and replace the earlier files only when all three are complete: a failure leaves the
// earlier set as it was, and the unfinished files are removed when the export is freed or
// prepared again.
class TExportacaoKAVLO : public DestinoKAVLO {
  public:
    TExportacaoKAVLO();
    ~TExportacaoKAVLO() override;
    TExportacaoKAVLO(const TExportacaoKAVLO&) = delete;
    TExportacaoKAVLO& operator=(const TExportacaoKAVLO&) = delete;

    // Checks the destinations (none may be another, or the database) and starts the three files;
    // before generation reads anything, so a wrong folder fails first.
    void Preparar();

    void InicioPessoas(const TPessoas& cabecalho) override;
    void Pessoa(const TDPessoas& registro) override;
    void FimPessoas(const TPessoas& rodape) override;
    void InicioMargem(const TMargem& cabecalho) override;
    void Margem(const TDMargem& registro) override;
    void FimMargem(const TMargem& rodape) override;
    void InicioTransferidos(const TTransferidos& cabecalho) override;
    void Transferido(const TDTransferidos& registro) override;
    void FimTransferidos(const TTransferidos& rodape) override;

    // Puts the three complete files in place, as one set.
    void Exportar();
    // The whole model at once: Preparar, every part, Exportar.
    void Exportar(const TKAVLO& AKAVLO);

  private:
    struct Arquivo;
    static Arquivo& Aberto(const std::unique_ptr<Arquivo>& arquivo);
    std::unique_ptr<Arquivo> FPessoas;
    std::unique_ptr<Arquivo> FMargem;
    std::unique_ptr<Arquivo> FTransferidos;
};

}  // namespace kavlo
