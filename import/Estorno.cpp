#include "import/Estorno.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <variant>

#include "import/BlocoDeLinhas.h"
#include "import/ColunasDaDeducao.h"
#include "util/Codificacao.h"
#include "util/ConjuntoDeChaves.h"
#include "util/Datas.h"
#include "util/Erros.h"
#include "util/Sistema.h"
#include "util/Utils.h"

namespace kavlo {
namespace {

// Lines of a refusal listed one by one; the rest are counted.
constexpr size_t kListados = 20;

// What the journal says of one posting: each value as stored, NULL kept.
struct Lancado {
    int slot;
    std::u16string matricula;
    // The slot's columns (kColunasDoSlot) and the row's (kColunasDaLinha), before and after.
    std::array<fb::Parametro, kColunasDoSlot.size()> antes, depois;
    std::array<fb::Parametro, kColunasDaLinha.size()> daLinhaAntes, daLinhaDepois;
};

// A payroll row's key, as the journal keeps it (CHAR(8) OCTETS); compared byte by byte, as the
// server orders it.
using ChaveLinha = std::array<unsigned char, 8>;

ChaveLinha ChaveDe(const std::string& bytes) {
    ChaveLinha c{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), c.size()), c.begin());
    return c;
}

struct LinhaLancada {
    ChaveLinha chave;                  // RDB$DB_KEY
    std::vector<Lancado> lancamentos;  // by slot, which is also the order they were posted in
};

fb::Parametro Valor(const fb::Cursor& c, unsigned i, bool texto) {
    if (c.Nulo(i)) return fb::Nulo{};
    if (texto) return fb::Octetos{c.Bytes(i)};
    return c.Real(i);
}

// The slots a row had posted, one bit each: a row's shape, which decides the block that undoes it.
using Slots = uint32_t;

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

// Each row the import posted to, with its shape, sorted by key: 12 bytes a row, all the undo
// keeps of the whole import while it streams the postings.
struct FormaDaLinha {
    ChaveLinha chave;
    Slots slots;
};

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

// The prepared blocks of the shapes at hand. A prepared block is large, and the postings come in
// the journal's order, so the shapes take turns: the ones used least recently are let go first.
class BlocosDoEstorno {
  public:
    BlocosDoEstorno(fb::Transacao& t, std::u16string tabela) : t_(t), tabela_(std::move(tabela)) {}

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

// A later import not undone that posted for one of this import's servants in the same table:
// undoing this one would give the row the values from before both, and erase that posting (or
// the margin it took). Decided from the journal, not from the row's values, which a slot cleared
// by hand and posted again with the same values would not tell apart.
struct Posterior {
    int32_t importacao;
    std::u16string matricula;
    int slot;
    bool mesmoSlot;
};

// This import's servants, each with the slots it posted to them.
struct ServidoresDaImportacao {
    ConjuntoDeChaves matriculas;
    std::vector<Slots> slots;  // by the servant's place in `matriculas`
};

ServidoresDaImportacao ServidoresDe(fb::Transacao& t, int32_t id) {
    fb::Comando c(t,
                  std::string_view("select MATRICULA, SLOT from KAVLO_LANCAMENTO where "
                                   "ID_IMPORTACAO = ?"),
                  "ler os lançamentos da importação no diário");
    ServidoresDaImportacao s;
    for (fb::Cursor r = c.Abrir({int64_t{id}}); r.Proximo();) s.matriculas.Incluir(r.Texto(0u));
    s.matriculas.Fechar();
    s.slots.assign(s.matriculas.Tamanho(), 0);
    for (fb::Cursor r = c.Abrir({int64_t{id}}); r.Proximo();)
        if (const auto i = s.matriculas.Indice(r.Texto(0u)))
            s.slots[*i] |= Slots{1} << (r.Inteiro(1u) & 31);
    return s;
}

std::vector<Posterior> ImportacoesPosteriores(fb::Transacao& t, const ImportacaoRegistrada& imp,
                                              int64_t& total) {
    // Ordered by the journal's index on the import; no sort of the postings.
    fb::Comando c(t,
                  std::string_view("select l.ID_IMPORTACAO, l.MATRICULA, l.SLOT from "
                                   "KAVLO_LANCAMENTO l join KAVLO_IMPORTACAO i on i.ID = "
                                   "l.ID_IMPORTACAO where l.ID_IMPORTACAO > ? and i.TABELA = ? and "
                                   "i.ESTORNO_QUANDO is null order by l.ID_IMPORTACAO"),
                  "consultar o diário de importações");
    fb::Cursor r = c.Abrir({int64_t{imp.id}, imp.tabela});
    std::vector<Posterior> posteriores;
    total = 0;
    // This import's servants, gathered only when a later import posted in the table at all.
    std::optional<ServidoresDaImportacao> servidores;
    while (r.Proximo()) {
        if (!servidores) servidores = ServidoresDe(t, imp.id);
        const std::u16string matricula = r.Texto(1u);
        const auto i = servidores->matriculas.Indice(matricula);
        if (!i) continue;
        const int slot = r.Inteiro(2u);
        const bool mesmoSlot = (servidores->slots[*i] & (Slots{1} << (slot & 31))) != 0;
        ++total;
        posteriores.push_back({r.Inteiro(0u), matricula, slot, mesmoSlot});
    }
    return posteriores;
}

// One later posting, as the refusal lists it.
std::string LinhaDoPosterior(const Posterior& p) {
    return "servidor " + ParaMensagem(p.matricula) + ": importação " +
           std::to_string(p.importacao) + ", slot " + std::to_string(p.slot) +
           (p.mesmoSlot ? " (o mesmo slot desta importação)" : "");
}

std::string ListaDeIds(const std::set<int32_t>& ids) {
    std::string lista;
    for (int32_t id : ids) lista += (lista.empty() ? "" : ", ") + std::to_string(id);
    return lista;
}

// Undone one at a time, the latest first: each one's rows then hold what it wrote.
std::string OrdemDosEstornos(const std::set<int32_t>& ids, int32_t esta) {
    std::string m;
    for (auto i = ids.rbegin(); i != ids.rend(); ++i)
        m += (m.empty() ? "" : ", depois ") + std::string("kavlo estornar --importacao ") +
             std::to_string(*i);
    return m + ", e por fim esta (kavlo estornar --importacao " + std::to_string(esta) + ")";
}

// The part of the refusal about later imports: which, where (the first postings), and the order
// to undo them in.
std::string SobrePosteriores(const std::vector<Posterior>& todos, int64_t total) {
    std::set<int32_t> ids;
    for (const Posterior& p : todos) ids.insert(p.importacao);
    const std::vector<Posterior> posteriores(
        todos.begin(), todos.begin() + static_cast<ptrdiff_t>(std::min(todos.size(), kListados)));
    const std::string lista = ListaDeIds(ids);
    std::string m =
        "\nDepois dela, " +
        (ids.size() == 1 ? "a importação " + lista + ", que não foi estornada, lançou"
                         : "as importações " + lista + ", que não foram estornadas, lançaram") +
        " nas linhas dos mesmos servidores, e estornar esta desfaria também esses "
        "lançamentos, ou a margem que eles consumiram:";
    for (const Posterior& p : posteriores) m += "\n  " + LinhaDoPosterior(p);
    if (total > static_cast<int64_t>(posteriores.size()))
        m += "\n  ... e mais " + std::to_string(total - static_cast<int64_t>(posteriores.size()));
    return m +
           "\nEstorne antes as importações posteriores, da mais recente para a mais antiga "
           "(kavlo estornar --importacao " +
           std::to_string(*ids.rbegin()) + ", e assim por diante), e depois esta.";
}

// When the database was created: a restore from a backup creates it again, and the row keys the
// journal kept then name other rows. Read in a transaction of its own, as the monitoring snapshot
// it takes lasts as long as its transaction.
std::optional<TDateTime> CriacaoDoBanco(fb::Conexao& conexao) {
    fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
    fb::Comando c(t, std::string_view("select MON$CREATION_DATE from MON$DATABASE"),
                  "consultar a criação do banco de dados");
    fb::Cursor r = c.Abrir();
    if (!r.Proximo() || r.Nulo(0u)) return std::nullopt;
    return r.Data(0u);
}

// Whether column `i` holds exactly `valor` (bytes for a text, the double for a number, NULL).
bool Guarda(const fb::Cursor& c, unsigned i, const fb::Parametro& valor) {
    if (std::holds_alternative<fb::Nulo>(valor)) return c.Nulo(i);
    if (c.Nulo(i)) return false;
    if (const auto* o = std::get_if<fb::Octetos>(&valor)) return c.Bytes(i) == o->bytes;
    return c.Real(i) == std::get<double>(valor);
}

// The rows the keys cannot find, found by the servant's registration in one pass over the table:
// the one row of that MATRICULA whose slots, MCVALOR and RECALCULAR hold exactly what the import
// wrote; failing that, the servant's only row, whose changed columns the undo then names. Gives
// each row found its new key; the ones it cannot find are left out, with why.
std::vector<std::string> ProcurarPelaMatricula(fb::Transacao& t, const std::u16string& tabela,
                                               std::vector<LinhaLancada>& perdidas) {
    ConjuntoDeChaves servidores;
    std::set<int> slots;
    for (size_t i = 0; i < perdidas.size(); ++i) {
        servidores.Incluir(perdidas[i].lancamentos.front().matricula, static_cast<uint32_t>(i));
        for (const Lancado& l : perdidas[i].lancamentos) slots.insert(l.slot);
    }
    servidores.Fechar();
    std::u16string colunas = u"rdb$db_key, MATRICULA, MCVALOR, RECALCULAR";
    for (int slot : slots)
        for (const ColunaDaDeducao& coluna : kColunasDoSlot)
            colunas += u", " + std::u16string(coluna.nome) + Num(static_cast<size_t>(slot));
    // Per row sought, kept small (one per row of the import after a restore).
    struct Achados {
        uint32_t linhas = 0, exatas = 0;
        std::array<char, 8> chaveUnica{}, chaveExata{};
    };
    std::vector<Achados> achados(perdidas.size());
    fb::Comando c(t, u"select " + colunas + u" from " + tabela,
                  "procurar as linhas da importação na tabela " + ParaUtf8(tabela));
    fb::Cursor r = c.Abrir();
    // Where each slot's columns are, in kColunasDoSlot's order.
    std::map<int, std::array<unsigned, kColunasDoSlot.size()>> doSlot;
    for (int slot : slots)
        for (size_t k = 0; k < kColunasDoSlot.size(); ++k)
            doSlot[slot][k] = r.Indice(ParaUtf8(kColunasDoSlot[k].nome) + std::to_string(slot));
    std::array<unsigned, kColunasDaLinha.size()> daLinha;
    for (size_t k = 0; k < kColunasDaLinha.size(); ++k)
        daLinha[k] = r.Indice(ParaUtf8(kColunasDaLinha[k].nome));
    const unsigned chaveDaLinha = r.Indice("DB_KEY"), matriculaDaLinha = r.Indice("MATRICULA");
    while (r.Proximo()) {
        const auto i = servidores.Indice(r.Texto(matriculaDaLinha));
        if (!i) continue;
        const LinhaLancada& l = perdidas[servidores.Valor(*i)];
        Achados& a = achados[servidores.Valor(*i)];
        const std::string chave = r.Bytes(chaveDaLinha);
        if (chave.size() != a.chaveUnica.size()) continue;  // a view has no row keys of 8 bytes
        ++a.linhas;
        std::copy(chave.begin(), chave.end(), a.chaveUnica.begin());
        bool exata = true;
        for (size_t k = 0; k < kColunasDaLinha.size() && exata; ++k)
            exata = Guarda(r, daLinha[k], l.lancamentos.back().daLinhaDepois[k]);
        for (const Lancado& x : l.lancamentos)
            for (size_t k = 0; k < kColunasDoSlot.size() && exata; ++k)
                exata = Guarda(r, doSlot[x.slot][k], x.depois[k]);
        if (exata) {
            ++a.exatas;
            a.chaveExata = a.chaveUnica;
        }
    }
    std::vector<std::string> naoAchadas;
    std::vector<LinhaLancada> achadas;
    for (size_t i = 0; i < perdidas.size(); ++i) {
        const Achados& a = achados[i];
        const std::string matricula = ParaMensagem(perdidas[i].lancamentos.front().matricula);
        if (a.exatas == 1 || (a.exatas == 0 && a.linhas == 1)) {
            const auto& chave = a.exatas == 1 ? a.chaveExata : a.chaveUnica;
            std::copy(chave.begin(), chave.end(), perdidas[i].chave.begin());
            achadas.push_back(std::move(perdidas[i]));
        } else if (a.linhas == 0) {
            naoAchadas.push_back("servidor " + matricula + ": não há linha com esta matrícula");
        } else {
            naoAchadas.push_back("servidor " + matricula + ": nenhuma das " +
                                 std::to_string(a.linhas) +
                                 " linhas com esta matrícula guarda só o que a importação gravou" +
                                 (a.exatas > 1 ? " (mais de uma guarda os mesmos valores)" : ""));
        }
    }
    perdidas = std::move(achadas);
    return naoAchadas;
}

// The servant a line of a refusal names ("servidor 123456-7: ...").
std::string ServidorDaLinha(const std::string& linha) {
    const size_t fim = linha.find(':');
    return linha.substr(0, fim);
}

// A refusal in a few lines: how many servants stop the undo and why, and what to do next, in
// which order.
std::string Resumo(const std::string& nome, const ImportacaoRegistrada& imp,
                   const std::vector<std::string>& conflitos,
                   const std::vector<std::string>& naoAchadas, bool restaurado,
                   const std::vector<Posterior>& posteriores) {
    std::set<std::string> servidores;
    for (const auto* lista : {&conflitos, &naoAchadas})
        for (const std::string& l : *lista) servidores.insert(ServidorDaLinha(l));
    std::set<int32_t> ids;
    for (const Posterior& p : posteriores) {
        servidores.insert("servidor " + ParaMensagem(p.matricula));
        ids.insert(p.importacao);
    }
    std::string m =
        nome + " não foi estornada. Nada foi alterado. " + std::to_string(servidores.size()) +
        (servidores.size() == 1 ? " servidor impede" : " servidores impedem") + " o estorno:";
    if (!posteriores.empty())
        m += "\n  " + std::to_string(posteriores.size()) + " lançamento(s) de " +
             (ids.size() == 1 ? "uma importação posterior não estornada (" + ListaDeIds(ids)
                              : std::to_string(ids.size()) +
                                    " importações posteriores não estornadas (" + ListaDeIds(ids)) +
             ") nas linhas dos mesmos servidores;";
    if (!conflitos.empty())
        m += "\n  " + std::to_string(conflitos.size()) +
             " linha(s) mudaram desde a importação (à mão, pela folha ou por outra importação);";
    if (!naoAchadas.empty())
        m += "\n  " + std::to_string(naoAchadas.size()) +
             " linha(s) não foram encontradas na "
             "tabela " +
             ParaUtf8(imp.tabela) +
             (restaurado ? " (o banco foi restaurado de uma cópia de segurança depois da "
                           "importação, o que troca as chaves das linhas)"
                         : " (apagadas depois da importação?)") +
             ";";
    m += "\nComo seguir: ";
    if (!ids.empty())
        m += "estorne antes as importações posteriores, da mais recente para a mais antiga: " +
             OrdemDosEstornos(ids, imp.id) + ".";
    if (!ids.empty() && (!conflitos.empty() || !naoAchadas.empty()))
        m += " As linhas mudadas podem ser obra delas; se depois disso ainda houver linhas "
             "mudadas ou não encontradas, o estorno desta dirá quais.";
    else if (!conflitos.empty() || !naoAchadas.empty())
        m += "o estorno só desfaz o que ainda está como a importação deixou: confira na lista as "
             "linhas mudadas ou não encontradas e corrija à mão os descontos desses servidores, "
             "ou devolva as linhas ao que a importação gravou e estorne de novo.";
    return m;
}

// Every line of a refusal, for a file: the changed rows, the rows not found, the later postings.
std::vector<std::string> Lista(const std::vector<std::string>& conflitos,
                               const std::vector<std::string>& naoAchadas,
                               const std::vector<Posterior>& posteriores) {
    std::vector<std::string> r;
    for (const std::string& c : conflitos) r.push_back(c);
    for (const std::string& c : naoAchadas) r.push_back(c + " (não encontrada)");
    for (const Posterior& p : posteriores) r.push_back(LinhaDoPosterior(p) + " (posterior)");
    return r;
}

}  // namespace

ResultadoEstorno EstornarImportacao(fb::Conexao& conexao, int32_t id, bool simular) {
    const std::optional<TDateTime> criacao = CriacaoDoBanco(conexao);
    fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
    const std::string nome = "A importação " + std::to_string(id);
    if (!DiarioExiste(t))
        throw Erro(
            "Este banco de dados não tem diário de importações: nenhuma importação foi "
            "registrada nele. Confira se o banco informado é aquele em que a importação foi "
            "feita.");
    std::optional<ImportacaoRegistrada> imp = BuscarImportacao(t, id);
    if (!imp) throw Erro(nome + " não consta do diário (veja kavlo importacoes).");
    if (imp->estornoQuando)
        throw Erro(nome + " já foi estornada em " +
                   ParaUtf8(FormatarData(*imp->estornoQuando, u"dd/mm/yyyy")) + " por " +
                   ParaMensagem(imp->estornoUsuario) +
                   "; nada foi alterado. Para lançar as parcelas de novo, importe o arquivo outra "
                   "vez (kavlo importar).");

    ResultadoEstorno resultado;
    resultado.importacao = *imp;
    resultado.simulacao = simular;
    const std::vector<FormaDaLinha> formas = FormasDasLinhas(t, id);
    int64_t quantasPosteriores = 0;
    const std::vector<Posterior> posteriores = ImportacoesPosteriores(t, *imp, quantasPosteriores);

    // After a restore the kept keys name other rows, or none: every row is found again by its
    // servant. Otherwise a key finds its row, unless the row was deleted since.
    // A flag and a plain date: an optional here trips -Wmaybe-uninitialized in MinGW's -O3.
    const bool restaurado = criacao && *criacao > imp->quando;
    const TDateTime recriadoEm = restaurado ? *criacao : TDateTime{};

    struct Conflito {
        Slots slots;
        ChaveLinha chave;
        std::string texto;
    };
    std::vector<Conflito> conflitos;
    std::vector<std::string> naoAchadas;
    BlocosDoEstorno blocos(t, imp->tabela);
    // Gives back the earlier values of `lote`, rows of one shape, where they hold what the import
    // wrote; the rows whose key finds no row of their servant go to `perdidas`.
    auto estornarLote = [&](Slots slots, std::vector<LinhaLancada>& lote,
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
        fb::Cursor r = blocos.Para(slots, lote.size()).Abrir(p);
        while (r.Proximo()) {
            LinhaLancada& l = lote[static_cast<size_t>(r.Inteiro(0u))];
            const std::u16string diferencas = r.Texto(2u);
            if (r.Inteiro(1u) != 1) {
                perdidas.push_back(std::move(l));
            } else if (!diferencas.empty()) {
                conflitos.push_back({slots, l.chave,
                                     "servidor " + ParaMensagem(l.lancamentos.front().matricula) +
                                         ": mudou desde a importação em" + ParaUtf8(diferencas)});
            } else {
                ++resultado.linhas;
                resultado.lancamentos += static_cast<int64_t>(l.lancamentos.size());
            }
        }
    };
    // The same for rows held together, shape after shape.
    auto estornarTodas = [&](std::vector<LinhaLancada> quais, std::vector<LinhaLancada>& perdidas) {
        std::map<std::vector<int>, std::vector<LinhaLancada>> porForma;
        for (LinhaLancada& l : quais) porForma[ListaDeSlots(FormaDe(l))].push_back(std::move(l));
        for (auto& [lista, grupo] : porForma)
            for (size_t inicio = 0; inicio < grupo.size(); inicio += kLote) {
                std::vector<LinhaLancada> lote(
                    std::make_move_iterator(grupo.begin() + static_cast<ptrdiff_t>(inicio)),
                    std::make_move_iterator(grupo.begin() + static_cast<ptrdiff_t>(std::min(
                                                                inicio + kLote, grupo.size()))));
                estornarLote(FormaDe(lote.front()), lote, perdidas);
            }
    };

    // The postings come one at a time; a row is undone in its shape's next block once all its
    // postings have come, so the undo holds a block per shape, never the whole import.
    std::vector<LinhaLancada> porMatricula, todas;
    {
        std::map<ChaveLinha, LinhaLancada> incompletas;
        std::map<Slots, std::vector<LinhaLancada>> pendentes;
        LancamentosDoDiario diario(t, id);
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
            if (restaurado) {
                // After a restore every row is sought by its servant, all of them together.
                todas.push_back(std::move(linha));
            } else {
                std::vector<LinhaLancada>& lote = pendentes[forma->slots];
                lote.push_back(std::move(linha));
                if (lote.size() == kLote) {
                    estornarLote(forma->slots, lote, porMatricula);
                    lote.clear();
                }
            }
            incompletas.erase(chave);
        }
        if (!incompletas.empty())
            throw Erro("O diário da importação " + std::to_string(id) +
                       " mudou enquanto era lido; nada foi alterado. Execute de novo.");
        for (auto& [slots, lote] : pendentes)
            if (!lote.empty()) estornarLote(slots, lote, porMatricula);
    }
    // Told in the order of the rows' shapes, then of their keys.
    const auto noRelato = [](Slots a, const ChaveLinha& ca, Slots b, const ChaveLinha& cb) {
        return a == b ? ca < cb : ListaDeSlots(a) < ListaDeSlots(b);
    };
    std::sort(conflitos.begin(), conflitos.end(), [&](const Conflito& a, const Conflito& b) {
        return noRelato(a.slots, a.chave, b.slots, b.chave);
    });
    std::sort(porMatricula.begin(), porMatricula.end(),
              [&](const LinhaLancada& a, const LinhaLancada& b) {
                  return noRelato(FormaDe(a), a.chave, FormaDe(b), b.chave);
              });
    if (restaurado) {
        std::sort(todas.begin(), todas.end(),
                  [](const LinhaLancada& a, const LinhaLancada& b) { return a.chave < b.chave; });
        porMatricula = std::move(todas);
    }
    if (!porMatricula.empty()) {
        naoAchadas = ProcurarPelaMatricula(t, imp->tabela, porMatricula);
        std::vector<LinhaLancada> nenhuma;
        estornarTodas(std::move(porMatricula), nenhuma);
        for (const LinhaLancada& l : nenhuma)
            naoAchadas.push_back("servidor " + ParaMensagem(l.lancamentos.front().matricula) +
                                 ": a linha não foi encontrada na tabela");
    }
    if (!posteriores.empty() || !conflitos.empty() || !naoAchadas.empty()) {
        std::string m = nome + " não foi estornada. Nada foi alterado.";
        if (!conflitos.empty()) {
            m += "\nEstas linhas mudaram desde a importação, e o estorno só desfaz o que ainda "
                 "está como a importação deixou:";
            for (const auto& c : conflitos) m += "\n  " + c.texto;
        }
        if (!naoAchadas.empty()) {
            if (restaurado)
                m += "\nO banco de dados foi restaurado de uma cópia de segurança depois da "
                     "importação (ele foi recriado em " +
                     ParaUtf8(FormatarData(recriadoEm, u"dd/mm/yyyy hh:nn")) +
                     ", e a importação é de " +
                     ParaUtf8(FormatarData(imp->quando, u"dd/mm/yyyy hh:nn")) +
                     "), o que troca as chaves das linhas; cada linha foi procurada pela "
                     "matrícula do servidor e pelos valores que a importação gravou, e estas não "
                     "foram encontradas:";
            else
                m += "\nEstas linhas não foram encontradas na tabela " + ParaUtf8(imp->tabela) +
                     " (foram apagadas depois da importação?):";
            for (const auto& c : naoAchadas) m += "\n  " + c;
        }
        // Last, as it ends with what to do first.
        if (!posteriores.empty()) m += SobrePosteriores(posteriores, quantasPosteriores);
        std::vector<std::string> mudadas;
        for (const auto& c : conflitos) mudadas.push_back(c.texto);
        throw EstornoRecusado(m, Resumo(nome, *imp, mudadas, naoAchadas, restaurado, posteriores),
                              Lista(mudadas, naoAchadas, posteriores), imp->resultado);
    }
    ImportacaoRegistrada marca = *imp;
    marca.estornoUsuario = UsuarioDoSistema();
    marca.estornoMaquina = NomeDaMaquina();
    if (!RegistrarEstorno(t, marca))
        throw Erro(nome +
                   " foi estornada por outro processo agora mesmo; nada foi alterado. Confira com "
                   "kavlo importacoes.");
    if (simular)
        t.Rollback();
    else
        t.Commit();
    return resultado;
}

}  // namespace kavlo
