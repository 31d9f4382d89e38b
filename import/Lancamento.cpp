#include "import/Lancamento.h"

#include <algorithm>

#include "dao/Firebird.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"

namespace kavlo {
namespace {

std::u16string Num(size_t n) {
    return DeUtf8(std::to_string(n));
}

// Firebird 3 takes statements of up to 64 KB; a batch stays well below.
constexpr size_t kTamanhoMaximoSql = 56000;

// One EXECUTE BLOCK for `linhas` rows that each take the slots `slots`. Parameters, in order: the
// import id; then per row its key (K), MATRICULA (X) and final margin (M), and per slot the code,
// value, counters and TEMPO (C, V, Q, P, T), the return line (L) and the margin after that posting
// (N). The UPDATE returns every changed column before and after, as stored; the journal keeps
// them. "falhou" names the first row that did not change exactly once.
std::u16string SqlBloco(std::u16string_view tabela, const std::vector<int>& slots, size_t linhas) {
    std::u16string parametros = u"ID integer = ?", declaracoes, corpo;
    for (int slot : slots) {
        const std::u16string n = Num(static_cast<size_t>(slot));
        declaracoes +=
            u"  declare CA" + n + u" varchar(1000) character set octets;\n  declare CD" + n +
            u" varchar(1000) character set octets;\n  declare VA" + n +
            u" double precision;\n  declare VD" + n + u" double precision;\n  declare QA" + n +
            u" double precision;\n  declare QD" + n + u" double precision;\n  declare PA" + n +
            u" double precision;\n  declare PD" + n + u" double precision;\n  declare TA" + n +
            u" double precision;\n  declare TD" + n + u" double precision;\n";
    }
    declaracoes +=
        u"  declare MA double precision;\n  declare MD double precision;\n"
        u"  declare RA varchar(1000) character set octets;\n"
        u"  declare RD varchar(1000) character set octets;\n";
    for (size_t i = 0; i < linhas; ++i) {
        const std::u16string r = Num(i);
        parametros += u", K" + r + u" char(8) character set octets = ?, X" + r +
                      u" varchar(1000) character set win1252 = ?, M" + r + u" double precision = ?";
        std::u16string conjunto, retorno, destino;
        for (int slot : slots) {
            const std::u16string n = Num(static_cast<size_t>(slot));
            const std::u16string p = r + u"_" + n;
            parametros += u", C" + p + u" varchar(10) character set win1252 = ?, V" + p +
                          u" double precision = ?, Q" + p + u" integer = ?, P" + p +
                          u" integer = ?, T" + p + u" integer = ?, L" + p + u" integer = ?, N" + p +
                          u" double precision = ?";
            conjunto += u"COD" + n + u" = :C" + p + u", VALOR" + n + u" = :V" + p + u", QUANT" + n +
                        u" = :Q" + p + u", PERC" + n + u" = :P" + p + u", TEMPO" + n + u" = :T" +
                        p + u", ";
            for (std::u16string_view coluna : {u"COD", u"VALOR", u"QUANT", u"PERC", u"TEMPO"})
                retorno += u"old." + std::u16string(coluna) + n + u", new." +
                           std::u16string(coluna) + n + u", ";
            for (std::u16string_view v : {u"C", u"V", u"Q", u"P", u"T"})
                destino += u":" + std::u16string(v) + u"A" + n + u", :" + std::u16string(v) + u"D" +
                           n + u", ";
        }
        // A row another connection holds fails after the transaction's lock wait; caught here, so
        // the operator is told which servant it was.
        corpo += u"  begin\n  update " + std::u16string(tabela) + u" set " + conjunto +
                 u"MCVALOR = :M" + r + u", RECALCULAR = 'S' where rdb$db_key = :K" + r +
                 u"\n    returning " + retorno +
                 u"old.MCVALOR, new.MCVALOR, old.RECALCULAR, new.RECALCULAR\n    into " + destino +
                 u":MA, :MD, :RA, :RD;\n";
        corpo += u"  if (row_count <> 1) then begin if (falhou < 0) then falhou = " + r +
                 u"; end else begin\n";
        for (size_t k = 0; k < slots.size(); ++k) {
            const std::u16string n = Num(static_cast<size_t>(slots[k]));
            const std::u16string p = r + u"_" + n;
            const std::u16string anterior =
                k == 0 ? u":MA" : u":N" + r + u"_" + Num(static_cast<size_t>(slots[k - 1]));
            const std::u16string depois = k + 1 == slots.size() ? u":MD" : u":N" + p;
            corpo +=
                u"    insert into KAVLO_LANCAMENTO (ID_IMPORTACAO, LINHA_RETORNO, MATRICULA,"
                u" CHAVE_LINHA, SLOT, COD_ANTES, COD_DEPOIS, VALOR_ANTES, VALOR_DEPOIS,"
                u" QUANT_ANTES, QUANT_DEPOIS, PERC_ANTES, PERC_DEPOIS, TEMPO_ANTES,"
                u" TEMPO_DEPOIS, MCVALOR_ANTES, MCVALOR_DEPOIS, RECALCULAR_ANTES,"
                u" RECALCULAR_DEPOIS)\n      values (:ID, :L" +
                p + u", :X" + r + u", :K" + r + u", " + n + u", :CA" + n + u", :CD" + n + u", :VA" +
                n + u", :VD" + n + u", :QA" + n + u", :QD" + n + u", :PA" + n + u", :PD" + n +
                u", :TA" + n + u", :TD" + n + u", " + anterior + u", " + depois +
                (k == 0 ? u", :RA" : u", :RD") + u", :RD);\n";
        }
        corpo +=
            u"  end\n  when gdscode lock_timeout, gdscode lock_conflict, gdscode update_conflict,"
            u" gdscode deadlock do begin if (bloqueada < 0) then bloqueada = " +
            r + u"; end\n  end\n";
    }
    return u"execute block (" + parametros +
           u")\nreturns (falhou integer, bloqueada integer)\nas\n" + declaracoes +
           u"begin\n  falhou = -1;\n  bloqueada = -1;\n" + corpo + u"  suspend;\nend";
}

// "linha 7 do arquivo de retorno", "linhas 7, 9 do arquivo de retorno"
std::string LinhasDoRetorno(const LinhaDeducao& linha) {
    std::string r;
    for (const auto& [slot, l] : linha.pendentes)
        r += (r.empty() ? "" : ", ") + std::to_string(l.linhaRetorno);
    return (linha.pendentes.size() == 1 ? "linha " : "linhas ") + r + " do arquivo de retorno";
}

size_t LinhasPorBloco(std::u16string_view tabela, const std::vector<int>& slots) {
    const size_t umaLinha = SqlBloco(tabela, slots, 1).size();
    return std::clamp<size_t>(kTamanhoMaximoSql / umaLinha, 1, GravadorLancamentos::kLote);
}

}  // namespace

Desfecho Decidir(bool estrito, int64_t margem, int64_t parcela) {
    if (estrito && margem < parcela) return {Resultado::NaoDescontado, 0, parcela, margem};
    return {Resultado::Integral, parcela, 0, margem - parcela};
}

int PrimeiroSlotLivre(const LinhaDeducao& linha) {
    for (int slot : SlotsUsaveis)
        if (!linha.ocupado[static_cast<size_t>(slot)]) return slot;
    return 0;
}

GravadorLancamentos::GravadorLancamentos(fb::Transacao& transacao, std::u16string tabela,
                                         int32_t idImportacao)
    : transacao_(transacao), tabela_(std::move(tabela)), idImportacao_(idImportacao) {}

GravadorLancamentos::~GravadorLancamentos() = default;

void GravadorLancamentos::Lancar(LinhaDeducao& linha, int slot, const Lancamento& l) {
    const auto n = static_cast<size_t>(slot);
    if (linha.ocupado[n])
        throw Erro("Erro interno: o slot " + std::to_string(slot) + " do servidor " +
                   ParaMensagem(linha.matricula) + " já está ocupado.");
    if (linha.pendentes.empty()) alteradas_.push_back(&linha);
    // Slots are taken in ascending order, so the list stays sorted by slot.
    linha.pendentes.emplace_back(slot, l);
    linha.ocupado[n] = true;
    linha.margem = l.novaMargem;
}

fb::Comando& GravadorLancamentos::Bloco(const std::vector<int>& slots, size_t linhas) {
    auto& comando = blocos_[{slots, linhas}];
    if (!comando)
        comando =
            std::make_unique<fb::Comando>(transacao_, SqlBloco(tabela_, slots, linhas),
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
        const size_t lote = LinhasPorBloco(tabela_, slots);
        for (size_t inicio = 0; inicio < linhas.size(); inicio += lote) {
            const size_t quantas = std::min(lote, linhas.size() - inicio);
            std::vector<fb::Parametro> p;
            p.reserve(1 + quantas * (3 + 7 * slots.size()));
            p.emplace_back(int64_t{idImportacao_});
            for (size_t i = inicio; i < inicio + quantas; ++i) {
                const LinhaDeducao& linha = *linhas[i];
                p.emplace_back(fb::Octetos{linha.chaveBanco});
                p.emplace_back(linha.matricula);
                p.emplace_back(Reais(linha.margem));
                for (const auto& [slot, l] : linha.pendentes) {
                    p.emplace_back(l.codigo);
                    p.emplace_back(Reais(l.valor));
                    p.emplace_back(int64_t{l.quant});
                    p.emplace_back(int64_t{l.perc});
                    p.emplace_back(int64_t{l.quant} - l.perc + 1);
                    p.emplace_back(static_cast<int64_t>(l.linhaRetorno));
                    p.emplace_back(Reais(l.novaMargem));
                }
            }
            fb::Cursor c = Bloco(slots, quantas).Abrir(p);
            const bool linha = c.Proximo();
            const int falhou = linha ? c.Inteiro(0u) : 0;
            if (const int bloqueada = linha ? c.Inteiro(1u) : -1; bloqueada >= 0) {
                const LinhaDeducao& l = *linhas[inicio + static_cast<size_t>(bloqueada)];
                throw ErroBanco("A linha do servidor " + ParaMensagem(l.matricula) + " (" +
                                LinhasDoRetorno(l) + ") na tabela " + ParaUtf8(tabela_) +
                                " está sendo alterada por outro programa, e continuou bloqueada "
                                "depois de " +
                                std::to_string(fb::kEsperaPorBloqueio) +
                                " s de espera. Nenhuma parcela foi lançada: feche o outro "
                                "programa, ou espere que ele termine, e importe de novo.");
            }
            if (falhou >= 0) {
                const LinhaDeducao& l = *linhas[inicio + static_cast<size_t>(falhou)];
                throw ErroBanco("Erro ao lançar as parcelas do servidor " +
                                ParaMensagem(l.matricula) + " (" + LinhasDoRetorno(l) +
                                ") na tabela " + ParaUtf8(tabela_) +
                                ": a linha do servidor não foi alterada exatamente uma vez.");
            }
        }
        // A shape's statements serve only its own rows; prepared blocks are large, so they go
        // as soon as the shape is written.
        blocos_.clear();
    }
    for (LinhaDeducao* linha : alteradas_) linha->pendentes.clear();
    alteradas_.clear();
}

}  // namespace kavlo
