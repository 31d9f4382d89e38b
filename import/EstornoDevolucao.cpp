#include "import/EstornoDevolucao.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <variant>

#include "import/BlocoDeLinhas.h"
#include "import/Estorno.h"
#include "util/Codificacao.h"
#include "util/ConjuntoDeChaves.h"
#include "util/Erros.h"
#include "util/Utils.h"

namespace kavlo::estorno {
namespace {

ChaveLinha ChaveDe(const std::string& bytes) {
    ChaveLinha c{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), c.size()), c.begin());
    return c;
}

fb::Parametro Valor(const fb::Cursor& c, unsigned i, bool texto) {
    if (c.Nulo(i)) return fb::Nulo{};
    if (texto) return fb::Octetos{c.Bytes(i)};
    return c.Real(i);
}

// Every posting of the import, in the journal's own order (no sort of the postings on the
// server), one at a time.
class LancamentosDoDiario {
  public:
    LancamentosDoDiario(fb::Transacao& t, int32_t id)
        : comando_(t, "select " + Colunas() + " from KAVLO_LANCAMENTO where ID_IMPORTACAO = ?",
                   "ler os lançamentos da importação no diário"),
          cursor_(comando_.Abrir({int64_t{id}})),
          chave_(cursor_.Indice("CHAVE_LINHA")),
          matricula_(cursor_.Indice("MATRICULA")),
          slot_(cursor_.Indice("SLOT")) {
        for (size_t k = 0; k < kColunasDoSlot.size(); ++k)
            for (bool depois : {false, true})
                doSlot_[depois][k] = Indice(kColunasDoSlot[k].nome, depois);
        for (size_t k = 0; k < kColunasDaLinha.size(); ++k)
            for (bool depois : {false, true})
                daLinha_[depois][k] = Indice(kColunasDaLinha[k].nome, depois);
    }

    bool Proximo(ChaveLinha& chave, Lancado& l) {
        if (!cursor_.Proximo()) return false;
        const fb::Cursor& r = cursor_;
        chave = ChaveDe(r.Bytes(chave_));
        l.matricula = r.Texto(matricula_);
        l.slot = r.Inteiro(slot_);
        for (size_t k = 0; k < kColunasDoSlot.size(); ++k) {
            l.antes[k] = Valor(r, doSlot_[0][k], kColunasDoSlot[k].texto);
            l.depois[k] = Valor(r, doSlot_[1][k], kColunasDoSlot[k].texto);
        }
        for (size_t k = 0; k < kColunasDaLinha.size(); ++k) {
            l.daLinhaAntes[k] = Valor(r, daLinha_[0][k], kColunasDaLinha[k].texto);
            l.daLinhaDepois[k] = Valor(r, daLinha_[1][k], kColunasDaLinha[k].texto);
        }
        return true;
    }

  private:
    static std::string Colunas() {
        std::string r = "CHAVE_LINHA, MATRICULA, SLOT";
        for (const ColunaDaDeducao& c : kColunasDoSlot)
            for (bool depois : {false, true}) r += ", " + ParaUtf8(NoDiario(c.nome, depois));
        for (const ColunaDaDeducao& c : kColunasDaLinha)
            for (bool depois : {false, true}) r += ", " + ParaUtf8(NoDiario(c.nome, depois));
        return r;
    }
    unsigned Indice(std::u16string_view coluna, bool depois) const {
        return cursor_.Indice(ParaUtf8(NoDiario(coluna, depois)));
    }

    fb::Comando comando_;
    fb::Cursor cursor_;
    unsigned chave_, matricula_, slot_;
    std::array<std::array<unsigned, kColunasDoSlot.size()>, 2> doSlot_;
    std::array<std::array<unsigned, kColunasDaLinha.size()>, 2> daLinha_;
};

// One EXECUTE BLOCK for `linhas` rows that each had `slots` posted. Per row r, parameters: the key
// (Kr) and the servant's MATRICULA (Xr, short: the import matched it to an 8-character key, and
// every row's parameters are held by each prepared block); per slot n the five values the import
// wrote and the five it found (Dr_COD{n}, Ar_COD{n}, ...); then MCVALOR and RECALCULAR as written
// (DMr, DRr) and as found (AMr, ARr). For each row it returns whether the key still finds that
// servant's row (a key freed by a deleted row may hold another's) and the columns that no longer
// hold what the import wrote; a row that still holds it all gets its earlier values back.
struct ModelosDoEstorno {
    std::u16string declaracoesDoSlot =
        BlocoDeLinhas::PorColuna(u"  declare {coluna}{n} {guardado};\n");
    std::u16string parametrosDoSlot = BlocoDeLinhas::PorColuna(
        u", D{r}_{coluna}{n} {guardado} = ?, A{r}_{coluna}{n} {guardado} = ?");
    std::u16string colunas = BlocoDeLinhas::PorColuna(u"{coluna}{n}, ");
    std::u16string destino = BlocoDeLinhas::PorColuna(u":{coluna}{n}, ");
    std::u16string restaura = BlocoDeLinhas::PorColuna(u"{coluna}{n} = :A{r}_{coluna}{n}, ");
    std::u16string compara = BlocoDeLinhas::PorColuna(
        u"    if ({coluna}{n} is distinct from :D{r}_{coluna}{n}) then DIFERENCAS = DIFERENCAS "
        u"|| ' {coluna}{n}';\n");
};
constexpr std::u16string_view kParametrosDaLinha =
    u", DM{r} double precision = ?, AM{r} double precision = ?"
    u", DR{r} varchar(1000) character set octets = ?, AR{r} varchar(1000) character set octets = ?";
constexpr std::u16string_view kLinha =
    u"  POSICAO = {r};\n"
    u"  DIFERENCAS = '';\n"
    u"  select {colunas}MCVALOR, RECALCULAR from {tabela} where rdb$db_key = :K{r}"
    u" and MATRICULA = :X{r}\n"
    u"    into {destino}:MCVALOR, :RECALCULAR;\n"
    u"  ACHADA = row_count;\n"
    u"  if (ACHADA = 1) then begin\n"
    u"{compara}"
    u"    if (MCVALOR is distinct from :DM{r}) then DIFERENCAS = DIFERENCAS || ' MCVALOR';\n"
    u"    if (RECALCULAR is distinct from :DR{r}) then DIFERENCAS = DIFERENCAS || ' RECALCULAR';\n"
    u"    if (DIFERENCAS = '') then update {tabela} set {restaura}MCVALOR = :AM{r},"
    u" RECALCULAR = :AR{r} where rdb$db_key = :K{r};\n"
    u"  end\n"
    u"  suspend;\n";
constexpr std::u16string_view kBloco =
    u"execute block ({parametros})\n"
    u"returns (POSICAO integer, ACHADA integer, DIFERENCAS varchar(2000))\nas\n"
    u"{declaracoes}"
    u"begin\n{corpo}end";
constexpr std::u16string_view kDeclaracoes =
    u"  declare MCVALOR double precision;\n"
    u"  declare RECALCULAR varchar(1000) character set octets;\n";

std::u16string SqlEstorno(std::u16string_view tabela, const std::vector<int>& slots,
                          size_t linhas) {
    static const ModelosDoEstorno m;
    const BlocoDeLinhas bloco(slots);
    return bloco.Montar(
        kBloco, m.declaracoesDoSlot, kDeclaracoes, linhas,
        [&](const std::u16string& r, std::u16string& parametros, std::u16string& corpo) {
            parametros += Preencher(
                u"{sep}K{r} char(8) character set octets = ?, X{r} varchar(32) character set "
                u"win1252 = ?",
                {{u"sep", r == u"0" ? u"" : u", "}, {u"r", r}});
            parametros += bloco.PorSlot(m.parametrosDoSlot, r);
            parametros += Preencher(kParametrosDaLinha, {{u"r", r}});
            corpo += Preencher(kLinha, {{u"r", r},
                                        {u"colunas", bloco.PorSlot(m.colunas)},
                                        {u"tabela", tabela},
                                        {u"destino", bloco.PorSlot(m.destino)},
                                        {u"compara", bloco.PorSlot(m.compara, r)},
                                        {u"restaura", bloco.PorSlot(m.restaura, r)}});
        });
}

// Rows undone by one block.
constexpr size_t kLote = 16;

}  // namespace

std::vector<int> ListaDeSlots(Slots slots) {
    std::vector<int> lista;
    for (int s = 0; s < 32; ++s)
        if (slots & (Slots{1} << s)) lista.push_back(s);
    return lista;
}

Slots FormaDe(const LinhaLancada& l) {
    Slots slots = 0;
    for (const Lancado& x : l.lancamentos) slots |= Slots{1} << (x.slot & 31);
    return slots;
}

std::vector<FormaDaLinha> FormasDasLinhas(fb::Transacao& t, int32_t id) {
    fb::Comando c(t,
                  std::string_view("select CHAVE_LINHA, SLOT from KAVLO_LANCAMENTO where "
                                   "ID_IMPORTACAO = ?"),
                  "ler os lançamentos da importação no diário");
    std::vector<FormaDaLinha> formas;
    for (fb::Cursor r = c.Abrir({int64_t{id}}); r.Proximo();)
        formas.push_back({ChaveDe(r.Bytes(0u)), Slots{1} << (r.Inteiro(1u) & 31)});
    std::sort(formas.begin(), formas.end(),
              [](const FormaDaLinha& a, const FormaDaLinha& b) { return a.chave < b.chave; });
    size_t n = 0;
    for (const FormaDaLinha& f : formas) {
        if (n > 0 && formas[n - 1].chave == f.chave)
            formas[n - 1].slots |= f.slots;
        else
            formas[n++] = f;
    }
    formas.resize(n);
    formas.shrink_to_fit();
    return formas;
}

// The prepared blocks of the shapes at hand. A prepared block is large, and the postings come in
// the journal's order, so the shapes take turns: the ones used least recently are let go first.
class Devolucao::Blocos {
  public:
    Blocos(fb::Transacao& t, std::u16string tabela) : t_(t), tabela_(std::move(tabela)) {}

    fb::Comando& Para(Slots slots, size_t linhas) {
        const std::pair<Slots, size_t> forma{slots, linhas};
        auto b = std::find_if(blocos_.begin(), blocos_.end(),
                              [&](const Bloco& x) { return x.forma == forma; });
        if (b == blocos_.end()) {
            if (blocos_.size() == kPreparados)
                blocos_.erase(
                    std::min_element(blocos_.begin(), blocos_.end(),
                                     [](const Bloco& x, const Bloco& y) { return x.uso < y.uso; }));
            blocos_.push_back({forma, 0,
                               std::make_unique<fb::Comando>(
                                   t_, SqlEstorno(tabela_, ListaDeSlots(slots), linhas),
                                   "estornar a importação na tabela " + ParaUtf8(tabela_))});
            b = blocos_.end() - 1;
        }
        b->uso = ++usos_;
        return *b->comando;
    }

  private:
    static constexpr size_t kPreparados = 8;
    struct Bloco {
        std::pair<Slots, size_t> forma;
        uint64_t uso;
        std::unique_ptr<fb::Comando> comando;
    };
    fb::Transacao& t_;
    const std::u16string tabela_;
    std::vector<Bloco> blocos_;
    uint64_t usos_ = 0;
};

Devolucao::Devolucao(fb::Transacao& t, const ImportacaoRegistrada& importacao, bool restaurado,
                     ResultadoEstorno& resultado)
    : t_(t),
      importacao_(importacao),
      restaurado_(restaurado),
      resultado_(resultado),
      blocos_(std::make_unique<Blocos>(t, importacao.tabela)) {}

Devolucao::~Devolucao() = default;

// Gives back the earlier values of `lote`, rows of one shape, where they hold what the import
// wrote; the rows whose key finds no row of their servant go to `perdidas`.
void Devolucao::Lote(Slots slots, std::vector<LinhaLancada>& lote,
                     std::vector<LinhaLancada>& perdidas) {
    std::vector<fb::Parametro> p;
    for (const LinhaLancada& l : lote) {
        p.emplace_back(fb::Octetos{std::string(l.chave.begin(), l.chave.end())});
        p.emplace_back(l.lancamentos.front().matricula);
        for (const Lancado& x : l.lancamentos)
            for (size_t k = 0; k < kColunasDoSlot.size(); ++k) {
                p.push_back(x.depois[k]);
                p.push_back(x.antes[k]);
            }
        for (size_t k = 0; k < kColunasDaLinha.size(); ++k) {
            p.push_back(l.lancamentos.back().daLinhaDepois[k]);
            p.push_back(l.lancamentos.front().daLinhaAntes[k]);
        }
    }
    fb::Cursor r = blocos_->Para(slots, lote.size()).Abrir(p);
    while (r.Proximo()) {
        LinhaLancada& l = lote[static_cast<size_t>(r.Inteiro("POSICAO"))];
        const std::u16string diferencas = r.Texto("DIFERENCAS");
        if (r.Inteiro("ACHADA") != 1) {
            perdidas.push_back(std::move(l));
        } else if (!diferencas.empty()) {
            conflitos_.push_back({slots, l.chave,
                                  "servidor " + ParaMensagem(l.lancamentos.front().matricula) +
                                      ": mudou desde a importação em" + ParaUtf8(diferencas)});
        } else {
            ++resultado_.linhas;
            resultado_.lancamentos += static_cast<int64_t>(l.lancamentos.size());
        }
    }
}

// The same for rows held together, shape after shape.
void Devolucao::Todas(std::vector<LinhaLancada> quais, std::vector<LinhaLancada>& perdidas) {
    std::map<std::vector<int>, std::vector<LinhaLancada>> porForma;
    for (LinhaLancada& l : quais) porForma[ListaDeSlots(FormaDe(l))].push_back(std::move(l));
    for (auto& [lista, grupo] : porForma)
        for (size_t inicio = 0; inicio < grupo.size(); inicio += kLote) {
            std::vector<LinhaLancada> lote(
                std::make_move_iterator(grupo.begin() + static_cast<ptrdiff_t>(inicio)),
                std::make_move_iterator(grupo.begin() + static_cast<ptrdiff_t>(std::min(
                                                            inicio + kLote, grupo.size()))));
            Lote(FormaDe(lote.front()), lote, perdidas);
        }
}

void Devolucao::Percorrer(const std::vector<FormaDaLinha>& formas) {
    const int32_t id = importacao_.id;
    std::map<ChaveLinha, LinhaLancada> incompletas;
    std::map<Slots, std::vector<LinhaLancada>> pendentes;
    LancamentosDoDiario diario(t_, id);
    ChaveLinha chave;
    Lancado lancado;
    while (diario.Proximo(chave, lancado)) {
        const auto forma = std::lower_bound(
            formas.begin(), formas.end(), chave,
            [](const FormaDaLinha& f, const ChaveLinha& c) { return f.chave < c; });
        if (forma == formas.end() || forma->chave != chave)
            throw Erro("O diário da importação " + std::to_string(id) +
                       " mudou enquanto era lido; nada foi alterado. Execute de novo.");
        LinhaLancada& linha = incompletas[chave];
        linha.chave = chave;
        auto onde =
            std::upper_bound(linha.lancamentos.begin(), linha.lancamentos.end(), lancado.slot,
                             [](int slot, const Lancado& x) { return slot < x.slot; });
        linha.lancamentos.insert(onde, std::move(lancado));
        if (FormaDe(linha) != forma->slots) continue;
        if (restaurado_) {
            // After a restore every row is sought by its servant, all of them together.
            todas_.push_back(std::move(linha));
        } else {
            std::vector<LinhaLancada>& lote = pendentes[forma->slots];
            lote.push_back(std::move(linha));
            if (lote.size() == kLote) {
                Lote(forma->slots, lote, porMatricula_);
                lote.clear();
            }
        }
        incompletas.erase(chave);
    }
    if (!incompletas.empty())
        throw Erro("O diário da importação " + std::to_string(id) +
                   " mudou enquanto era lido; nada foi alterado. Execute de novo.");
    for (auto& [slots, lote] : pendentes)
        if (!lote.empty()) Lote(slots, lote, porMatricula_);
}

void Devolucao::PelaMatricula() {
    // Told in the order of the rows' shapes, then of their keys.
    const auto noRelato = [](Slots a, const ChaveLinha& ca, Slots b, const ChaveLinha& cb) {
        return a == b ? ca < cb : ListaDeSlots(a) < ListaDeSlots(b);
    };
    std::sort(conflitos_.begin(), conflitos_.end(), [&](const Conflito& a, const Conflito& b) {
        return noRelato(a.slots, a.chave, b.slots, b.chave);
    });
    std::sort(porMatricula_.begin(), porMatricula_.end(),
              [&](const LinhaLancada& a, const LinhaLancada& b) {
                  return noRelato(FormaDe(a), a.chave, FormaDe(b), b.chave);
              });
    if (restaurado_) {
        std::sort(todas_.begin(), todas_.end(),
                  [](const LinhaLancada& a, const LinhaLancada& b) { return a.chave < b.chave; });
        porMatricula_ = std::move(todas_);
    }
    if (porMatricula_.empty()) return;
    naoAchadas_ = ProcurarPelaMatricula(t_, importacao_.tabela, porMatricula_);
    std::vector<LinhaLancada> nenhuma;
    Todas(std::move(porMatricula_), nenhuma);
    for (const LinhaLancada& l : nenhuma)
        naoAchadas_.push_back("servidor " + ParaMensagem(l.lancamentos.front().matricula) +
                              ": a linha não foi encontrada na tabela");
}

std::vector<std::string> Devolucao::Conflitos() const {
    std::vector<std::string> textos;
    for (const Conflito& c : conflitos_) textos.push_back(c.texto);
    return textos;
}

}  // namespace kavlo::estorno
