#include "import/ImportacaoKavlo.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "dao/BancoFolha.h"
#include "dao/EventosMes.h"
#include "dao/Firebird.h"
#include "dao/SituacaoServidor.h"
#include "entry/ProcessoKavlo.h"
#include "import/ArquivoResultado.h"
#include "import/ArquivoRetorno.h"
#include "import/Diario.h"
#include "import/Lancamento.h"
#include "import/RelatorioSemMargem.h"
#include "import/TabelaDeducao.h"
#include "util/Arquivos.h"
#include "util/Codificacao.h"
#include "util/Datas.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Observacao.h"
#include "util/Sistema.h"
#include "util/Utils.h"

namespace kavlo {
namespace {

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

// The journal's message for a file already imported for the month: nothing was written, and how
// to go on.
std::string JaImportado(const ImportacaoRegistrada& anterior, std::u16string_view arquivo,
                        int32_t mes, int32_t ano) {
    char referencia[16];
    std::snprintf(referencia, sizeof referencia, "%02d/%04d", mes, ano);
    return "O arquivo de retorno '" + ParaMensagem(arquivo) + "' já foi importado para " +
           referencia + ": " + DescreverImportacao(anterior) +
           ". Nada foi lançado agora. Para importar o mesmo arquivo de novo, estorne antes a "
           "importação " +
           std::to_string(anterior.id) + " (kavlo estornar --importacao " +
           std::to_string(anterior.id) +
           ") ou, se a intenção é mesmo lançar as parcelas outra vez, use kavlo importar "
           "--reimportar.";
}

int64_t TransacaoAtual(fb::Transacao& transacao) {
    fb::Comando c(transacao, std::string_view("select current_transaction from RDB$DATABASE"),
                  "identificar a transação da importação");
    fb::Cursor r = c.Abrir();
    r.Proximo();
    return std::llround(r.Real(0u));
}

}  // namespace

TImportacaoKAVLO::TImportacaoKAVLO() = default;
TImportacaoKAVLO::~TImportacaoKAVLO() = default;

ResumoImportacao TImportacaoKAVLO::Importar(const std::vector<std::u16string>& AArquivo,
                                            const std::u16string& ACaminhoBanco,
                                            const std::u16string& AVerificaMargem) {
    TProcessoKAVLO& processo = TProcessoKAVLO::getInstance();
    const int mes = StrToInt(processo.MesAtual);
    const std::u16string tabela = u"SFPDXX02" + MesAbreviado(mes);
    const std::u16string ano = processo.Ano;
    const std::u16string folhas = processo.Folhas;
    const OpcoesImportacao& opcoes = processo.Opcoes;
    // A simulation writes its files under names that say so, never over a real result or report.
    const std::u16string caminhoResultado =
        opcoes.simular ? NomeDeSimulacao(processo.CaminhoArquivo) : processo.CaminhoArquivo;
    const bool estrito = AVerificaMargem == u"S";
    const std::u16string referencia =
        FormatarData(LerData(u"01/" + processo.MesAtual + u"/" + ano), u"mmyyyy");
    Observacao& obs = Observacao::Atual();
    fb::Conexao& conexao = processo.Conexao();

    ResumoImportacao n;
    n.margemVerificada = estrito;
    n.simulacao = opcoes.simular;
    n.resultado = caminhoResultado;
    n.relatorio = CaminhoRelatorio(ACaminhoBanco, processo.CaminhoArquivo);
    if (opcoes.simular) n.relatorio = NomeDeSimulacao(n.relatorio);

    // Before anything is written: none of the files may be another, or the database.
    std::vector<PapelDeArquivo> arquivos = {
        {"o arquivo de resultado", CaminhoDe(caminhoResultado)},
        {"o relatório de servidores sem margem", CaminhoDe(n.relatorio)},
        {"o arquivo de retorno", CaminhoDe(processo.CaminhoLoad)}};
    if (auto banco = ArquivoDoBanco(ACaminhoBanco))
        arquivos.push_back({"o banco de dados da folha", CaminhoDe(*banco)});
    ConferirArquivosDistintos(arquivos);

    ImportacaoRegistrada registro;
    registro.usuario = UsuarioDoSistema();
    registro.maquina = NomeDaMaquina();
    registro.arquivo = processo.CaminhoLoad;
    registro.hash = DeUtf8(processo.HashRetorno);
    registro.mes = mes;
    registro.ano = StrToInt(ano);
    registro.tabela = tabela;
    registro.folhas = folhas;
    registro.verificaMargem = AVerificaMargem;
    registro.margemVerificada = estrito;
    registro.reimportacao = opcoes.reimportar;
    registro.resultado = caminhoResultado;

    // A wrong month fails before the journal is made; without the journal nothing is posted.
    ConferirTabela(conexao, tabela);
    PrepararDiario(conexao);

    Substituicao colocacao;  // undone, bringing the earlier files back, unless concluded
    std::optional<std::string> falhaCommit;
    int64_t idTransacao = 0;
    {
        // One transaction for the whole file: every instalment is posted, and journaled, or none.
        fb::Transacao transacao(conexao, fb::ModoTransacao::Escrita);
        if (!opcoes.reimportar)
            if (auto anterior =
                    ImportacaoDoMesmoArquivo(transacao, processo.HashRetorno, mes, registro.ano))
                throw Erro(JaImportado(*anterior, processo.CaminhoLoad, mes, registro.ano));
        // A simulation takes no number from the generator, whose values no rollback gives back.
        registro.id = n.id = NovoIdImportacao(transacao, opcoes.simular);
        RegistrarImportacao(transacao, registro);

        TabelaDeducao linhas = LerTabela(transacao, tabela);
        GravadorLancamentos gravador(transacao, tabela, registro.id);
        // The month's dismissals and leaves, read once instead of two to three statements per
        // line.
        const EventosMes situacao(transacao, processo.MesAtual, ano, folhas);

        ArquivoTemporario resultado(CaminhoDe(caminhoResultado));
        ArquivoTemporario relatorio(CaminhoDe(n.relatorio));

        obs.Etapa("Importando parcelas");
        const size_t total = AArquivo.size();
        n.linhas = static_cast<int64_t>(total);
        for (size_t i = 0; i < total; ++i) {
            obs.Avancar();
            const std::u16string& linha = AArquivo[i];
            if (i == 0) resultado.EscreverLinha(CabecalhoResultado(linha, referencia));
            if (i == total - 1) resultado.EscreverLinha(RodapeResultado(linha));
            if (i == 0 || i == total - 1) continue;

            ++n.detalhes;
            const std::u16string chave = ChaveServidor(linha);
            const auto achada = linhas.ativas.find(chave);
            if (achada == linhas.ativas.end()) {
                (linhas.inativas.contains(chave) ? n.inativas : n.naoEncontradas)
                    .push_back({i + 1, chave});
                continue;
            }
            LinhaDeducao& row = achada->second;
            try {
                const int64_t parcela = ParcelaDaLinha(linha);
                const int64_t margem = row.margem;
                const int slot = PrimeiroSlotLivre(row);
                Desfecho d = slot ? Decidir(estrito, margem, parcela)
                                  : Desfecho{Resultado::SemSlot, 0, parcela, margem};
                if (d.resultado == Resultado::Integral || d.resultado == Resultado::Parcial) {
                    const DadosDoLancamento dados = DadosDaLinha(linha);
                    gravador.Lancar(
                        row, slot,
                        {dados.codigo, d.descontado, dados.quant, dados.perc, d.novaMargem, i + 1});
                    n.totalCentavos += d.descontado;
                }
                switch (d.resultado) {
                    case Resultado::Integral:
                        ++n.integral;
                        break;
                    case Resultado::Parcial:
                        ++n.parcial;
                        relatorio.EscreverLinha(EntradaProporcional(row.matricula, linha, margem,
                                                                    parcela, d.descontado));
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
                resultado.EscreverLinha(
                    LinhaResultado(linha, d, situacao.Consultar(row.matricula)));
            } catch (const Erro&) {
                ComContexto(i, chave);
            }
        }
        gravador.Gravar();
        registro.linhas = n.linhas;
        registro.descontadas = n.integral + n.parcial;
        registro.naoDescontadas = n.naoDescontadas;
        registro.semSlot = n.semSlot;
        registro.naoEncontradas = static_cast<int64_t>(n.naoEncontradas.size());
        registro.inativas = static_cast<int64_t>(n.inativas.size());
        registro.totalCentavos = n.totalCentavos;
        RegistrarContagens(transacao, registro);
        resultado.Fechar();
        relatorio.Fechar();

        // Files first, commit after. Both are complete and closed before anything is committed,
        // and they are moved into place before the commit: if the commit fails they are taken
        // back and the earlier files restored. What remains is a crash between the move and the
        // commit: the files then describe postings the database discarded, and the operator sees
        // an outcome without postings, which a new run repairs. The opposite order would leave
        // committed postings without a result file after such a crash.
        colocacao.Colocar(resultado);
        colocacao.Colocar(relatorio);
        if (opcoes.simular) {
            transacao.Rollback();
        } else {
            idTransacao = TransacaoAtual(transacao);
            if (opcoes.antesDoCommit) opcoes.antesDoCommit();
            try {
                transacao.Commit();
            } catch (const ErroBanco& e) {
                falhaCommit = e.what();
            }
        }
    }  // every statement and the transaction are released here, before any reconnection

    if (falhaCommit) {
        // The answer to the commit was lost: the server may or may not have committed. The journal
        // row, written in the same transaction, says which.
        conexao.Fechar();
        std::string motivo;
        const std::string id = std::to_string(registro.id);
        switch (VerificarGravacao(processo.CaminhoBanco, registro.id, idTransacao,
                                  opcoes.esperaConfirmacao, motivo)) {
            case EstadoGravacao::Gravada:
                n.aviso = "A confirmação da importação " + id +
                          " no banco de dados não respondeu (" + *falhaCommit +
                          "), mas o diário mostra que ela foi gravada: as parcelas estão "
                          "lançadas e os arquivos de resultado e relatório valem.";
                break;
            case EstadoGravacao::NaoGravada:
                throw ErroBanco(*falhaCommit + " Nenhuma parcela foi lançada (a importação " + id +
                                " não consta do diário); o arquivo de resultado e o relatório "
                                "anteriores foram mantidos.");
            case EstadoGravacao::Desconhecida:
                // Either way a new run of the same file is right: refused by the journal if this
                // one went through (and these files are then its own), imported otherwise.
                colocacao.Concluir();
                throw ErroBanco(
                    "A confirmação da importação " + id + " no banco de dados falhou (" +
                    *falhaCommit + ") e não foi possível saber se ela foi gravada (" + motivo +
                    "). Os arquivos de resultado e relatório desta execução foram mantidos. "
                    "Execute a importação de novo quando o banco responder: se ela foi gravada, "
                    "será recusada, pois a importação " +
                    id + " constará do diário (kavlo importacoes); se não, será feita agora.");
        }
    }
    colocacao.Concluir();
    obs.FimEtapa();
    return n;
}

}  // namespace kavlo
