#include "import/EstornoRecusa.h"

#include <algorithm>
#include <optional>
#include <set>

#include "import/Estorno.h"
#include "import/EstornoDevolucao.h"
#include "util/Codificacao.h"
#include "util/ConjuntoDeChaves.h"
#include "util/Erros.h"
#include "util/Utils.h"

namespace kavlo::estorno {
namespace {

// Lines of a refusal listed one by one; the rest are counted.
constexpr size_t kListados = 20;

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

void RecusarSeHouver(const ImportacaoRegistrada& imp, const Impedimentos& i) {
    if (i.posteriores.empty() && i.conflitos.empty() && i.naoAchadas.empty()) return;
    const std::string nome = "A importação " + std::to_string(imp.id);
    std::string m = nome + " não foi estornada. Nada foi alterado.";
    if (!i.conflitos.empty()) {
        m += "\nEstas linhas mudaram desde a importação, e o estorno só desfaz o que ainda "
             "está como a importação deixou:";
        for (const auto& c : i.conflitos) m += "\n  " + c;
    }
    if (!i.naoAchadas.empty()) {
        if (i.restaurado)
            m += "\nO banco de dados foi restaurado de uma cópia de segurança depois da "
                 "importação (ele foi recriado em " +
                 ParaUtf8(FormatarData(i.recriadoEm, u"dd/mm/yyyy hh:nn")) +
                 ", e a importação é de " +
                 ParaUtf8(FormatarData(imp.quando, u"dd/mm/yyyy hh:nn")) +
                 "), o que troca as chaves das linhas; cada linha foi procurada pela "
                 "matrícula do servidor e pelos valores que a importação gravou, e estas não "
                 "foram encontradas:";
        else
            m += "\nEstas linhas não foram encontradas na tabela " + ParaUtf8(imp.tabela) +
                 " (foram apagadas depois da importação?):";
        for (const auto& c : i.naoAchadas) m += "\n  " + c;
    }
    // Last, as it ends with what to do first.
    if (!i.posteriores.empty()) m += SobrePosteriores(i.posteriores, i.quantasPosteriores);
    throw EstornoRecusado(m,
                          Resumo(nome, imp, i.conflitos, i.naoAchadas, i.restaurado, i.posteriores),
                          Lista(i.conflitos, i.naoAchadas, i.posteriores), imp.resultado);
}

}  // namespace kavlo::estorno
