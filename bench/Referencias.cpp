#include "bench/Referencias.h"

#include <fmt/core.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "dao/BancoFolha.h"
#include "dao/DaoKavlo.h"
#include "dao/firebird/Firebird.h"
#include "import/ArquivoRetorno.h"
#include "import/Diario.h"
#include "import/Lancamento.h"
#include "util/Codificacao.h"
#include "util/Numeros.h"
#include "util/Utils.h"

namespace kavlo::bench {
namespace {

const std::u16string kEventos = u"select * from SFP017";
const std::u16string kTabela = u"SFPDXX02FEV";

// Reads every row and column of `sql`, as text, the way generation reads its columns; returns
// the row count.
size_t LerTudo(fb::Transacao& t, const std::u16string& sql) {
    fb::Comando q(t, sql, "medir a leitura");
    auto cur = q.Abrir();
    size_t linhas = 0, bytes = 0;
    while (cur.Proximo()) {
        ++linhas;
        for (unsigned i = 0; i < cur.Colunas(); ++i) bytes += cur.Nulo(i) ? 0 : cur.Texto(i).size();
    }
    if (linhas == 0 || bytes == 0) throw std::runtime_error("leitura vazia: " + ParaUtf8(sql));
    return linhas;
}

// One posting as the journal keeps it.
struct Postagem {
    int slot;
    std::u16string codigo;
    int64_t valor, novaMargem;  // cents
    int32_t quant, perc;
    int64_t linha;  // of the return file, 1-based
};

// An active row the return file names, and the postings it takes.
struct Alvo {
    std::string chave;  // RDB$DB_KEY
    std::u16string matricula;
    LinhaDeducao linha;
    std::vector<Postagem> postagens;
};

// Firebird 3 takes statements of up to 64 KB; a batch stays below, as the import's do.
constexpr size_t kTamanhoMaximoSql = 56000, kLote = 32;

// One EXECUTE BLOCK for `linhas` rows that each take `slots`: per row its key, registration and
// final margin, per posting the slot's five columns, the return line and the margin after it.
std::string SqlDoLote(const std::vector<int>& slots, size_t linhas) {
    std::string parametros, declaracoes, corpo;
    for (int n : slots)
        declaracoes += fmt::format(
            "declare CA{0} varchar(1000) character set octets; declare CD{0} varchar(1000) "
            "character set octets; declare VA{0} double precision; declare VD{0} double precision; "
            "declare QA{0} double precision; declare QD{0} double precision; declare PA{0} double "
            "precision; declare PD{0} double precision; declare TA{0} double precision; declare "
            "TD{0} double precision;\n",
            n);
    declaracoes +=
        "declare MA double precision; declare MD double precision; declare RA varchar(1000) "
        "character set octets; declare RD varchar(1000) character set octets;\n";
    for (size_t r = 0; r < linhas; ++r) {
        parametros += fmt::format(
            ", K{0} char(8) character set octets = ?, X{0} varchar(1000) character set win1252 = "
            "?, M{0} double precision = ?",
            r);
        std::string conjunto, antesDepois, destinos, diario;
        for (size_t k = 0; k < slots.size(); ++k) {
            const int n = slots[k];
            parametros += fmt::format(
                ", C{0}_{1} varchar(10) character set win1252 = ?, V{0}_{1} double precision = ?, "
                "Q{0}_{1} integer = ?, P{0}_{1} integer = ?, T{0}_{1} integer = ?, L{0}_{1} "
                "integer = ?, N{0}_{1} double precision = ?",
                r, n);
            conjunto += fmt::format(
                "COD{1} = :C{0}_{1}, VALOR{1} = :V{0}_{1}, QUANT{1} = :Q{0}_{1}, PERC{1} = "
                ":P{0}_{1}, TEMPO{1} = :T{0}_{1}, ",
                r, n);
            for (const char* coluna : {"COD", "VALOR", "QUANT", "PERC", "TEMPO"}) {
                antesDepois += fmt::format("old.{0}{1}, new.{0}{1}, ", coluna, n);
                destinos += fmt::format(":{0}A{1}, :{0}D{1}, ", coluna[0], n);
            }
            // The margin before and after each posting: the row's own before the first, the final
            // one after the last, the posting's own between.
            const std::string mcAntes = k == 0 ? ":MA" : fmt::format(":N{}_{}", r, slots[k - 1]);
            const std::string mcDepois =
                k + 1 == slots.size() ? ":MD" : fmt::format(":N{}_{}", r, n);
            diario += fmt::format(
                "insert into KAVLO_LANCAMENTO (ID_IMPORTACAO, LINHA_RETORNO, MATRICULA, "
                "CHAVE_LINHA, SLOT, COD_ANTES, COD_DEPOIS, VALOR_ANTES, VALOR_DEPOIS, QUANT_ANTES, "
                "QUANT_DEPOIS, PERC_ANTES, PERC_DEPOIS, TEMPO_ANTES, TEMPO_DEPOIS, MCVALOR_ANTES, "
                "MCVALOR_DEPOIS, RECALCULAR_ANTES, RECALCULAR_DEPOIS) values (:ID, :L{0}_{1}, "
                ":X{0}, :K{0}, {1}, :CA{1}, :CD{1}, :VA{1}, :VD{1}, :QA{1}, :QD{1}, :PA{1}, "
                ":PD{1}, "
                ":TA{1}, :TD{1}, {2}, {3}, {4}, :RD);\n",
                r, n, mcAntes, mcDepois, k == 0 ? ":RA" : ":RD");
        }
        corpo += fmt::format(
            "update {} set {}MCVALOR = :M{}, RECALCULAR = 'S' where rdb$db_key = :K{} returning "
            "{}old.MCVALOR, new.MCVALOR, old.RECALCULAR, new.RECALCULAR into {}:MA, :MD, :RA, "
            ":RD;\n{}",
            ParaUtf8(kTabela), conjunto, r, r, antesDepois, destinos, diario);
    }
    return "execute block (ID integer = ?" + parametros + ")\nas\n" + declaracoes + "begin\n" +
           corpo + "end";
}

std::vector<int> SlotsDa(uint32_t forma) {
    std::vector<int> slots;
    for (int slot : SlotsUsaveis)
        if (forma >> slot & 1u) slots.push_back(slot);
    return slots;
}

// The rows the return file names, with the postings the strict mode makes on each, decided by
// the import's own rule. The first active row of a registration is the one posted to.
std::vector<Alvo> LerAlvos(
    fb::Transacao& t, const std::unordered_map<std::u16string, std::vector<size_t>>& porServidor,
    const std::vector<std::u16string>& linhas) {
    std::u16string colunas = u"rdb$db_key, MATRICULA, MCVALOR, ATIVO";
    for (int slot : SlotsUsaveis) colunas += u", COD" + DeUtf8(std::to_string(slot));
    fb::Comando todas(t, u"select " + colunas + u" from " + kTabela,
                      "medir a leitura da tabela de descontos");
    std::vector<Alvo> alvos;
    std::unordered_map<std::u16string, size_t> vistos;
    for (auto cur = todas.Abrir(); cur.Proximo();) {
        std::u16string m = cur.Texto(1u);
        if (!porServidor.contains(m) || SemBrancosFinais(cur.Texto(3u)) != u"T" ||
            vistos.contains(m))
            continue;
        Alvo a{cur.Bytes(0u), m, {}, {}};
        a.linha.margem = CentavosDe(cur.Real(2u));
        for (size_t k = 0; k < SlotsUsaveis.size(); ++k)
            if (!cur.TextoVazio(static_cast<unsigned>(4 + k)))
                a.linha.ocupados |= 1u << SlotsUsaveis[k];
        vistos.emplace(std::move(m), alvos.size());
        alvos.push_back(std::move(a));
    }
    for (Alvo& a : alvos)
        for (size_t numero : porServidor.at(a.matricula)) {
            const Avaliacao v = Avaliar(a.linha, linhas[numero - 1], true);
            if (!v.dados) continue;
            Ocupar(a.linha, v.slot, v.desfecho.novaMargem);
            a.postagens.push_back({v.slot, v.dados->codigo, v.desfecho.descontado,
                                   v.desfecho.novaMargem, v.dados->quant, v.dados->perc,
                                   static_cast<int64_t>(numero)});
        }
    std::erase_if(alvos, [](const Alvo& a) { return a.postagens.empty(); });
    return alvos;
}

// Writes the postings: the rows grouped by the slots they take, in batches of kLote rows (fewer
// when the statement would be too long), each batch's statement prepared once.
void Gravar(fb::Transacao& t, int32_t id, const std::vector<Alvo>& alvos) {
    std::map<uint32_t, std::vector<const Alvo*>> porForma;
    for (const Alvo& a : alvos) {
        uint32_t forma = 0;
        for (const Postagem& p : a.postagens) forma |= 1u << p.slot;
        porForma[forma].push_back(&a);
    }
    std::map<std::pair<uint32_t, size_t>, std::unique_ptr<fb::Comando>> preparados;
    std::vector<fb::Parametro> p;
    for (const auto& [forma, linhas] : porForma) {
        const std::vector<int> slots = SlotsDa(forma);
        const size_t lote =
            std::clamp<size_t>(kTamanhoMaximoSql / SqlDoLote(slots, 1).size(), 1, kLote);
        for (size_t inicio = 0; inicio < linhas.size(); inicio += lote) {
            const size_t n = std::min(lote, linhas.size() - inicio);
            auto& comando = preparados[{forma, n}];
            if (!comando)
                comando = std::make_unique<fb::Comando>(t, std::string_view(SqlDoLote(slots, n)),
                                                        "medir os lançamentos em lote");
            p.clear();
            p.emplace_back(int64_t{id});
            for (size_t i = inicio; i < inicio + n; ++i) {
                const Alvo& a = *linhas[i];
                p.insert(p.end(), {fb::Octetos{a.chave}, a.matricula, Reais(a.linha.margem)});
                for (const Postagem& l : a.postagens)
                    p.insert(p.end(),
                             {l.codigo, Reais(l.valor), int64_t{l.quant}, int64_t{l.perc},
                              int64_t{l.quant} - l.perc + 1, l.linha, Reais(l.novaMargem)});
            }
            comando->Executar(p);
        }
    }
}

}  // namespace

Processo ReferenciaGeracao(const std::u16string& local, const std::u16string& filtro) {
    // The generation statements without the host's filter: the rows the files need.
    static const std::u16string consultas[] = {SqlPessoas(u"FEV", std::nullopt),
                                               SqlMargem(u"FEV", std::nullopt),
                                               SqlTransferidos(u"FEV", u"JAN", std::nullopt)};
    return Cronometrar([&] {
        fb::Conexao c;
        c.Abrir(local, kUsuarioBanco, kSenhaBanco, fb::EscritaForcada::Manter, {},
                fb::ConjuntoDaConexao::Win1252);
        fb::Transacao t(c, fb::ModoTransacao::Leitura);
        LerTudo(t, u"select matricula from (" + filtro + u")");
        for (const std::u16string& sql : consultas) LerTudo(t, sql);
        LerTudo(t, kEventos);
    });
}

Processo ReferenciaImportacao(const std::u16string& local,
                              const std::vector<std::u16string>& linhas) {
    // The instalment lines (every line between the header and the trailer) by servant, in order.
    std::unordered_map<std::u16string, std::vector<size_t>> porServidor;
    for (size_t k = 1; k + 1 < linhas.size(); ++k)
        porServidor[ChaveServidor(linhas[k])].push_back(k + 1);
    return Cronometrar([&] {
        fb::Conexao c;
        AbrirBancoDaFolha(c, local);
        PrepararDiario(c);
        fb::Transacao t(c, fb::ModoTransacao::Escrita);
        LerTudo(t, kEventos);
        const std::vector<Alvo> alvos = LerAlvos(t, porServidor, linhas);
        if (alvos.empty()) throw std::runtime_error("nenhuma parcela a lançar");

        ImportacaoRegistrada registro;
        registro.hash = std::u16string(64, u'0');
        registro.mes = 2;
        registro.ano = 2024;
        registro.tabela = kTabela;
        registro.id = NovoIdImportacao(t);
        RegistrarImportacao(t, registro);
        Gravar(t, registro.id, alvos);
        for (const Alvo& a : alvos)
            registro.descontadas += static_cast<int64_t>(a.postagens.size());
        RegistrarContagens(t, registro);
        t.Commit();
    });
}

}  // namespace kavlo::bench
