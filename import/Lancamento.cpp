#include "import/Lancamento.h"

#include "dao/Firebird.h"
#include "util/Codificacao.h"
#include "util/Erros.h"

namespace kavlo {

Desfecho Decidir(bool estrito, double margem, double parcela) {
    if (estrito && margem < parcela) return {Resultado::NaoDescontado, 0, parcela, margem};
    return {Resultado::Integral, parcela, 0, margem - parcela};
}

int PrimeiroSlotLivre(const LinhaDeducao& linha) {
    for (int slot : SlotsUsaveis)
        if (!linha.ocupado[slot]) return slot;
    return 0;
}

GravadorLancamentos::GravadorLancamentos(fb::Transacao& transacao, std::u16string tabela)
    : transacao_(transacao), tabela_(std::move(tabela)) {}

GravadorLancamentos::~GravadorLancamentos() = default;

void GravadorLancamentos::Lancar(LinhaDeducao& linha, int slot, const Lancamento& l) {
    auto& comando = comandos_.at(static_cast<size_t>(slot));
    if (!comando) {
        const std::u16string n = DeUtf8(std::to_string(slot));
        comando = std::make_unique<fb::Comando>(
            transacao_,
            u"update " + tabela_ + u" set COD" + n + u" = ?, VALOR" + n + u" = ?, QUANT" + n +
                u" = ?, PERC" + n + u" = ?, TEMPO" + n +
                u" = ?, MCVALOR = ?, RECALCULAR = 'S' where rdb$db_key = ?",
            "lançar a parcela no slot " + std::to_string(slot) + " da tabela " + ParaUtf8(tabela_));
    }
    const int64_t tempo = int64_t{l.quant} - l.perc + 1;
    const uint64_t alteradas =
        comando->Executar({l.codigo, l.valor, int64_t{l.quant}, int64_t{l.perc}, tempo,
                           l.novaMargem, fb::Octetos{linha.chaveBanco}});
    if (alteradas != 1)
        throw ErroBanco("Erro ao lançar a parcela do servidor " + ParaUtf8(linha.matricula) +
                        " na tabela " + ParaUtf8(tabela_) + ": " + std::to_string(alteradas) +
                        " linhas alteradas, esperada exatamente uma.");
    linha.ocupado[static_cast<size_t>(slot)] = true;
    linha.margem = l.novaMargem;
}

}  // namespace kavlo
