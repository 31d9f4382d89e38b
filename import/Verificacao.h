// A check of a return file before it is posted: the file is read exactly as the import reads it,
// its lines are held against the month's payroll, and whatever would post a wrong amount to a
// wrong servant, or stop the import half-way, is reported line by line. It writes nothing.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "dao/Firebird.h"
#include "import/Diario.h"

namespace kavlo {

enum class Gravidade {
    Impede,    // the import would fail on it, or refuse the file
    Suspeita,  // the import would run but likely post wrongly: shifted lines, another encoding
    Aviso,     // worth a look; the import handles it (a key not found, a repeated instalment)
};

struct Achado {
    size_t linha;  // 1-based; 0 for the file as a whole
    Gravidade gravidade;
    std::string tipo;           // a short name to group findings by ("cpf", "comprimento", ...)
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
    std::optional<ImportacaoRegistrada> anterior;  // the same file imported for the month

    bool Tem(Gravidade g) const;
    std::map<std::string, size_t> Contagem(Gravidade g) const;
};

struct PedidoVerificacao {
    std::u16string mes, ano, retorno;
    bool estrito = true;  // the margin mode the import would run in
};

Verificacao VerificarRetorno(fb::Conexao& conexao, const PedidoVerificacao& pedido);

}  // namespace kavlo
