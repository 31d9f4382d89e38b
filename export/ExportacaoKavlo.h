// The export writer: writes the three interchange files from the model.
#pragma once

#include <functional>
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

void EscreverPessoas(const TPessoas& pessoas, const SaidaLinhas& saida);
// Returns the margin sum written in the trailer.
double EscreverMargem(const TMargem& margem, const SaidaLinhas& saida);
void EscreverTransferidos(const TTransferidos& transferidos, const SaidaLinhas& saida);

class TExportacaoKAVLO {
  public:
    // Writes "Pessoas.csv", "Margem.txt" and "Transferidos.txt" into the current controller's
    // CaminhoArquivo. All three are built beside their destinations first and replace the
    // earlier files only when all three are complete: a failure leaves the earlier set as it was.
    void Exportar(const TKAVLO& AKAVLO);
};

}  // namespace kavlo
