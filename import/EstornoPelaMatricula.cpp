#include <array>
#include <map>
#include <set>
#include <variant>

#include "import/BlocoDeLinhas.h"
#include "import/EstornoDevolucao.h"
#include "util/Codificacao.h"
#include "util/ConjuntoDeChaves.h"
#include "util/Utils.h"

namespace kavlo::estorno {
namespace {

// Whether column `i` holds exactly `valor` (bytes for a text, the double for a number, NULL).
bool Guarda(const fb::Cursor& c, unsigned i, const fb::Parametro& valor) {
    if (std::holds_alternative<fb::Nulo>(valor)) return c.Nulo(i);
    if (c.Nulo(i)) return false;
    if (const auto* o = std::get_if<fb::Octetos>(&valor)) return c.Bytes(i) == o->bytes;
    return c.Real(i) == std::get<double>(valor);
}

}  // namespace

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

}  // namespace kavlo::estorno
