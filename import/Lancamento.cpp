#include "import/Lancamento.h"

#include <algorithm>

#include "dao/Firebird.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Utils.h"

namespace kavlo {
namespace {

std::u16string Num(size_t n) {
    return DeUtf8(std::to_string(n));
}

// Firebird 3 takes statements of up to 64 KB; a batch stays well below.
constexpr size_t kTamanhoMaximoSql = 56000;

// One EXECUTE BLOCK for `linhas` rows that each take the slots `slots`. Parameters, in order: the
// import id; then per row r its key (Kr), MATRICULA (Xr) and final margin (Mr), and per slot n the
// code, value, counters and TEMPO (Cr_n, Vr_n, Qr_n, Pr_n, Tr_n), the return line (Lr_n) and the
// margin after that posting (Nr_n). The UPDATE returns every changed column before and after, as
// stored; the journal keeps them. "falhou" names the first row that did not change exactly once;
// "bloqueada" the first that another connection held past the lock wait.
constexpr std::u16string_view kDeclaracoesDoSlot =
    u"  declare CA{n} varchar(1000) character set octets;\n"
    u"  declare CD{n} varchar(1000) character set octets;\n"
    u"  declare VA{n} double precision;\n  declare VD{n} double precision;\n"
    u"  declare QA{n} double precision;\n  declare QD{n} double precision;\n"
    u"  declare PA{n} double precision;\n  declare PD{n} double precision;\n"
    u"  declare TA{n} double precision;\n  declare TD{n} double precision;\n";
constexpr std::u16string_view kDeclaracoesDaLinha =
    u"  declare MA double precision;\n  declare MD double precision;\n"
    u"  declare RA varchar(1000) character set octets;\n"
    u"  declare RD varchar(1000) character set octets;\n";
constexpr std::u16string_view kParametrosDaLinha =
    u", K{r} char(8) character set octets = ?, X{r} varchar(1000) character set win1252 = ?"
    u", M{r} double precision = ?";
constexpr std::u16string_view kParametrosDoSlot =
    u", C{p} varchar(10) character set win1252 = ?, V{p} double precision = ?"
    u", Q{p} integer = ?, P{p} integer = ?, T{p} integer = ?, L{p} integer = ?"
    u", N{p} double precision = ?";
constexpr std::u16string_view kConjuntoDoSlot =
    u"COD{n} = :C{p}, VALOR{n} = :V{p}, QUANT{n} = :Q{p}, PERC{n} = :P{p}, TEMPO{n} = :T{p}, ";
constexpr std::u16string_view kRetornoDoSlot =
    u"old.COD{n}, new.COD{n}, old.VALOR{n}, new.VALOR{n}, old.QUANT{n}, new.QUANT{n}, "
    u"old.PERC{n}, new.PERC{n}, old.TEMPO{n}, new.TEMPO{n}, ";
constexpr std::u16string_view kDestinoDoSlot =
    u":CA{n}, :CD{n}, :VA{n}, :VD{n}, :QA{n}, :QD{n}, :PA{n}, :PD{n}, :TA{n}, :TD{n}, ";
// A row another connection holds fails after the transaction's lock wait; caught here, so the
// operator is told which servant it was.
constexpr std::u16string_view kLinha =
    u"  begin\n"
    u"  update {tabela} set {conjunto}MCVALOR = :M{r}, RECALCULAR = 'S' where rdb$db_key = :K{r}\n"
    u"    returning {retorno}old.MCVALOR, new.MCVALOR, old.RECALCULAR, new.RECALCULAR\n"
    u"    into {destino}:MA, :MD, :RA, :RD;\n"
    u"  if (row_count <> 1) then begin if (falhou < 0) then falhou = {r}; end else begin\n"
    u"{diario}"
    u"  end\n"
    u"  when gdscode lock_timeout, gdscode lock_conflict, gdscode update_conflict, "
    u"gdscode deadlock do begin if (bloqueada < 0) then bloqueada = {r}; end\n"
    u"  end\n";
constexpr std::u16string_view kDiarioDoSlot =
    u"    insert into KAVLO_LANCAMENTO (ID_IMPORTACAO, LINHA_RETORNO, MATRICULA, CHAVE_LINHA, SLOT,"
    u" COD_ANTES, COD_DEPOIS, VALOR_ANTES, VALOR_DEPOIS, QUANT_ANTES, QUANT_DEPOIS, PERC_ANTES,"
    u" PERC_DEPOIS, TEMPO_ANTES, TEMPO_DEPOIS, MCVALOR_ANTES, MCVALOR_DEPOIS, RECALCULAR_ANTES,"
    u" RECALCULAR_DEPOIS)\n"
    u"      values (:ID, :L{p}, :X{r}, :K{r}, {n}, :CA{n}, :CD{n}, :VA{n}, :VD{n}, :QA{n}, :QD{n},"
    u" :PA{n}, :PD{n}, :TA{n}, :TD{n}, {mcAntes}, {mcDepois}, {recAntes}, :RD);\n";
constexpr std::u16string_view kBloco =
    u"execute block (ID integer = ?{parametros})\n"
    u"returns (falhou integer, bloqueada integer)\nas\n{declaracoes}"
    u"begin\n  falhou = -1;\n  bloqueada = -1;\n{corpo}  suspend;\nend";

std::u16string SqlBloco(std::u16string_view tabela, const std::vector<int>& slots, size_t linhas) {
    std::u16string parametros, declaracoes, corpo;
    for (int slot : slots)
        declaracoes += Preencher(kDeclaracoesDoSlot, {{u"n", Num(static_cast<size_t>(slot))}});
    declaracoes += kDeclaracoesDaLinha;
    for (size_t i = 0; i < linhas; ++i) {
        const std::u16string r = Num(i);
        parametros += Preencher(kParametrosDaLinha, {{u"r", r}});
        std::u16string conjunto, retorno, destino, diario;
        for (size_t k = 0; k < slots.size(); ++k) {
            const std::u16string n = Num(static_cast<size_t>(slots[k]));
            std::u16string p = r;
            p += u'_';
            p += n;
            parametros += Preencher(kParametrosDoSlot, {{u"p", p}});
            conjunto += Preencher(kConjuntoDoSlot, {{u"n", n}, {u"p", p}});
            retorno += Preencher(kRetornoDoSlot, {{u"n", n}});
            destino += Preencher(kDestinoDoSlot, {{u"n", n}});
            // MCVALOR and RECALCULAR before and after each posting of the row: the first starts
            // from what the row held, the last ends at what it holds now, the ones between at the
            // margin each posting left.
            const std::u16string anterior =
                k == 0 ? std::u16string(u":MA")
                       : Preencher(u":N{r}_{n}",
                                   {{u"r", r}, {u"n", Num(static_cast<size_t>(slots[k - 1]))}});
            const std::u16string depois =
                k + 1 == slots.size() ? std::u16string(u":MD") : Preencher(u":N{p}", {{u"p", p}});
            diario += Preencher(kDiarioDoSlot, {{u"p", p},
                                                {u"r", r},
                                                {u"n", n},
                                                {u"mcAntes", anterior},
                                                {u"mcDepois", depois},
                                                {u"recAntes", k == 0 ? u":RA" : u":RD"}});
        }
        corpo += Preencher(kLinha, {{u"tabela", tabela},
                                    {u"conjunto", conjunto},
                                    {u"r", r},
                                    {u"retorno", retorno},
                                    {u"destino", destino},
                                    {u"diario", diario}});
    }
    return Preencher(
        kBloco, {{u"parametros", parametros}, {u"declaracoes", declaracoes}, {u"corpo", corpo}});
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

Avaliacao Avaliar(const LinhaDeducao& linha, std::u16string_view linhaRetorno, bool estrito) {
    Avaliacao a{ParcelaDaLinha(linhaRetorno), linha.margem, PrimeiroSlotLivre(linha), {}, {}};
    a.desfecho = a.slot ? Decidir(estrito, a.margem, a.parcela)
                        : Desfecho{Resultado::SemSlot, 0, a.parcela, a.margem};
    if (Lancado(a.desfecho.resultado)) a.dados = DadosDaLinha(linhaRetorno);
    return a;
}

void Ocupar(LinhaDeducao& linha, int slot, int64_t novaMargem) {
    linha.ocupado[static_cast<size_t>(slot)] = true;
    linha.margem = novaMargem;
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
    Ocupar(linha, slot, l.novaMargem);
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
