#include "import/Lancamento.h"

#include <algorithm>

#include "dao/firebird/Firebird.h"
#include "import/BlocoDeLinhas.h"
#include "import/Diario.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Utils.h"

namespace kavlo {
namespace {

// Firebird 3 takes statements of up to 64 KB; a batch stays well below.
constexpr size_t kTamanhoMaximoSql = 56000;

// One EXECUTE BLOCK for `linhas` rows that each take the slots `slots`. Parameters, in order: the
// import id; then per row r its key (Kr), MATRICULA (Xr) and final margin (Mr), and per slot n the
// slot's columns (Cr_n, Vr_n, Qr_n, Pr_n, Tr_n: code, value, counters and TEMPO), the return line
// (Lr_n) and the margin after that posting (Nr_n). The UPDATE returns every changed column before
// and after, as stored (CA and CD for COD...); the journal keeps them. "falhou" names the first
// row that did not change exactly once; "bloqueada" the first that another connection held past
// the lock wait.
struct ModelosDoLancamento {
    std::u16string declaracoesDoSlot =
        BlocoDeLinhas::PorColuna(u"  declare {c}A{n} {guardado};\n  declare {c}D{n} {guardado};\n");
    std::u16string parametrosDoSlot = BlocoDeLinhas::PorColuna(u", {c}{p} {tipo} = ?") +
                                      u", L{p} integer = ?, N{p} double precision = ?";
    std::u16string conjunto = BlocoDeLinhas::PorColuna(u"{coluna}{n} = :{c}{p}, ");
    std::u16string retorno = BlocoDeLinhas::PorColuna(u"old.{coluna}{n}, new.{coluna}{n}, ");
    std::u16string destino = BlocoDeLinhas::PorColuna(u":{c}A{n}, :{c}D{n}, ");
    std::u16string diario = u"    insert into KAVLO_LANCAMENTO (" + ColunasDoDiario() +
                            u")\n      values (:ID, :L{p}, :X{r}, :K{r}, {n}, " + destino +
                            u"{mcAntes}, {mcDepois}, {recAntes}, :RD);\n";

    static std::u16string ColunasDoDiario() {
        std::u16string r;
        for (const ColunaDoDiario& c : ColunasDoLancamento())
            r += (r.empty() ? u"" : u", ") + DeUtf8(c.nome);
        return r;
    }
};
constexpr std::u16string_view kDeclaracoesDaLinha =
    u"  declare MA double precision;\n  declare MD double precision;\n"
    u"  declare RA varchar(1000) character set octets;\n"
    u"  declare RD varchar(1000) character set octets;\n";
constexpr std::u16string_view kParametrosDaLinha =
    u", K{r} char(8) character set octets = ?, X{r} varchar(1000) character set win1252 = ?"
    u", M{r} double precision = ?";
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
constexpr std::u16string_view kBloco =
    u"execute block (ID integer = ?{parametros})\n"
    u"returns (falhou integer, bloqueada integer)\nas\n{declaracoes}"
    u"begin\n  falhou = -1;\n  bloqueada = -1;\n{corpo}  suspend;\nend";

std::u16string SqlBloco(std::u16string_view tabela, const std::vector<int>& slots, size_t linhas) {
    static const ModelosDoLancamento m;
    const BlocoDeLinhas bloco(slots);
    const std::vector<std::u16string>& n = bloco.Numeros();
    return bloco.Montar(
        kBloco, m.declaracoesDoSlot, kDeclaracoesDaLinha, linhas,
        [&](const std::u16string& r, std::u16string& parametros, std::u16string& corpo) {
            parametros += Preencher(kParametrosDaLinha, {{u"r", r}});
            parametros += bloco.PorSlot(m.parametrosDoSlot, r);
            // MCVALOR and RECALCULAR before and after each posting of the row: the first starts
            // from what the row held, the last ends at what it holds now, the ones between at the
            // margin each posting left.
            std::u16string diario;
            for (size_t k = 0; k < n.size(); ++k) {
                const std::u16string p = r + u'_' + n[k];
                const std::u16string anterior =
                    k == 0 ? std::u16string(u":MA") : u":N" + r + u'_' + n[k - 1];
                const std::u16string depois = k + 1 == n.size() ? u":MD" : u":N" + p;
                diario += Preencher(m.diario, {{u"p", p},
                                               {u"r", r},
                                               {u"n", n[k]},
                                               {u"mcAntes", anterior},
                                               {u"mcDepois", depois},
                                               {u"recAntes", k == 0 ? u":RA" : u":RD"}});
            }
            corpo += Preencher(kLinha, {{u"tabela", tabela},
                                        {u"conjunto", bloco.PorSlot(m.conjunto, r)},
                                        {u"r", r},
                                        {u"retorno", bloco.PorSlot(m.retorno)},
                                        {u"destino", bloco.PorSlot(m.destino)},
                                        {u"diario", diario}});
        });
}

// "linha 7 do arquivo de retorno", "linhas 7, 9 do arquivo de retorno"
std::string LinhasDoRetorno(const std::vector<uint32_t>& linhas) {
    std::string r;
    for (uint32_t l : linhas) r += (r.empty() ? "" : ", ") + std::to_string(l);
    return (linhas.size() == 1 ? "linha " : "linhas ") + r + " do arquivo de retorno";
}

std::vector<int> SlotsDa(uint32_t forma) {
    std::vector<int> slots;
    for (int slot : SlotsUsaveis)
        if (forma >> slot & 1u) slots.push_back(slot);
    return slots;
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
        if (!linha.Ocupado(slot)) return slot;
    return 0;
}

Avaliacao Avaliar(const LinhaDeducao& linha, int64_t parcela, bool estrito) {
    Avaliacao a{parcela, linha.margem, PrimeiroSlotLivre(linha), {}, {}};
    a.desfecho = a.slot ? Decidir(estrito, a.margem, a.parcela)
                        : Desfecho{Resultado::SemSlot, 0, a.parcela, a.margem};
    return a;
}

Avaliacao Avaliar(const LinhaDeducao& linha, std::u16string_view linhaRetorno, bool estrito) {
    Avaliacao a = Avaliar(linha, ParcelaDaLinha(linhaRetorno), estrito);
    if (Lancado(a.desfecho.resultado)) a.dados = DadosDaLinha(linhaRetorno);
    return a;
}

void Ocupar(LinhaDeducao& linha, int slot, int64_t novaMargem) {
    linha.ocupados |= 1u << slot;
    linha.margem = novaMargem;
}

GravadorLancamentos::GravadorLancamentos(fb::Transacao& transacao, std::u16string tabela,
                                         int32_t idImportacao, const ConjuntoDeChaves& chaves,
                                         size_t maximoNaFila)
    : transacao_(transacao),
      tabela_(std::move(tabela)),
      idImportacao_(idImportacao),
      chaves_(chaves),
      maximoNaFila_(std::max<size_t>(maximoNaFila, 1)) {}

GravadorLancamentos::~GravadorLancamentos() = default;

void GravadorLancamentos::Lancar(LinhaDeducao& linha, int slot, const Lancamento& l) {
    const std::u16string_view matricula = chaves_.Chave(linha.indice);
    if (slot < 1 || slot > 17 || linha.Ocupado(slot))
        throw Erro("Erro interno: o slot " + std::to_string(slot) + " do servidor " +
                   ParaMensagem(matricula) + " já está ocupado.");
    if (linha.naFila)
        throw Erro("Erro interno: parcela do servidor " + ParaMensagem(matricula) +
                   " lançada depois da última linha do servidor.");
    if (l.codigo.size() > 2)
        throw Erro("Erro interno: código de desconto " + Aspas(l.codigo) +
                   " com mais de dois caracteres.");
    if (l.linhaRetorno > UINT32_MAX) throw Erro("Erro interno: linha do arquivo de retorno.");
    Pendente p{l.valor,
               l.novaMargem,
               l.quant,
               l.perc,
               static_cast<uint32_t>(l.linhaRetorno),
               linha.pendente,
               {},
               static_cast<uint8_t>(l.codigo.size()),
               static_cast<uint8_t>(slot)};
    std::copy(l.codigo.begin(), l.codigo.end(), p.codigo.begin());
    uint32_t lugar = livre_;
    if (lugar != LinhaDeducao::kNenhum) {
        livre_ = pendentes_[lugar].anterior;
        pendentes_[lugar] = p;
    } else {
        if (pendentes_.size() >= LinhaDeducao::kNenhum)
            throw Erro("Parcelas pendentes demais para gravar.");
        lugar = static_cast<uint32_t>(pendentes_.size());
        pendentes_.push_back(p);
    }
    if (linha.pendente == LinhaDeducao::kNenhum) {
        // Written rows leave the list now and then, so it holds about the rows still open.
        if (abertas_.size() >= 2 * abertasAposLimpeza_ + 1024) {
            std::erase_if(abertas_, [](const LinhaDeducao* a) {
                return a->pendente == LinhaDeducao::kNenhum;
            });
            abertasAposLimpeza_ = abertas_.size();
        }
        abertas_.push_back(&linha);
    }
    linha.pendente = lugar;
    Ocupar(linha, slot, l.novaMargem);
}

// The row's postings not yet written, in slot order (slots are taken in ascending order).
std::vector<const GravadorLancamentos::Pendente*> GravadorLancamentos::DaLinha(
    const LinhaDeducao& linha) const {
    std::vector<const Pendente*> r;
    for (uint32_t i = linha.pendente; i != LinhaDeducao::kNenhum; i = pendentes_[i].anterior)
        r.push_back(&pendentes_[i]);
    std::reverse(r.begin(), r.end());
    return r;
}

uint32_t GravadorLancamentos::Forma(const LinhaDeducao& linha) const {
    uint32_t forma = 0;
    for (uint32_t i = linha.pendente; i != LinhaDeducao::kNenhum; i = pendentes_[i].anterior)
        forma |= 1u << pendentes_[i].slot;
    return forma;
}

GravadorLancamentos::Fila& GravadorLancamentos::FilaDa(uint32_t forma) {
    Fila& fila = filas_[forma];
    if (fila.lote == 0) {
        fila.lote = LinhasPorBloco(tabela_, SlotsDa(forma));
        fila.linhas.reserve(fila.lote);
    }
    return fila;
}

void GravadorLancamentos::Concluida(LinhaDeducao& linha) {
    if (linha.pendente == LinhaDeducao::kNenhum || linha.naFila) return;
    const uint32_t forma = Forma(linha);
    Fila& fila = FilaDa(forma);
    linha.naFila = true;
    fila.linhas.push_back(&linha);
    ++naFila_;
    if (fila.linhas.size() >= fila.lote && Preparavel(forma, fila.lote)) Escoar(forma, fila, false);
    if (naFila_ < maximoNaFila_) return;
    // Too many waiting: the longest queue goes, whole if it has no full batch.
    auto maior = std::max_element(filas_.begin(), filas_.end(), [](const auto& a, const auto& b) {
        return a.second.linhas.size() < b.second.linhas.size();
    });
    Escoar(maior->first, maior->second, maior->second.linhas.size() < maior->second.lote);
}

void GravadorLancamentos::Escoar(uint32_t forma, Fila& fila, bool tudo) {
    size_t feitas = 0;
    while (fila.linhas.size() - feitas >= fila.lote || (tudo && feitas < fila.linhas.size())) {
        const size_t quantas = std::min(fila.lote, fila.linhas.size() - feitas);
        GravarLote(forma, std::span(fila.linhas).subspan(feitas, quantas));
        feitas += quantas;
    }
    fila.linhas.erase(fila.linhas.begin(), fila.linhas.begin() + static_cast<ptrdiff_t>(feitas));
    naFila_ -= feitas;
}

bool GravadorLancamentos::Preparavel(uint32_t forma, size_t linhas) const {
    return blocos_.size() < kBlocosPreparados ||
           std::any_of(blocos_.begin(), blocos_.end(),
                       [&](const Bloco& b) { return b.forma == forma && b.linhas == linhas; });
}

fb::Comando& GravadorLancamentos::Preparado(uint32_t forma, size_t linhas) {
    ++usos_;
    for (Bloco& b : blocos_)
        if (b.forma == forma && b.linhas == linhas) {
            b.uso = usos_;
            return *b.comando;
        }
    // Prepared blocks are large: the one used longest ago goes.
    if (blocos_.size() >= kBlocosPreparados)
        blocos_.erase(
            std::min_element(blocos_.begin(), blocos_.end(),
                             [](const Bloco& a, const Bloco& b) { return a.uso < b.uso; }));
    blocos_.push_back(
        {forma, linhas, usos_,
         std::make_unique<fb::Comando>(transacao_, SqlBloco(tabela_, SlotsDa(forma), linhas),
                                       "lançar as parcelas na tabela " + ParaUtf8(tabela_))});
    return *blocos_.back().comando;
}

void GravadorLancamentos::GravarLote(uint32_t forma, std::span<LinhaDeducao* const> linhas) {
    const size_t slots = SlotsDa(forma).size();
    std::vector<fb::Parametro> p;
    p.reserve(1 + linhas.size() * (3 + 7 * slots));
    p.emplace_back(int64_t{idImportacao_});
    for (const LinhaDeducao* linha : linhas) {
        p.emplace_back(
            fb::Octetos{std::string(linha->chaveBanco.begin(), linha->chaveBanco.end())});
        p.emplace_back(std::u16string(chaves_.Chave(linha->indice)));
        p.emplace_back(Reais(linha->margem));
        for (const Pendente* l : DaLinha(*linha)) {
            p.emplace_back(std::u16string(l->codigo.data(), l->tamanhoCodigo));
            p.emplace_back(Reais(l->valor));
            p.emplace_back(int64_t{l->quant});
            p.emplace_back(int64_t{l->perc});
            p.emplace_back(int64_t{l->quant} - l->perc + 1);
            p.emplace_back(static_cast<int64_t>(l->linhaRetorno));
            p.emplace_back(Reais(l->novaMargem));
        }
    }
    fb::Cursor c = Preparado(forma, linhas.size()).Abrir(p);
    const bool linha = c.Proximo();
    const int falhou = linha ? c.Inteiro(0u) : 0;
    const int bloqueada = linha ? c.Inteiro(1u) : -1;
    c.Fechar();
    // The servant and the return lines of the row at fault.
    auto servidor = [&](int i) {
        const LinhaDeducao& l = *linhas[static_cast<size_t>(i)];
        std::vector<uint32_t> retorno;
        for (const Pendente* pendente : DaLinha(l)) retorno.push_back(pendente->linhaRetorno);
        return ParaMensagem(chaves_.Chave(l.indice)) + " (" + LinhasDoRetorno(retorno) + ")";
    };
    if (bloqueada >= 0)
        throw ErroBanco("A linha do servidor " + servidor(bloqueada) + " na tabela " +
                        ParaUtf8(tabela_) +
                        " está sendo alterada por outro programa, e continuou bloqueada "
                        "depois de " +
                        std::to_string(fb::kEsperaPorBloqueio) +
                        " s de espera. Nenhuma parcela foi lançada: feche o outro "
                        "programa, ou espere que ele termine, e importe de novo.");
    if (falhou >= 0)
        throw ErroBanco("Erro ao lançar as parcelas do servidor " + servidor(falhou) +
                        " na tabela " + ParaUtf8(tabela_) +
                        ": a linha do servidor não foi alterada exatamente uma vez.");
    // Written: the rows' places go back to the free list.
    for (LinhaDeducao* l : linhas) {
        uint32_t i = l->pendente;
        while (i != LinhaDeducao::kNenhum) {
            const uint32_t anterior = pendentes_[i].anterior;
            pendentes_[i].anterior = livre_;
            livre_ = i;
            i = anterior;
        }
        l->pendente = LinhaDeducao::kNenhum;
        l->naFila = false;
    }
}

void GravadorLancamentos::Gravar() {
    // Every row still open joins its queue; then every queue is written.
    std::sort(abertas_.begin(), abertas_.end());
    abertas_.erase(std::unique(abertas_.begin(), abertas_.end()), abertas_.end());
    for (LinhaDeducao* linha : abertas_)
        if (linha->pendente != LinhaDeducao::kNenhum && !linha->naFila) {
            linha->naFila = true;
            FilaDa(Forma(*linha)).linhas.push_back(linha);
            ++naFila_;
        }
    abertas_.clear();
    abertasAposLimpeza_ = 0;
    for (auto& [forma, fila] : filas_) Escoar(forma, fila, true);
    blocos_.clear();
}

}  // namespace kavlo
