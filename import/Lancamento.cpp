#include "import/Lancamento.h"

#include <algorithm>

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

void GravadorLancamentos::Lancar(LinhaDeducao& linha, int slot, const Lancamento& l,
                                 size_t linhaRetorno) {
    const auto n = static_cast<size_t>(slot);
    if (linha.ocupado[n])
        throw Erro("Erro interno: o slot " + std::to_string(slot) + " do servidor " +
                   ParaMensagem(linha.matricula) + " já está ocupado.");
    if (linha.linhasRetorno.empty()) alteradas_.push_back(&linha);
    // Slots are taken in ascending order, so the list stays sorted by slot.
    linha.pendentes.emplace_back(slot, l);
    linha.ocupado[n] = true;
    linha.margem = l.novaMargem;
    linha.linhasRetorno.push_back(linhaRetorno);
}

fb::Comando& GravadorLancamentos::Bloco(const std::vector<int>& slots, size_t linhas) {
    auto& comando = blocos_[{slots, linhas}];
    if (comando) return *comando;
    // One UPDATE per row; "falhou" names the first row that did not change exactly once.
    std::u16string parametros, corpo;
    for (size_t i = 0; i < linhas; ++i) {
        const std::u16string r = DeUtf8(std::to_string(i));
        parametros += (i ? u", " : u"") + (u"K" + r) + u" char(8) character set octets = ?, M" + r +
                      u" double precision = ?";
        corpo += u"  update " + tabela_ + u" set ";
        for (int slot : slots) {
            const std::u16string n = DeUtf8(std::to_string(slot));
            const std::u16string p = r + u"_" + n;
            parametros += u", C" + p + u" varchar(10) = ?, V" + p + u" double precision = ?, Q" +
                          p + u" integer = ?, P" + p + u" integer = ?, T" + p + u" integer = ?";
            corpo += u"COD" + n + u" = :C" + p + u", VALOR" + n + u" = :V" + p + u", QUANT" + n +
                     u" = :Q" + p + u", PERC" + n + u" = :P" + p + u", TEMPO" + n + u" = :T" + p +
                     u", ";
        }
        corpo += u"MCVALOR = :M" + r + u", RECALCULAR = 'S' where rdb$db_key = :K" + r + u";\n";
        corpo += u"  if (row_count <> 1 and falhou < 0) then falhou = " + r + u";\n";
    }
    comando = std::make_unique<fb::Comando>(
        transacao_,
        u"execute block (" + parametros +
            u")\nreturns (falhou integer)\nas\nbegin\n  falhou = -1;\n" + corpo +
            u"  suspend;\nend",
        "lançar as parcelas na tabela " + ParaUtf8(tabela_));
    return *comando;
}

void GravadorLancamentos::Gravar() {
    // Rows that changed the same slots share a statement shape.
    std::map<std::vector<int>, std::vector<LinhaDeducao*>> porForma;
    for (LinhaDeducao* linha : alteradas_) {
        std::vector<int> slots;
        for (const auto& [slot, l] : linha->pendentes) slots.push_back(slot);
        porForma[slots].push_back(linha);
    }
    for (const auto& [slots, linhas] : porForma) {
        for (size_t inicio = 0; inicio < linhas.size(); inicio += kLote) {
            const size_t quantas = std::min(kLote, linhas.size() - inicio);
            std::vector<fb::Parametro> p;
            p.reserve(quantas * (2 + 5 * slots.size()));
            for (size_t i = inicio; i < inicio + quantas; ++i) {
                const LinhaDeducao& linha = *linhas[i];
                p.emplace_back(fb::Octetos{linha.chaveBanco});
                p.emplace_back(linha.margem);
                for (const auto& [slot, l] : linha.pendentes) {
                    p.emplace_back(l.codigo);
                    p.emplace_back(l.valor);
                    p.emplace_back(int64_t{l.quant});
                    p.emplace_back(int64_t{l.perc});
                    p.emplace_back(int64_t{l.quant} - l.perc + 1);
                }
            }
            fb::Cursor c = Bloco(slots, quantas).Abrir(p);
            const int falhou = c.Proximo() ? c.Inteiro(0u) : 0;
            if (falhou >= 0) {
                const LinhaDeducao& linha = *linhas[inicio + static_cast<size_t>(falhou)];
                std::string origem;
                for (size_t n : linha.linhasRetorno)
                    origem += (origem.empty() ? "" : ", ") + std::to_string(n);
                throw ErroBanco("Erro ao lançar as parcelas do servidor " +
                                ParaMensagem(linha.matricula) +
                                (linha.linhasRetorno.size() == 1 ? " (linha " : " (linhas ") +
                                origem + " do arquivo de retorno) na tabela " + ParaUtf8(tabela_) +
                                ": a linha do servidor não foi alterada exatamente uma vez.");
            }
        }
    }
    for (LinhaDeducao* linha : alteradas_) {
        linha->pendentes.clear();
        linha->linhasRetorno.clear();
    }
    alteradas_.clear();
}

}  // namespace kavlo
