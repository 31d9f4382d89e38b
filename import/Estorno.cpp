#include "import/Estorno.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Sistema.h"
#include "util/Utils.h"

namespace kavlo {
namespace {

// The five columns of a slot, in the order the journal keeps them.
constexpr std::u16string_view kColunasSlot[] = {u"COD", u"VALOR", u"QUANT", u"PERC", u"TEMPO"};

std::u16string Num(size_t n) {
    return DeUtf8(std::to_string(n));
}

// What the journal says of one posting: each value as stored, NULL kept.
struct Lancado {
    int slot;
    std::u16string matricula;
    fb::Parametro antes[5], depois[5];
    fb::Parametro mcAntes, mcDepois, recAntes, recDepois;
};

struct LinhaLancada {
    std::string chave;                 // RDB$DB_KEY
    std::vector<Lancado> lancamentos;  // by slot, which is also the order they were posted in
};

fb::Parametro Valor(const fb::Cursor& c, unsigned i, bool texto) {
    if (c.Nulo(i)) return fb::Nulo{};
    if (texto) return fb::Octetos{c.Bytes(i)};
    return c.Real(i);
}

std::vector<LinhaLancada> LerLancamentos(fb::Transacao& t, int32_t id) {
    fb::Comando c(t,
                  std::string_view(
                      "select CHAVE_LINHA, MATRICULA, SLOT, COD_ANTES, VALOR_ANTES, QUANT_ANTES, "
                      "PERC_ANTES, TEMPO_ANTES, COD_DEPOIS, VALOR_DEPOIS, QUANT_DEPOIS, "
                      "PERC_DEPOIS, TEMPO_DEPOIS, MCVALOR_ANTES, MCVALOR_DEPOIS, "
                      "RECALCULAR_ANTES, RECALCULAR_DEPOIS from KAVLO_LANCAMENTO "
                      "where ID_IMPORTACAO = ? order by CHAVE_LINHA, SLOT"),
                  "ler os lançamentos da importação no diário");
    fb::Cursor r = c.Abrir({int64_t{id}});
    std::vector<LinhaLancada> linhas;
    while (r.Proximo()) {
        const std::string chave = r.Bytes(0u);
        if (linhas.empty() || linhas.back().chave != chave) linhas.push_back({chave, {}});
        Lancado l;
        l.matricula = r.Texto(1u);
        l.slot = r.Inteiro(2u);
        for (unsigned k = 0; k < 5; ++k) {
            l.antes[k] = Valor(r, 3 + k, k == 0);
            l.depois[k] = Valor(r, 8 + k, k == 0);
        }
        l.mcAntes = Valor(r, 13u, false);
        l.mcDepois = Valor(r, 14u, false);
        l.recAntes = Valor(r, 15u, true);
        l.recDepois = Valor(r, 16u, true);
        linhas.back().lancamentos.push_back(std::move(l));
    }
    return linhas;
}

// One EXECUTE BLOCK for `linhas` rows that each had `slots` posted. Per row r, parameters: the key
// (Kr); per slot n the five values the import wrote and the five it found (Dr_COD{n}, Ar_COD{n},
// ...); then MCVALOR and RECALCULAR as written (DMr, DRr) and as found (AMr, ARr). For each row it
// returns whether the row was found and the columns that no longer hold what the import wrote; a
// row that still holds it all gets its earlier values back.
constexpr std::u16string_view kDeclaracoesDoSlot =
    u"  declare COD{n} varchar(1000) character set octets;\n"
    u"  declare VALOR{n} double precision;\n  declare QUANT{n} double precision;\n"
    u"  declare PERC{n} double precision;\n  declare TEMPO{n} double precision;\n";
constexpr std::u16string_view kParametrosDaColuna =
    u", D{r}_{coluna} {tipo} = ?, A{r}_{coluna} {tipo} = ?";
constexpr std::u16string_view kParametrosDaLinha =
    u", DM{r} double precision = ?, AM{r} double precision = ?"
    u", DR{r} varchar(1000) character set octets = ?, AR{r} varchar(1000) character set octets = ?";
constexpr std::u16string_view kComparaColuna =
    u"    if ({coluna} is distinct from :D{r}_{coluna}) then DIFERENCAS = DIFERENCAS || ' "
    u"{coluna}';\n";
constexpr std::u16string_view kLinha =
    u"  POSICAO = {r};\n"
    u"  DIFERENCAS = '';\n"
    u"  select {colunas}MCVALOR, RECALCULAR from {tabela} where rdb$db_key = :K{r}\n"
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
    u"  declare MCVALOR double precision;\n"
    u"  declare RECALCULAR varchar(1000) character set octets;\n"
    u"begin\n{corpo}end";

std::u16string SqlEstorno(std::u16string_view tabela, const std::vector<int>& slots,
                          size_t linhas) {
    std::u16string parametros, declaracoes, corpo;
    for (int slot : slots)
        declaracoes += Preencher(kDeclaracoesDoSlot, {{u"n", Num(static_cast<size_t>(slot))}});
    for (size_t i = 0; i < linhas; ++i) {
        const std::u16string r = Num(i);
        parametros += Preencher(u"{sep}K{r} char(8) character set octets = ?",
                                {{u"sep", i ? u", " : u""}, {u"r", r}});
        std::u16string colunas, destino, restaura, compara;
        for (int slot : slots) {
            const std::u16string n = Num(static_cast<size_t>(slot));
            for (size_t k = 0; k < 5; ++k) {
                std::u16string coluna(kColunasSlot[k]);
                coluna += n;
                parametros += Preencher(kParametrosDaColuna,
                                        {{u"r", r},
                                         {u"coluna", coluna},
                                         {u"tipo", k == 0 ? u"varchar(1000) character set octets"
                                                          : u"double precision"}});
                colunas += Preencher(u"{coluna}, ", {{u"coluna", coluna}});
                destino += Preencher(u":{coluna}, ", {{u"coluna", coluna}});
                restaura +=
                    Preencher(u"{coluna} = :A{r}_{coluna}, ", {{u"coluna", coluna}, {u"r", r}});
                compara += Preencher(kComparaColuna, {{u"coluna", coluna}, {u"r", r}});
            }
        }
        parametros += Preencher(kParametrosDaLinha, {{u"r", r}});
        corpo += Preencher(kLinha, {{u"r", r},
                                    {u"colunas", colunas},
                                    {u"tabela", tabela},
                                    {u"destino", destino},
                                    {u"compara", compara},
                                    {u"restaura", restaura}});
    }
    return Preencher(
        kBloco, {{u"parametros", parametros}, {u"declaracoes", declaracoes}, {u"corpo", corpo}});
}

// Later imports, not undone, that posted into the same row of the same month's table.
std::vector<int32_t> ImportacoesPosteriores(fb::Transacao& t, const ImportacaoRegistrada& imp,
                                            const std::string& chave) {
    fb::Comando c(t,
                  std::string_view("select distinct l.ID_IMPORTACAO from KAVLO_LANCAMENTO l "
                                   "join KAVLO_IMPORTACAO i on i.ID = l.ID_IMPORTACAO "
                                   "where l.CHAVE_LINHA = ? and l.ID_IMPORTACAO > ? and "
                                   "i.TABELA = ? and i.ESTORNO_QUANDO is null"),
                  "consultar o diário de importações");
    fb::Cursor r = c.Abrir({fb::Octetos{chave}, int64_t{imp.id}, imp.tabela});
    std::vector<int32_t> ids;
    while (r.Proximo()) ids.push_back(r.Inteiro(0u));
    return ids;
}

}  // namespace

ResultadoEstorno EstornarImportacao(fb::Conexao& conexao, int32_t id, bool simular) {
    fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
    const std::string nome = "A importação " + std::to_string(id);
    if (!DiarioExiste(t))
        throw Erro(
            "Este banco de dados não tem diário de importações: nenhuma importação foi "
            "registrada nele.");
    std::optional<ImportacaoRegistrada> imp = BuscarImportacao(t, id);
    if (!imp) throw Erro(nome + " não consta do diário (veja kavlo importacoes).");
    if (imp->estornoQuando)
        throw Erro(nome + " já foi estornada em " +
                   ParaUtf8(FormatarData(*imp->estornoQuando, u"dd/mm/yyyy")) + " por " +
                   ParaMensagem(imp->estornoUsuario) + "; nada foi alterado.");

    ResultadoEstorno resultado;
    resultado.importacao = *imp;
    resultado.simulacao = simular;
    const std::vector<LinhaLancada> linhas = LerLancamentos(t, id);

    std::map<std::vector<int>, std::vector<const LinhaLancada*>> porForma;
    for (const LinhaLancada& l : linhas) {
        std::vector<int> slots;
        for (const Lancado& x : l.lancamentos) slots.push_back(x.slot);
        porForma[slots].push_back(&l);
    }
    std::vector<std::string> conflitos;
    constexpr size_t kLote = 16;
    std::map<std::pair<std::vector<int>, size_t>, std::unique_ptr<fb::Comando>> blocos;
    for (const auto& [slots, grupo] : porForma) {
        for (size_t inicio = 0; inicio < grupo.size(); inicio += kLote) {
            const size_t quantas = std::min(kLote, grupo.size() - inicio);
            auto& bloco = blocos[{slots, quantas}];
            if (!bloco)
                bloco = std::make_unique<fb::Comando>(
                    t, SqlEstorno(imp->tabela, slots, quantas),
                    "estornar a importação na tabela " + ParaUtf8(imp->tabela));
            std::vector<fb::Parametro> p;
            for (size_t i = inicio; i < inicio + quantas; ++i) {
                const LinhaLancada& l = *grupo[i];
                p.emplace_back(fb::Octetos{l.chave});
                for (const Lancado& x : l.lancamentos)
                    for (size_t k = 0; k < 5; ++k) {
                        p.push_back(x.depois[k]);
                        p.push_back(x.antes[k]);
                    }
                p.push_back(l.lancamentos.back().mcDepois);
                p.push_back(l.lancamentos.front().mcAntes);
                p.push_back(l.lancamentos.back().recDepois);
                p.push_back(l.lancamentos.front().recAntes);
            }
            fb::Cursor r = bloco->Abrir(p);
            while (r.Proximo()) {
                const LinhaLancada& l = *grupo[inicio + static_cast<size_t>(r.Inteiro(0u))];
                const std::string matricula = ParaMensagem(l.lancamentos.front().matricula);
                const std::u16string diferencas = r.Texto(2u);
                if (r.Inteiro(1u) != 1) {
                    conflitos.push_back("servidor " + matricula +
                                        ": a linha não foi encontrada na tabela " +
                                        ParaUtf8(imp->tabela));
                } else if (!diferencas.empty()) {
                    std::string c = "servidor " + matricula + ": mudou desde a importação em" +
                                    ParaUtf8(diferencas);
                    const auto depois = ImportacoesPosteriores(t, *imp, l.chave);
                    for (size_t k = 0; k < depois.size(); ++k)
                        c += (k ? ", " : " (lançado depois pela importação ") +
                             std::to_string(depois[k]);
                    if (!depois.empty()) c += ")";
                    conflitos.push_back(c);
                } else {
                    ++resultado.linhas;
                    resultado.lancamentos += static_cast<int64_t>(l.lancamentos.size());
                }
            }
        }
    }
    if (!conflitos.empty()) {
        std::string m = nome +
                        " não foi estornada: estas linhas mudaram desde a importação, e o estorno "
                        "só desfaz o que ainda está como a importação deixou. Nada foi alterado.";
        for (const auto& c : conflitos) m += "\n  " + c;
        throw Erro(m);
    }

    fb::Comando marca(
        t,
        std::string_view("update KAVLO_IMPORTACAO set ESTORNO_QUANDO = "
                         "current_timestamp, ESTORNO_USUARIO = ?, "
                         "ESTORNO_MAQUINA = ? where ID = ? and ESTORNO_QUANDO is null"),
        "registrar o estorno no diário");
    if (marca.Executar({UsuarioDoSistema(), NomeDaMaquina(), int64_t{id}}) != 1)
        throw Erro(nome + " foi estornada por outro processo agora mesmo; nada foi alterado.");
    if (simular)
        t.Rollback();
    else
        t.Commit();
    return resultado;
}

}  // namespace kavlo
