#include "import/ImportacaoKavlo.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "dao/EventosMes.h"
#include "dao/Firebird.h"
#include "dao/SituacaoServidor.h"
#include "entry/ProcessoKavlo.h"
#include "import/ArquivoResultado.h"
#include "import/ArquivoRetorno.h"
#include "import/Lancamento.h"
#include "import/RelatorioSemMargem.h"
#include "util/Arquivos.h"
#include "util/Codificacao.h"
#include "util/Datas.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Observacao.h"
#include "util/Utils.h"

namespace kavlo {
namespace {

// The month's active rows by MATRICULA exactly as read; the first row the database returns wins.
struct TabelaDeducao {
    std::unordered_map<std::u16string, LinhaDeducao> ativas;
    std::unordered_set<std::u16string>
        inativas;  // only to tell the operator why a line was dropped
};

TabelaDeducao LerTabela(fb::Transacao& transacao, const std::u16string& tabela) {
    Observacao& obs = Observacao::Atual();
    obs.Etapa("Lendo a tabela de descontos do mês");
    TabelaDeducao t;
    // One pass over the table, and only the columns the import reads: the table has a hundred,
    // and this read is most of a run. Inactive rows are kept by key only, to tell the operator
    // why a line was dropped.
    std::u16string colunas = u"rdb$db_key as KAVLO_CHAVE_LINHA, MATRICULA, MCVALOR, ATIVO";
    for (int slot : SlotsUsaveis) colunas += u", COD" + DeUtf8(std::to_string(slot));
    fb::Comando linhas(transacao, u"select " + colunas + u" from " + tabela,
                       "ler os servidores da tabela " + ParaUtf8(tabela));
    fb::Cursor c = linhas.Abrir();
    const unsigned chave = c.Indice("KAVLO_CHAVE_LINHA");
    const unsigned matricula = c.Indice("MATRICULA");
    const unsigned margem = c.Indice("MCVALOR");
    const unsigned ativo = c.Indice("ATIVO");
    std::array<unsigned, 18> cod{};
    for (int slot : SlotsUsaveis)
        cod[static_cast<size_t>(slot)] = c.Indice("COD" + std::to_string(slot));
    while (c.Proximo()) {
        obs.Avancar();
        std::u16string m = c.Texto(matricula);
        // ATIVO = 'T' as the database compares it: trailing blanks do not count.
        if (ChaveComparavel(c.Texto(ativo)) != u"T") {
            t.inativas.insert(std::move(m));
            continue;
        }
        if (t.ativas.contains(m)) continue;  // the first active row wins
        LinhaDeducao l;
        l.matricula = m;
        l.chaveBanco = c.Bytes(chave);
        l.margem = c.Real(margem);
        for (int slot : SlotsUsaveis)
            l.ocupado[static_cast<size_t>(slot)] = !c.TextoVazio(cod[static_cast<size_t>(slot)]);
        t.ativas.emplace(std::move(m), std::move(l));
    }
    return t;
}

std::string Contexto(size_t indice, std::u16string_view chave) {
    return " (linha " + std::to_string(indice + 1) + " do arquivo de retorno, servidor " +
           ParaMensagem(chave) + ")";
}

// Rethrows the error of one return line with its line number and servant key after the message.
[[noreturn]] void ComContexto(size_t indice, std::u16string_view chave) {
    const std::string ctx = Contexto(indice, chave);
    try {
        throw;
    } catch (const ErroConversao& e) {
        throw ErroConversao(e.what() + ctx);
    } catch (const ErroBanco& e) {
        throw ErroBanco(e.what() + ctx);
    } catch (const ErroArquivo& e) {
        throw ErroArquivo(e.what() + ctx);
    } catch (const Erro& e) {
        throw Erro(e.what() + ctx);
    }
}

std::string Reais(double valor) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", std::round(valor * 100) / 100);
    std::string r = buf;
    if (auto p = r.find('.'); p != std::string::npos) r[p] = ',';
    return r;
}

struct Contagem {
    int64_t detalhes = 0, integral = 0, parcial = 0, naoDescontadas = 0, semSlot = 0;
    int64_t naoEncontradas = 0, inativas = 0;
    double total = 0;
};

}  // namespace

TImportacaoKAVLO::TImportacaoKAVLO() = default;
TImportacaoKAVLO::~TImportacaoKAVLO() = default;

void TImportacaoKAVLO::Importar(const std::vector<std::u16string>& AArquivo,
                                const std::u16string& ACaminhoBanco,
                                const std::u16string& AVerificaMargem) {
    TProcessoKAVLO& processo = TProcessoKAVLO::getInstance();
    const int mes = StrToInt(processo.MesAtual);
    const std::u16string tabela = u"SFPDXX02" + MesAbreviado(mes);
    const std::u16string ano = processo.Ano;
    const std::u16string folhas = processo.Folhas;
    const std::u16string caminhoResultado = processo.CaminhoArquivo;
    const bool estrito = AVerificaMargem == u"S";
    Observacao& obs = Observacao::Atual();

    // One transaction for the whole file: every instalment is posted, or none is.
    fb::Transacao transacao(processo.Conexao(), fb::ModoTransacao::Escrita);
    TabelaDeducao linhas = LerTabela(transacao, tabela);
    GravadorLancamentos gravador(transacao, tabela);
    // The month's dismissals and leaves, read once instead of two to three statements per line.
    const EventosMes situacao(transacao, processo.MesAtual, ano, folhas);

    ArquivoTemporario resultado(CaminhoDe(caminhoResultado));
    const std::u16string caminhoRelatorio = CaminhoRelatorio(ACaminhoBanco, caminhoResultado);
    ArquivoTemporario relatorio(CaminhoDe(caminhoRelatorio));

    obs.Etapa("Importando parcelas");
    Contagem n;
    const size_t total = AArquivo.size();
    for (size_t i = 0; i < total; ++i) {
        obs.Avancar();
        const std::u16string& linha = AArquivo[i];
        if (i == 0)
            resultado.EscreverLinha(CabecalhoResultado(
                linha, FormatarData(LerData(u"01/" + processo.MesAtual + u"/" + ano), u"mmyyyy")));
        if (i == total - 1) resultado.EscreverLinha(RodapeResultado(linha));
        if (i == 0 || i == total - 1) continue;

        ++n.detalhes;
        const std::u16string chave = ChaveServidor(linha);
        const auto achada = linhas.ativas.find(chave);
        if (achada == linhas.ativas.end()) {
            const bool inativa = linhas.inativas.contains(chave);
            ++(inativa ? n.inativas : n.naoEncontradas);
            obs.Registrar(inativa ? "inativa" : "nao_encontrada",
                          std::to_string(i + 1) + " " + ParaMensagem(chave));
            continue;
        }
        LinhaDeducao& row = achada->second;
        try {
            double parcela;
            try {
                parcela = LerParcela(linha);
            } catch (const ErroConversao& e) {
                throw ErroConversao(std::string(e.what()) +
                                    ", valor da parcela nas posições 140 a 154");
            }
            // A negative instalment would credit the servant instead of deducting.
            if (parcela < 0)
                throw ErroConversao(
                    "Parcela negativa '" + ParaMensagem(Campo(linha, retorno::Parcela)) +
                    "' nas posições 140 a 154: o arquivo de retorno só pode trazer descontos");
            // The result file's amount field holds up to 999999999999.99; a larger instalment is
            // no real one and would be shown cut.
            if (parcela >= 1e12)
                throw ErroConversao("Parcela '" + ParaMensagem(Campo(linha, retorno::Parcela)) +
                                    "' nas posições 140 a 154 excede o maior valor do arquivo de "
                                    "resultado (999999999999.99)");
            const double margem = row.margem;
            const int slot = PrimeiroSlotLivre(row);
            Desfecho d = slot ? Decidir(estrito, margem, parcela)
                              : Desfecho{Resultado::SemSlot, 0, parcela, margem};
            if (d.resultado == Resultado::Integral || d.resultado == Resultado::Parcial) {
                const std::u16string codigo = CodigoDesconto(linha);
                // A blank code would leave the slot looking free for the next posting to overwrite.
                if (codigo.empty())
                    throw Erro(
                        "Código de desconto em branco nas posições 88 a 89: a parcela não pode ser "
                        "lançada");
                int32_t quant, perc;
                try {
                    quant = LerContador(linha, retorno::ContadorQuant);
                    perc = LerContador(linha, retorno::ContadorPerc);
                } catch (const ErroConversao& e) {
                    throw ErroConversao(std::string(e.what()) +
                                        ", contador de parcelas nas posições 170 a 175");
                }
                gravador.Lancar(row, slot, {codigo, d.descontado, quant, perc, d.novaMargem},
                                i + 1);
                n.total += d.descontado;
            }
            switch (d.resultado) {
                case Resultado::Integral:
                    ++n.integral;
                    break;
                case Resultado::Parcial:
                    ++n.parcial;
                    relatorio.EscreverLinha(
                        EntradaProporcional(row.matricula, linha, margem, parcela, d.descontado));
                    break;
                case Resultado::NaoDescontado:
                    ++n.naoDescontadas;
                    relatorio.EscreverLinha(
                        EntradaNaoImportado(row.matricula, linha, margem, parcela));
                    break;
                case Resultado::SemSlot:
                    ++n.semSlot;
                    break;
            }
            resultado.EscreverLinha(LinhaResultado(linha, d, situacao.Consultar(row.matricula)));
        } catch (const Erro&) {
            ComContexto(i, chave);
        }
    }
    gravador.Gravar();
    resultado.Fechar();
    relatorio.Fechar();

    // Files first, commit after. Both are complete and closed before anything is committed, and
    // they are moved into place before the commit: if the commit fails they are taken back and
    // the earlier files restored. What remains is a crash between the move and the commit: the
    // files then describe postings the database discarded, and the operator sees an outcome
    // without postings, which a new run repairs. The opposite order would leave committed
    // postings without a result file after such a crash, and a new run would post them twice.
    Substituicao colocacao;  // undone if anything below fails before Concluir
    colocacao.Colocar(resultado);
    colocacao.Colocar(relatorio);
    if (obs.Simular())
        transacao.Rollback();
    else
        transacao.Commit();
    colocacao.Concluir();

    obs.Registrar("linhas", static_cast<int64_t>(total));
    obs.Registrar("detalhes", n.detalhes);
    obs.Registrar("descontadas_integral", n.integral);
    obs.Registrar("descontadas_parcial", n.parcial);
    obs.Registrar("nao_descontadas", n.naoDescontadas);
    obs.Registrar("sem_slot", n.semSlot);
    obs.Registrar("nao_encontradas", n.naoEncontradas);
    obs.Registrar("inativas", n.inativas);
    obs.Registrar("total_descontado", Reais(n.total));
    obs.Registrar("resultado", ParaUtf8(caminhoResultado));
    obs.Registrar("relatorio", ParaUtf8(caminhoRelatorio));
    obs.Registrar("simulacao", obs.Simular() ? "1" : "0");
}

}  // namespace kavlo
