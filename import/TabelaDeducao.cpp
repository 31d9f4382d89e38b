#include "import/TabelaDeducao.h"

#include "dao/DaoKavlo.h"
#include "dao/EventosMes.h"
#include "dao/firebird/Firebird.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Observacao.h"
#include "util/Utils.h"

#include <algorithm>
#include <memory>

namespace kavlo {
namespace {

// "SFPDXX02MAR" -> "3 (MAR)": the month a deduction table belongs to, for a message.
std::u16string MesDaTabela(std::u16string_view tabela) {
    const std::u16string_view sufixo = tabela.substr(std::min<size_t>(tabela.size(), 8));
    for (int mes = 1; mes <= 12; ++mes)
        if (MesAbreviado(mes) == sufixo)
            return DeUtf8(std::to_string(mes)) + u", " + std::u16string(sufixo);
    return std::u16string(sufixo);
}

// One pass over the table, and only the columns the import reads: the table has a hundred, and
// this read is most of a run. A month whose table is missing says which month to check.
std::unique_ptr<fb::Comando> PrepararLeitura(fb::Transacao& transacao,
                                             const std::u16string& tabela) {
    std::u16string colunas = u"rdb$db_key as KAVLO_CHAVE_LINHA, MATRICULA, MCVALOR, ATIVO";
    for (int slot : SlotsUsaveis)
        colunas += u", " + std::u16string(kCodigoDoSlot) + DeUtf8(std::to_string(slot));
    try {
        return std::make_unique<fb::Comando>(transacao, u"select " + colunas + u" from " + tabela,
                                             "ler os servidores da tabela " + ParaUtf8(tabela));
    } catch (const ErroBanco& e) {
        throw ComMesParaConferir(e, MesDaTabela(tabela));
    }
}

}  // namespace

void ConferirTabela(fb::Conexao& conexao, const std::u16string& tabela) {
    fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
    PrepararLeitura(t, tabela);
}

TabelaDeducao::TabelaDeducao(fb::Transacao& transacao, const std::u16string& tabela,
                             const ConjuntoDeChaves& chaves)
    : chaves_(chaves), linhas_(chaves.Tamanho()), estados_(chaves.Tamanho(), Estado::SemLinha) {
    Observacao& obs = Observacao::Atual();
    obs.Etapa("Lendo a tabela de descontos do mês");
    const auto linhas = PrepararLeitura(transacao, tabela);
    fb::Cursor c = linhas->Abrir();
    const unsigned chave = c.Indice("KAVLO_CHAVE_LINHA");
    const unsigned matricula = c.Indice("MATRICULA");
    const unsigned margem = c.Indice("MCVALOR");
    const unsigned ativo = c.Indice("ATIVO");
    std::array<unsigned, 18> cod{};
    for (int slot : SlotsUsaveis)
        cod[static_cast<size_t>(slot)] = c.Indice(ParaUtf8(kCodigoDoSlot) + std::to_string(slot));
    while (c.Proximo()) {
        obs.Avancar();
        const std::u16string m = c.Texto(matricula);
        const auto indice = chaves_.Indice(m);
        if (!indice) continue;  // a servant the return file does not name
        Estado& estado = estados_[*indice];
        // ATIVO = 'T' as the database compares it: trailing blanks do not count.
        if (SemBrancosFinais(c.Texto(ativo)) != u"T") {
            if (estado == Estado::SemLinha) estado = Estado::Inativa;
            continue;
        }
        if (estado == Estado::Ativa) continue;  // the first active row wins
        LinhaDeducao& l = linhas_[*indice];
        l.indice = *indice;
        const std::string chaveBanco = c.Bytes(chave);
        if (chaveBanco.size() != l.chaveBanco.size())
            throw Erro("Tabela " + ParaUtf8(tabela) + ", servidor " + ParaMensagem(m) +
                       ": RDB$DB_KEY de " + std::to_string(chaveBanco.size()) +
                       " bytes; a importação lança apenas em tabelas, não em visões.");
        std::copy(chaveBanco.begin(), chaveBanco.end(), l.chaveBanco.begin());
        try {
            l.margem = CentavosDe(c.Real(margem));
        } catch (const ErroConversao& e) {
            throw ErroConversao("Tabela " + ParaUtf8(tabela) + ", servidor " + ParaMensagem(m) +
                                ": MCVALOR " + e.what());
        }
        for (int slot : SlotsUsaveis)
            if (!c.TextoVazio(cod[static_cast<size_t>(slot)])) l.ocupados |= 1u << slot;
        estado = Estado::Ativa;
    }
}

}  // namespace kavlo
