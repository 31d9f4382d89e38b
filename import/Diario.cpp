#include "import/Diario.h"

#include <ibase.h>
#include <iberror.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <thread>
#include <type_traits>
#include <variant>

#include "dao/BancoFolha.h"
#include "import/ColunasDaDeducao.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"

namespace kavlo {

namespace {

// When a column of KAVLO_IMPORTACAO is written: with the import's row before its postings, with
// its counts at the end, or by the undo's mark.
enum class Momento { Registro, Contagens, Estorno };

// Where a column's value lives in the import's record.
using I = ImportacaoRegistrada;
using Campo = std::variant<int32_t I::*, int64_t I::*, TDateTime I::*,
                           std::optional<TDateTime> I::*, std::u16string I::*, bool I::*>;

struct ColunaDaImportacao {
    std::string_view nome, tipo;
    Campo campo;
    Momento momento;
    // A path the library wrote, read back as it was (a decomposed accent is another file name).
    bool comoGravado = false;
    // Written as the server's current_timestamp, never from the record.
    bool agora = false;
};

// Dialect 1 has no BIGINT: cents are kept in a DOUBLE PRECISION, exact for whole numbers far
// beyond any payroll. A flag is "S" or "N".
const ColunaDaImportacao kColunasDaImportacao[] = {
    {"ID", "INTEGER NOT NULL PRIMARY KEY", &I::id, Momento::Registro},
    {"QUANDO", "TIMESTAMP NOT NULL", &I::quando, Momento::Registro, false, true},
    {"USUARIO", "VARCHAR(100) CHARACTER SET UTF8", &I::usuario, Momento::Registro},
    {"MAQUINA", "VARCHAR(100) CHARACTER SET UTF8", &I::maquina, Momento::Registro},
    {"ARQUIVO", "VARCHAR(1000) CHARACTER SET UTF8", &I::arquivo, Momento::Registro, true},
    {"HASH_SHA256", "CHAR(64) CHARACTER SET ASCII NOT NULL", &I::hash, Momento::Registro},
    {"HASH_CONTEUDO", "CHAR(64) CHARACTER SET ASCII", &I::hashConteudo, Momento::Registro},
    {"MES", "SMALLINT NOT NULL", &I::mes, Momento::Registro},
    {"ANO", "SMALLINT NOT NULL", &I::ano, Momento::Registro},
    {"TABELA", "VARCHAR(31) CHARACTER SET ASCII NOT NULL", &I::tabela, Momento::Registro},
    {"FOLHAS", "VARCHAR(1000) CHARACTER SET UTF8", &I::folhas, Momento::Registro},
    {"VERIFICA_MARGEM", "VARCHAR(100) CHARACTER SET UTF8", &I::verificaMargem, Momento::Registro},
    {"MARGEM_VERIFICADA", "CHAR(1) NOT NULL", &I::margemVerificada, Momento::Registro},
    {"REIMPORTACAO", "CHAR(1) NOT NULL", &I::reimportacao, Momento::Registro},
    {"LINHAS", "INTEGER", &I::linhas, Momento::Contagens},
    {"DESCONTADAS", "INTEGER", &I::descontadas, Momento::Contagens},
    {"NAO_DESCONTADAS", "INTEGER", &I::naoDescontadas, Momento::Contagens},
    {"SEM_SLOT", "INTEGER", &I::semSlot, Momento::Contagens},
    {"NAO_ENCONTRADAS", "INTEGER", &I::naoEncontradas, Momento::Contagens},
    {"INATIVAS", "INTEGER", &I::inativas, Momento::Contagens},
    {"TOTAL_CENTAVOS", "DOUBLE PRECISION", &I::totalCentavos, Momento::Contagens},
    {"RESULTADO", "VARCHAR(1000) CHARACTER SET UTF8", &I::resultado, Momento::Registro, true},
    {"ESTORNO_QUANDO", "TIMESTAMP", &I::estornoQuando, Momento::Estorno, false, true},
    {"ESTORNO_USUARIO", "VARCHAR(100) CHARACTER SET UTF8", &I::estornoUsuario, Momento::Estorno},
    {"ESTORNO_MAQUINA", "VARCHAR(100) CHARACTER SET UTF8", &I::estornoMaquina, Momento::Estorno},
};

// The column journals made before the lines were hashed lack.
constexpr std::string_view kHashConteudo = "HASH_CONTEUDO";

bool EmReais(std::string_view tipo) {
    return tipo.starts_with("DOUBLE");
}

const ColunaDaImportacao& ColunaDaImportacaoChamada(std::string_view nome) {
    for (const ColunaDaImportacao& c : kColunasDaImportacao)
        if (c.nome == nome) return c;
    throw Erro("Erro interno: coluna " + std::string(nome) + " do diário.");
}

// CREATE TABLE from the columns, each on a line of its own, and what follows them.
std::string CriarTabela(std::string_view tabela, const std::vector<std::string>& linhas) {
    std::string ddl = "CREATE TABLE " + std::string(tabela) + " (";
    for (size_t i = 0; i < linhas.size(); ++i) ddl += (i ? ",\n  " : "\n  ") + linhas[i];
    return ddl + "\n)";
}

std::string DdlDaImportacao() {
    std::vector<std::string> linhas;
    for (const ColunaDaImportacao& c : kColunasDaImportacao)
        linhas.push_back(std::string(c.nome) + " " + std::string(c.tipo));
    return CriarTabela("KAVLO_IMPORTACAO", linhas);
}

std::string DdlDoLancamento() {
    std::vector<std::string> linhas;
    for (const ColunaDoDiario& c : ColunasDoLancamento()) linhas.push_back(c.nome + " " + c.tipo);
    linhas.push_back(
        "CONSTRAINT KAVLO_LANCAMENTO_IMPORTACAO FOREIGN KEY (ID_IMPORTACAO)\n"
        "    REFERENCES KAVLO_IMPORTACAO (ID)");
    return CriarTabela("KAVLO_LANCAMENTO", linhas);
}

}  // namespace

const std::vector<ColunaDoDiario>& ColunasDoLancamento() {
    static const std::vector<ColunaDoDiario> colunas = [] {
        // Values copied from the payroll's columns keep their stored form: texts as octets,
        // numbers as doubles, so that undoing writes back exactly what was there.
        std::vector<ColunaDoDiario> r = {
            {"ID_IMPORTACAO", "INTEGER NOT NULL"},
            {"LINHA_RETORNO", "INTEGER NOT NULL"},
            {"MATRICULA", "VARCHAR(1000) CHARACTER SET UTF8"},
            {"CHAVE_LINHA", "CHAR(8) CHARACTER SET OCTETS NOT NULL"},
            {"SLOT", "SMALLINT NOT NULL"},
        };
        auto copias = [&](const ColunaDaDeducao& coluna) {
            const std::string tipo =
                coluna.texto ? "VARCHAR(1000) CHARACTER SET OCTETS" : "DOUBLE PRECISION";
            for (bool depois : {false, true})
                r.push_back({ParaUtf8(NoDiario(coluna.nome, depois)), tipo});
        };
        for (const ColunaDaDeducao& c : kColunasDoSlot) copias(c);
        for (const ColunaDaDeducao& c : kColunasDaLinha) copias(c);
        return r;
    }();
    return colunas;
}

std::u16string NoDiario(std::u16string_view coluna, bool depois) {
    return std::u16string(coluna) + (depois ? u"_DEPOIS" : u"_ANTES");
}

const std::vector<ObjetoDiario> kDiario = {
    {"GENERATOR", "KAVLO_IMPORTACAO_ID", "CREATE GENERATOR KAVLO_IMPORTACAO_ID"},
    {"TABLE", "KAVLO_IMPORTACAO", DdlDaImportacao()},
    {"INDEX", "KAVLO_IMPORTACAO_ARQUIVO",
     "CREATE INDEX KAVLO_IMPORTACAO_ARQUIVO ON KAVLO_IMPORTACAO (HASH_SHA256, ANO, MES)"},
    // Journals made before the lines were hashed get the column; their rows keep guarding by the
    // hash of the bytes.
    {"COLUMN", kHashConteudo,
     "ALTER TABLE KAVLO_IMPORTACAO ADD " + std::string(kHashConteudo) + " " +
         std::string(ColunaDaImportacaoChamada(kHashConteudo).tipo)},
    {"INDEX", "KAVLO_IMPORTACAO_CONTEUDO",
     "CREATE INDEX KAVLO_IMPORTACAO_CONTEUDO ON KAVLO_IMPORTACAO (HASH_CONTEUDO, TABELA)"},
    {"TABLE", "KAVLO_LANCAMENTO", DdlDoLancamento()},
};

std::vector<std::string> ColunasAlteradasDaImportacao() {
    std::vector<std::string> r;
    for (const ColunaDaImportacao& c : kColunasDaImportacao)
        if (c.momento != Momento::Registro) r.emplace_back(c.nome);
    return r;
}

namespace {

bool Existe(fb::Transacao& t, const ObjetoDiario& objeto) {
    const std::string sql =
        objeto.tipo == "GENERATOR" ? "select 1 from RDB$GENERATORS where RDB$GENERATOR_NAME = ?"
        : objeto.tipo == "INDEX"   ? "select 1 from RDB$INDICES where RDB$INDEX_NAME = ?"
        : objeto.tipo == "COLUMN"  ? "select 1 from RDB$RELATION_FIELDS where RDB$RELATION_NAME = "
                                     "'KAVLO_IMPORTACAO' and RDB$FIELD_NAME = ?"
                                   : "select 1 from RDB$RELATIONS where RDB$RELATION_NAME = ?";
    fb::Comando c(t, std::string_view(sql), "consultar o diário de importações");
    fb::Cursor r = c.Abrir({DeUtf8(objeto.nome)});
    return r.Proximo();
}

// Whether the journal has the hash of the lines: one made before it has not, until the next
// import adds it (listing, checking and undoing change no table).
bool TemHashConteudo(fb::Transacao& t) {
    return Existe(t, {"COLUMN", "HASH_CONTEUDO", {}});
}

// The select list of the import's columns; a journal without the hash of the lines reads it as
// NULL.
std::string Colunas(fb::Transacao& t) {
    const bool temHash = TemHashConteudo(t);
    std::string r;
    for (const ColunaDaImportacao& c : kColunasDaImportacao) {
        if (!r.empty()) r += ", ";
        r += c.nome == kHashConteudo && !temHash
                 ? "cast(null as " + std::string(c.tipo) + ") as " + std::string(c.nome)
                 : std::string(c.nome);
    }
    return r;
}

ImportacaoRegistrada Ler(const fb::Cursor& c) {
    ImportacaoRegistrada i;
    for (const ColunaDaImportacao& coluna : kColunasDaImportacao) {
        const unsigned k = c.Indice(coluna.nome);
        std::visit(
            [&](auto membro) {
                auto& valor = i.*membro;
                using T = std::remove_reference_t<decltype(valor)>;
                if constexpr (std::is_same_v<T, int32_t>) {
                    valor = c.Inteiro(k);
                } else if constexpr (std::is_same_v<T, int64_t>) {
                    valor = EmReais(coluna.tipo) ? std::llround(c.Real(k)) : c.Inteiro(k);
                } else if constexpr (std::is_same_v<T, TDateTime>) {
                    valor = c.Data(k);
                } else if constexpr (std::is_same_v<T, std::optional<TDateTime>>) {
                    if (!c.Nulo(k)) valor = c.Data(k);
                } else if constexpr (std::is_same_v<T, bool>) {
                    valor = c.Texto(k) == u"S";
                } else {
                    valor = coluna.comoGravado ? c.TextoComoGravado(k) : c.Texto(k);
                }
            },
            coluna.campo);
    }
    return i;
}

// The value a column is written with, from the record.
fb::Parametro Valor(const ImportacaoRegistrada& i, const ColunaDaImportacao& coluna) {
    return std::visit(
        [&](auto membro) -> fb::Parametro {
            const auto& valor = i.*membro;
            using T = std::remove_cvref_t<decltype(valor)>;
            if constexpr (std::is_same_v<T, int32_t>) {
                return int64_t{valor};
            } else if constexpr (std::is_same_v<T, int64_t>) {
                if (EmReais(coluna.tipo)) return static_cast<double>(valor);
                return valor;
            } else if constexpr (std::is_same_v<T, bool>) {
                return std::u16string(valor ? u"S" : u"N");
            } else if constexpr (std::is_same_v<T, std::u16string>) {
                return valor;
            } else {
                throw Erro("Erro interno: data do diário gravada a partir do registro.");
            }
        },
        coluna.campo);
}

// "COL = ?, COL2 = current_timestamp" (an update) or the column list and the values of an insert,
// for the columns written at `momento`; the parameters in `p`.
struct Gravacao {
    std::string colunas, valores, conjunto;
    std::vector<fb::Parametro> p;
};
Gravacao GravacaoDe(const ImportacaoRegistrada& i, Momento momento) {
    Gravacao g;
    for (const ColunaDaImportacao& c : kColunasDaImportacao) {
        if (c.momento != momento) continue;
        const std::string_view separador = g.colunas.empty() ? "" : ", ";
        const std::string valor = c.agora ? "current_timestamp" : "?";
        g.colunas += std::string(separador) + std::string(c.nome);
        g.valores += std::string(separador) + valor;
        g.conjunto += std::string(separador) + std::string(c.nome) + " = " + valor;
        if (!c.agora) g.p.push_back(Valor(i, c));
    }
    return g;
}

}  // namespace

bool CriadoAoMesmoTempo(const ErroBanco& erro) {
    // "Sequence ... already exists": a code the client's header does not name.
    constexpr long kSequenciaJaExiste = 336068862L;
    // An index created by two connections at once: the commit of one of them fails building it
    // (isc_idx_key_err) while the other's stands.
    // The client's codes are ISC_STATUS, an int on 32-bit Windows: the list says its type.
    for (long codigo : std::initializer_list<long>{
             isc_no_dup, isc_unique_key_violation, isc_dyn_dup_table, isc_dyn_dup_index,
             isc_idx_key_err, kSequenciaJaExiste, isc_lock_conflict, isc_lock_timeout,
             isc_update_conflict, isc_deadlock})
        if (erro.Tem(codigo)) return true;
    return false;
}

void PrepararDiario(fb::Conexao& conexao) {
    for (const ObjetoDiario& objeto : kDiario) {
        try {
            {
                fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
                if (Existe(t, objeto)) continue;
            }
            fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
            fb::Comando(t, objeto.ddl, "criar o diário de importações").Executar();
            t.Commit();
        } catch (const ErroBanco& e) {
            // Another import may have created it a moment ago, and its commit may still be on
            // its way when ours fails on the same name: look again for a little while. Any
            // other refusal (no right, a read-only database) is told at once.
            bool criadoPorOutra = false;
            for (int tentativa = 0; tentativa < 20 && !criadoPorOutra && CriadoAoMesmoTempo(e);
                 ++tentativa) {
                if (tentativa > 0) std::this_thread::sleep_for(std::chrono::milliseconds(250));
                try {
                    fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
                    criadoPorOutra = Existe(t, objeto);
                } catch (const ErroBanco&) {
                }
            }
            if (criadoPorOutra) continue;
            throw e.Com("Não foi possível criar o diário de importações (" +
                        std::string(objeto.nome) + ") no banco de dados: " + e.what() +
                        ". A importação não lança parcelas sem registrá-las no diário; verifique "
                        "se o banco responde, aceita gravação e se o usuário pode criar tabelas.");
        }
    }
}

bool DiarioExiste(fb::Transacao& transacao) {
    for (const ObjetoDiario& objeto : kDiario)
        if ((objeto.tipo == "TABLE" || objeto.tipo == "GENERATOR") && !Existe(transacao, objeto))
            return false;
    return true;
}

int32_t NovoIdImportacao(fb::Transacao& transacao, bool provisorio) {
    fb::Comando c(transacao,
                  std::string_view(provisorio ? "select gen_id(KAVLO_IMPORTACAO_ID, 0) + 1 from "
                                                "RDB$DATABASE"
                                              : "select gen_id(KAVLO_IMPORTACAO_ID, 1) from "
                                                "RDB$DATABASE"),
                  "numerar a importação no diário");
    fb::Cursor r = c.Abrir();
    r.Proximo();
    return r.Inteiro(0u);
}

std::optional<ImportacaoRegistrada> ImportacaoDoMesmoArquivo(fb::Transacao& transacao,
                                                             std::string_view hashConteudo,
                                                             std::string_view hash,
                                                             std::u16string_view tabela) {
    // A row written before the lines were hashed has only the hash of its bytes.
    const bool conteudo = TemHashConteudo(transacao);
    fb::Comando c(transacao,
                  "select first 1 " + Colunas(transacao) +
                      " from KAVLO_IMPORTACAO where TABELA = ? and ESTORNO_QUANDO is null and " +
                      (conteudo ? "(HASH_CONTEUDO = ? or (HASH_CONTEUDO is null and "
                                  "HASH_SHA256 = ?))"
                                : "HASH_SHA256 = ?") +
                      " order by ID desc",
                  "consultar o diário de importações");
    std::vector<fb::Parametro> p = {std::u16string(tabela)};
    if (conteudo) p.emplace_back(DeUtf8(hashConteudo));
    p.emplace_back(DeUtf8(hash));
    fb::Cursor r = c.Abrir(p);
    if (!r.Proximo()) return std::nullopt;
    return Ler(r);
}

void RegistrarImportacao(fb::Transacao& transacao, const ImportacaoRegistrada& i) {
    const Gravacao g = GravacaoDe(i, Momento::Registro);
    fb::Comando c(transacao,
                  "insert into KAVLO_IMPORTACAO (" + g.colunas + ") values (" + g.valores + ")",
                  "registrar a importação no diário");
    c.Executar(g.p);
}

void RegistrarContagens(fb::Transacao& transacao, const ImportacaoRegistrada& i) {
    Gravacao g = GravacaoDe(i, Momento::Contagens);
    fb::Comando c(transacao, "update KAVLO_IMPORTACAO set " + g.conjunto + " where ID = ?",
                  "registrar a importação no diário");
    g.p.emplace_back(int64_t{i.id});
    if (c.Executar(g.p) != 1)
        throw ErroBanco("A importação " + std::to_string(i.id) +
                        " não foi encontrada no diário ao registrar suas contagens.");
}

bool RegistrarEstorno(fb::Transacao& transacao, const ImportacaoRegistrada& i) {
    Gravacao g = GravacaoDe(i, Momento::Estorno);
    fb::Comando c(
        transacao,
        "update KAVLO_IMPORTACAO set " + g.conjunto + " where ID = ? and ESTORNO_QUANDO is null",
        "registrar o estorno no diário");
    g.p.emplace_back(int64_t{i.id});
    return c.Executar(g.p) == 1;
}

std::optional<ImportacaoRegistrada> BuscarImportacao(fb::Transacao& transacao, int32_t id) {
    fb::Comando c(transacao, "select " + Colunas(transacao) + " from KAVLO_IMPORTACAO where ID = ?",
                  "consultar o diário de importações");
    fb::Cursor r = c.Abrir({int64_t{id}});
    if (!r.Proximo()) return std::nullopt;
    return Ler(r);
}

std::vector<ImportacaoRegistrada> ListarImportacoes(fb::Transacao& transacao) {
    fb::Comando c(transacao,
                  "select " + Colunas(transacao) + " from KAVLO_IMPORTACAO order by ID desc",
                  "consultar o diário de importações");
    fb::Cursor r = c.Abrir();
    std::vector<ImportacaoRegistrada> lista;
    while (r.Proximo()) lista.push_back(Ler(r));
    return lista;
}

}  // namespace kavlo
