#include "import/Estorno.h"

#include <optional>

#include "import/EstornoDevolucao.h"
#include "import/EstornoRecusa.h"
#include "util/Codificacao.h"
#include "util/Datas.h"
#include "util/Erros.h"
#include "util/Sistema.h"

namespace kavlo {
namespace {

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

// The import to undo, as the journal has it: one that exists and was not undone yet.
ImportacaoRegistrada ImportacaoAEstornar(fb::Transacao& t, int32_t id) {
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
    return *imp;
}

// The undo's mark in the journal, unless another process undid the import first.
void MarcarEstorno(fb::Transacao& t, const ImportacaoRegistrada& imp) {
    ImportacaoRegistrada marca = imp;
    marca.estornoUsuario = UsuarioDoSistema();
    marca.estornoMaquina = NomeDaMaquina();
    if (!RegistrarEstorno(t, marca))
        throw Erro("A importação " + std::to_string(imp.id) +
                   " foi estornada por outro processo agora mesmo; nada foi alterado. Confira com "
                   "kavlo importacoes.");
}

}  // namespace

ResultadoEstorno EstornarImportacao(fb::Conexao& conexao, int32_t id, bool simular) {
    const std::optional<TDateTime> criacao = CriacaoDoBanco(conexao);
    fb::Transacao t(conexao, fb::ModoTransacao::Escrita);
    ResultadoEstorno resultado;
    resultado.importacao = ImportacaoAEstornar(t, id);
    resultado.simulacao = simular;
    const ImportacaoRegistrada& imp = resultado.importacao;
    const std::vector<estorno::FormaDaLinha> formas = estorno::FormasDasLinhas(t, id);
    estorno::Impedimentos impedimentos;
    impedimentos.posteriores =
        estorno::ImportacoesPosteriores(t, imp, impedimentos.quantasPosteriores);

    // After a restore the kept keys name other rows, or none: every row is found again by its
    // servant. Otherwise a key finds its row, unless the row was deleted since.
    // A flag and a plain date: an optional here trips -Wmaybe-uninitialized in MinGW's -O3.
    impedimentos.restaurado = criacao && *criacao > imp.quando;
    impedimentos.recriadoEm = impedimentos.restaurado ? *criacao : TDateTime{};

    estorno::Devolucao devolucao(t, imp, impedimentos.restaurado, resultado);
    devolucao.Percorrer(formas);
    devolucao.PelaMatricula();
    impedimentos.conflitos = devolucao.Conflitos();
    impedimentos.naoAchadas = devolucao.NaoAchadas();
    estorno::RecusarSeHouver(imp, impedimentos);

    MarcarEstorno(t, imp);
    if (simular)
        t.Rollback();
    else
        t.Commit();
    return resultado;
}

}  // namespace kavlo
