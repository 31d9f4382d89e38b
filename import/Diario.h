// The journal of imports, kept in the payroll database itself and written in each import's own
// transaction: one KAVLO_IMPORTACAO row per committed import and one KAVLO_LANCAMENTO row per
// posting, with every column the posting changed before and after. It is how the library refuses
// to post the same file twice, settles a commit whose answer was lost, and undoes an import.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dao/firebird/Firebird.h"
#include "util/Datas.h"

namespace kavlo {

// The journal's DDL, statement by statement, in the order it is created.
struct ObjetoDiario {
    // "GENERATOR", "TABLE" or "INDEX", as RDB$ names it, or "COLUMN" of KAVLO_IMPORTACAO
    std::string_view tipo;
    std::string_view nome;
    std::string ddl;
};
extern const std::vector<ObjetoDiario> kDiario;

// A column of a journal table, as CREATE TABLE declares it.
struct ColunaDoDiario {
    std::string nome, tipo;
};
// KAVLO_LANCAMENTO's columns, in order: the posting's import, return line, servant, row key and
// slot, then what each column of the deduction table it changed held before and after
// (NoDiario), the slot's five first, then the row's margin and mark (ColunasDaDeducao.h).
const std::vector<ColunaDoDiario>& ColunasDoLancamento();
// The journal's column of what the deduction table's `coluna` held before (COD_ANTES) or after
// (COD_DEPOIS) a posting; a slot's column without its number.
std::u16string NoDiario(std::u16string_view coluna, bool depois);
// The columns of KAVLO_IMPORTACAO written after its row: the counts, and the undo's mark.
std::vector<std::string> ColunasAlteradasDaImportacao();

// Creates what is missing of the journal, each object in a transaction of its own (another
// process creating it at the same moment is fine). Throws Erro saying the journal cannot be kept
// when the database refuses (a read-only database, a user without the rights).
void PrepararDiario(fb::Conexao& conexao);

// Whether a creation of the journal failed because another process was creating the same object
// at the same moment (its name already taken, or its row held): only then does PrepararDiario
// look again before giving up.
bool CriadoAoMesmoTempo(const ErroBanco& erro);

// Whether the journal exists at all (listing and undoing never create it).
bool DiarioExiste(fb::Transacao& transacao);

struct ImportacaoRegistrada {
    int32_t id = 0;
    TDateTime quando = 0;
    std::u16string usuario, maquina, arquivo, hash;
    std::u16string hashConteudo;  // empty in rows written before the lines were hashed
    int32_t mes = 0, ano = 0;
    std::u16string tabela, folhas, verificaMargem;
    bool margemVerificada = true;
    bool reimportacao = false;
    int64_t linhas = 0, descontadas = 0, naoDescontadas = 0, semSlot = 0, naoEncontradas = 0,
            inativas = 0;
    int64_t totalCentavos = 0;
    std::u16string resultado;
    std::optional<TDateTime> estornoQuando;
    std::u16string estornoUsuario, estornoMaquina;
};

// A new id from the journal's generator; taken before posting, so that a commit whose answer is
// lost can be looked up by it. `provisorio`: the next id as things stand, without taking one from
// the generator (for an import that will be rolled back).
int32_t NovoIdImportacao(fb::Transacao& transacao, bool provisorio = false);

// The latest import not undone of the same file into the same table (SFPDXX02 + month, which does
// not name the year): the same lines (ArquivoDeRetorno::HashConteudo), or, for a row written
// before the lines were hashed, the same bytes. What the guard protects is the table's rows, so
// neither the file's name nor the month's text nor the year counts.
std::optional<ImportacaoRegistrada> ImportacaoDoMesmoArquivo(fb::Transacao& transacao,
                                                             std::string_view hashConteudo,
                                                             std::string_view hash,
                                                             std::u16string_view tabela);

// The import's row, written before its postings; the counts follow at the end.
void RegistrarImportacao(fb::Transacao& transacao, const ImportacaoRegistrada& importacao);
void RegistrarContagens(fb::Transacao& transacao, const ImportacaoRegistrada& importacao);

// The undo's mark (when, and estornoUsuario, estornoMaquina), on an import not undone yet; false
// when another process undid it first.
bool RegistrarEstorno(fb::Transacao& transacao, const ImportacaoRegistrada& importacao);

std::optional<ImportacaoRegistrada> BuscarImportacao(fb::Transacao& transacao, int32_t id);
// Every import, newest first.
std::vector<ImportacaoRegistrada> ListarImportacoes(fb::Transacao& transacao);

// "importação 7 de 10/12/2026 14:03 por ana em FOLHA-01 (150 parcelas descontadas, total R$
// 12.345,67)"
std::string DescreverImportacao(const ImportacaoRegistrada& importacao);

// The refusal of a file already imported into the table: what was imported, when and by whom,
// that nothing was posted now, and the two ways on (undo it, or --reimportar).
std::string JaImportado(const ImportacaoRegistrada& anterior, std::u16string_view arquivo);

// After a commit that failed: was the import with this id committed after all? Asks the database
// again on a new connection, for up to `segundos`, until the import's row is there (committed), or
// its transaction `transacao` is gone without it (not committed).
enum class EstadoGravacao { Gravada, NaoGravada, Desconhecida };
EstadoGravacao VerificarGravacao(std::u16string_view caminhoBanco, int32_t id, int64_t transacao,
                                 double segundos, std::string& motivo);

}  // namespace kavlo
