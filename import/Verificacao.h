// A check of a return file before it is posted: the file is read exactly as the import reads it,
// its lines are held against the month's payroll, and whatever would post a wrong amount to a
// wrong servant, or stop the import half-way, is reported line by line. It writes nothing.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "dao/firebird/Firebird.h"
#include "import/ArquivoRetorno.h"
#include "import/Diario.h"

namespace kavlo {

enum class Gravidade {
    Impede,    // the import would fail on it, or refuse the file
    Suspeita,  // the import would run but likely post wrongly: shifted lines, another encoding
    Aviso,     // worth a look; the import handles it (a key not found, a repeated instalment)
};

// What a finding is about, to group findings by and to decide on them.
enum class TipoAchado {
    // The file as a whole.
    Vazio,               // no line at all, or no instalment
    Codificacao,         // UTF-8 without a byte-order mark
    Competencia,         // the header names another month or year
    JaImportado,         // the same lines imported into this table, not undone
    Cortado,             // the last line is an instalment: the file was cut
    Rodape,              // the trailer's count is missing or not the file's
    TotalDoRodape,       // the trailer's total is not the sum of the instalments
    CadastroIlegivel,    // the month's registration could not be read
    CpfMaioria,          // most lines bring another person's CPF
    MaioriaSemServidor,  // most lines name nobody active in the month
    NaoERetorno,         // most lines are not instalment lines of the layout: another file
    // One line.
    Comprimento,       // a length unlike the other instalment lines: shifted fields
    OutraPessoa,       // CPF and name both another person's: the import refuses the file
    Cpf,               // the CPF alone differs from the payroll's
    Nome,              // the name alone differs from the payroll's
    Repetida,          // the same instalment earlier in the file
    JaLancada,         // the same instalment posted into this table by an import not undone
    FormatoDoValor,    // an amount not written as digits and one decimal point
    ValorZero,         // an instalment of zero
    ContadorNegativo,  // a negative instalment counter
    Valor,             // an amount, code or counter the import would fail on
    NaoEncontrada,     // a key the month's table has not: ignored
    Inativa,           // a key without an active row: ignored
};

struct Achado {
    size_t linha;  // 1-based; 0 for the file as a whole
    Gravidade gravidade;
    TipoAchado tipo;
    std::string texto;          // for the operator, in Portuguese
    std::u16string chave = {};  // the servant key of the line, when the finding is about one
};

struct Verificacao {
    size_t linhas = 0, detalhes = 0;
    size_t comprimentoUsual = 0;  // of the instalment lines
    std::vector<Achado> achados;
    // What the import would do, as far as the payroll tells now.
    int64_t descontadas = 0, naoDescontadas = 0, semSlot = 0, naoEncontradas = 0, inativas = 0;
    int64_t totalCentavos = 0;
    std::optional<ImportacaoRegistrada> anterior;  // the same file imported into the table

    bool Tem(Gravidade g) const;
    std::map<TipoAchado, size_t> Contagem(Gravidade g) const;
};

struct PedidoVerificacao {
    std::u16string mes, ano, retorno;
    bool estrito = true;  // the margin mode the import would run in
};

// `lido`, when given, receives the file as the check read it, for the import to post from: its
// hashes and keys are the check's, and the import's pass over its lines fails if the bytes are no
// longer those the check read.
Verificacao VerificarRetorno(fb::Conexao& conexao, const PedidoVerificacao& pedido,
                             std::optional<ArquivoDeRetorno>* lido = nullptr);

}  // namespace kavlo
