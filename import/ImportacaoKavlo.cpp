#include "import/ImportacaoKavlo.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "dao/BancoFolha.h"
#include "dao/EventosMes.h"
#include "dao/SituacaoServidor.h"
#include "dao/firebird/Firebird.h"
#include "entry/ProcessoKavlo.h"
#include "import/ArquivoResultado.h"
#include "import/ArquivoRetorno.h"
#include "import/ArquivosDaImportacao.h"
#include "import/CadastroServidores.h"
#include "import/Diario.h"
#include "import/ExecucaoDaImportacao.h"
#include "import/ImportacoesInterrompidas.h"
#include "import/Lancamento.h"
#include "import/RelatorioSemMargem.h"
#include "import/TabelaDeducao.h"
#include "util/Caminhos.h"
#include "util/Codificacao.h"
#include "util/Datas.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Observacao.h"
#include "util/Sistema.h"
#include "util/Substituicao.h"
#include "util/Utils.h"

namespace kavlo {
namespace {

int64_t TransacaoAtual(fb::Transacao& transacao) {
    fb::Comando c(transacao, std::string_view("select current_transaction from RDB$DATABASE"),
                  "identificar a transação da importação");
    fb::Cursor r = c.Abrir();
    r.Proximo();
    return std::llround(r.Real(0u));
}

// How long settling an earlier import's files waits for a transaction its server still holds.
constexpr double kEsperaDoAcerto = 5;

Pedido LerPedido(const TProcessoKAVLO& processo, const std::u16string& ACaminhoBanco,
                 const std::u16string& AVerificaMargem) {
    Pedido p;
    p.mes = StrToInt(processo.MesAtual);
    p.mesTexto = processo.MesAtual;
    p.anoTexto = processo.Ano;
    p.tabela = u"SFPDXX02" + MesAbreviado(p.mes);
    p.cadastro = u"SFP001" + MesAbreviado(p.mes);
    p.folhas = processo.Folhas;
    p.referencia = FormatarData(LerData(u"01/" + p.mesTexto + u"/" + p.anoTexto), u"mmyyyy");
    p.ano = StrToInt(p.anoTexto);
    p.retorno = processo.CaminhoLoad;
    p.hash = DeUtf8(processo.HashRetorno);
    p.opcoes = processo.Opcoes;
    // A simulation writes its files under names that say so, never over a real result or report.
    p.arquivos = NomesDaImportacao(processo.CaminhoBanco, processo.CaminhoArquivo, p.retorno,
                                   p.opcoes.simular);
    p.resultado = p.arquivos.resultado;
    p.relatorio = p.arquivos.relatorio;
    p.banco = ACaminhoBanco;
    p.caminhoBanco = processo.CaminhoBanco;
    p.verificaMargem = AVerificaMargem;
    p.estrito = AVerificaMargem == u"S";
    return p;
}

// What the file itself shows, before the database is touched: a file without lines, or one whose
// last line is an instalment (it was cut, and that instalment would be lost as the trailer).
void ConferirArquivo(const Pedido& p, const ArquivoDeRetorno& arquivo) {
    const std::string nome = Aspas(p.retorno);
    if (arquivo.Linhas() == 0)
        throw Erro("O arquivo de retorno " + nome +
                   " está vazio: não tem nenhuma linha, nem o cabeçalho. Nada foi lançado, e o "
                   "arquivo de resultado e o relatório anteriores foram mantidos. Confira se é o "
                   "arquivo certo e se foi recebido por inteiro: o arquivo da consignatária traz "
                   "um cabeçalho, as parcelas e um rodapé.");
    if (arquivo.Cortado()) {
        const std::u16string& ultima = arquivo.Rodape();
        throw Erro("O arquivo de retorno " + nome + " parece cortado: a última linha (linha " +
                   std::to_string(arquivo.Linhas()) + ", servidor " +
                   ParaMensagem(ChaveServidor(ultima)) + ") tem o tipo de registro " +
                   Aspas(LerCampo(ultima, retorno::Tipo)) +
                   " de todas as linhas de parcela, e não é um rodapé; lida como rodapé, a "
                   "parcela dela se perderia. Nada foi lançado. Peça à consignatária o arquivo "
                   "completo, terminado pela linha de rodapé, e importe-o.");
    }
}

// Before anything is written: none of the files may be another, or the database, and the month
// must have its table (a wrong month fails before the journal is made).
void ConferirAntesDeGravar(const Pedido& p, fb::Conexao& conexao) {
    ConferirArquivosDaImportacao(p.arquivos, p.caminhoBanco, conexao, false);
    ConferirTabela(conexao, p.tabela);
    ConferirCadastro(conexao, p.cadastro,
                     DeUtf8(std::to_string(p.mes)) + u", " + MesAbreviado(p.mes));
}

// The import's number. A simulation takes none from the generator, whose values no rollback gives
// back. A real import takes it in a transaction of its own, committed at once: an embedded engine
// whose process dies forgets a number taken in a transaction it never committed and hands it out
// again, and the record of the dead import's files (ImportacoesInterrompidas) would then be read
// as the new import's.
int32_t IdDaImportacao(fb::Conexao& conexao, fb::Transacao& transacao, bool simular) {
    if (simular) return NovoIdImportacao(transacao, true);
    fb::Transacao propria(conexao, fb::ModoTransacao::Escrita);
    const int32_t id = NovoIdImportacao(propria);
    propria.Commit();
    return id;
}

ImportacaoRegistrada RegistroDoDiario(const Pedido& p) {
    ImportacaoRegistrada r;
    r.usuario = UsuarioDoSistema();
    r.maquina = NomeDaMaquina();
    r.arquivo = p.retorno;
    r.hash = p.hash;
    r.hashConteudo = DeUtf8(p.hashConteudo);
    r.mes = p.mes;
    r.ano = p.ano;
    r.tabela = p.tabela;
    r.folhas = p.folhas;
    r.verificaMargem = p.verificaMargem;
    r.margemVerificada = p.estrito;
    r.reimportacao = p.opcoes.reimportar;
    r.resultado = p.resultado;
    return r;
}

void Contar(ImportacaoRegistrada& registro, const ResumoImportacao& n) {
    registro.linhas = n.linhas;
    registro.descontadas = n.integral + n.parcial;
    registro.naoDescontadas = n.naoDescontadas;
    registro.semSlot = n.semSlot;
    registro.naoEncontradas = n.naoEncontradas.total;
    registro.inativas = n.inativas.total;
    registro.totalCentavos = n.totalCentavos;
}

// The answer to the commit was lost: the server may or may not have committed. The journal row,
// written in the same transaction, says which.
void ResolverConfirmacao(const Pedido& p, fb::Conexao& conexao, int32_t id, int64_t transacao,
                         const std::string& falha, Substituicao& colocacao,
                         ResumoImportacao& resumo) {
    conexao.Fechar();
    std::string motivo;
    const std::string numero = std::to_string(id);
    switch (VerificarGravacao(p.caminhoBanco, id, transacao, p.opcoes.esperaConfirmacao, motivo)) {
        case EstadoGravacao::Gravada:
            resumo.aviso = "A confirmação da importação " + numero +
                           " no banco de dados não respondeu (" + falha +
                           "), mas o diário mostra que ela foi gravada: as parcelas estão "
                           "lançadas e os arquivos de resultado e relatório valem.";
            return;
        case EstadoGravacao::NaoGravada:
            throw ErroBanco(falha + " Nenhuma parcela foi lançada (a importação " + numero +
                            " não consta do diário); o arquivo de resultado e o relatório "
                            "anteriores foram mantidos.");
        case EstadoGravacao::Desconhecida:
            // The next import settles these files from the journal; then a new run of the same
            // file is refused if this one went through, imported otherwise.
            colocacao.Deixar();
            throw ErroBanco(
                "A confirmação da importação " + numero + " no banco de dados falhou (" + falha +
                ") e não foi possível saber se ela foi gravada (" + motivo +
                "). Os arquivos de resultado e relatório desta execução foram mantidos, e os "
                "anteriores guardados ao lado. Execute a importação de novo quando o banco "
                "responder: ela confere primeiro no diário se a importação " +
                numero +
                " foi gravada e fica com os arquivos dela ou com os anteriores; depois, se ela "
                "foi gravada, o arquivo será recusado (kavlo importacoes mostra a importação " +
                numero + "); se não, será importado agora.");
    }
}

}  // namespace

void LinhasIgnoradas::Incluir(size_t linha, std::u16string_view chave) {
    ++total;
    if (primeiras.size() < kGuardadas) primeiras.push_back({linha, std::u16string(chave)});
}

void ResumoImportacao::Contar(Resultado r) {
    switch (r) {
        case Resultado::Integral:
            ++integral;
            break;
        case Resultado::Parcial:
            ++parcial;
            break;
        case Resultado::NaoDescontado:
            ++naoDescontadas;
            break;
        case Resultado::SemSlot:
            ++semSlot;
            break;
    }
}

TImportacaoKAVLO::TImportacaoKAVLO() = default;
TImportacaoKAVLO::~TImportacaoKAVLO() = default;

ResumoImportacao TImportacaoKAVLO::Importar(ArquivoDeRetorno& AArquivo,
                                            const std::u16string& ACaminhoBanco,
                                            const std::u16string& AVerificaMargem) {
    TProcessoKAVLO& processo = TProcessoKAVLO::getInstance();
    Pedido pedido = LerPedido(processo, ACaminhoBanco, AVerificaMargem);
    pedido.hashConteudo = AArquivo.HashConteudo();
    ConferirArquivo(pedido, AArquivo);
    fb::Conexao& conexao = processo.Conexao();
    ResumoImportacao resumo;
    resumo.margemVerificada = pedido.estrito;
    resumo.simulacao = pedido.opcoes.simular;
    resumo.resultado = pedido.resultado;
    resumo.relatorio = pedido.relatorio;
    resumo.copiaRelatorio = pedido.arquivos.copiaRelatorio;
    resumo.recusadas = pedido.arquivos.recusadas;

    ConferirAntesDeGravar(pedido, conexao);
    // Files an earlier import left unsettled, its process gone between placing them and knowing
    // its commit, are settled from the journal before anything is written.
    const ArquivosDaImportacao reais =
        NomesDaImportacao(pedido.caminhoBanco, processo.CaminhoArquivo, pedido.retorno, false);
    for (const std::string& aviso : AcertarImportacoesInterrompidas(
             {CaminhoDe(reais.resultado), CaminhoDe(reais.relatorio),
              CaminhoDe(reais.copiaRelatorio), CaminhoDe(reais.recusadas),
              CaminhoDe(pedido.resultado), CaminhoDe(pedido.relatorio),
              CaminhoDe(pedido.arquivos.copiaRelatorio), CaminhoDe(pedido.arquivos.recusadas)},
             kEsperaDoAcerto)) {
        std::fprintf(stderr, "Aviso: %s\n", aviso.c_str());
        resumo.acertos.push_back(aviso);
    }
    // The journal is the import's own record: without it nothing is posted.
    PrepararDiario(conexao);
    ImportacaoRegistrada registro = RegistroDoDiario(pedido);

    Substituicao colocacao;  // undone, bringing the earlier files back, unless concluded
    std::optional<std::string> falhaCommit;
    int64_t idTransacao = 0;
    {
        // One transaction for the whole file: every instalment is posted, and journaled, or none.
        fb::Transacao transacao(conexao, fb::ModoTransacao::Escrita);
        if (!pedido.opcoes.reimportar)
            if (auto anterior = ImportacaoDoMesmoArquivo(transacao, pedido.hashConteudo,
                                                         ParaUtf8(pedido.hash), pedido.tabela))
                throw Erro(JaImportado(*anterior, pedido.retorno));
        // A simulation takes no number from the generator, whose values no rollback gives back.
        registro.id = resumo.id = IdDaImportacao(conexao, transacao, pedido.opcoes.simular);
        RegistrarImportacao(transacao, registro);

        Execucao execucao(transacao, pedido, registro.id, AArquivo);
        execucao.Linhas(resumo);
        execucao.Concluir();
        if (!execucao.AvisoRelatorio().empty()) {
            resumo.relatorio.clear();
            resumo.avisoRelatorio = execucao.AvisoRelatorio();
        }
        Contar(registro, resumo);
        RegistrarContagens(transacao, registro);

        // Files first, commit after. Both are complete and closed before anything is committed,
        // and they are moved into place before the commit: if the commit fails they are taken
        // back and the earlier files restored. The opposite order would leave committed postings
        // without a result file after a crash between the two.
        // And what decides them is recorded first, durably: should this process die before it
        // knows how the commit went, the next import settles them from the journal.
        if (!pedido.opcoes.simular) {
            idTransacao = TransacaoAtual(transacao);
            const auto arquivos = execucao.Arquivos();
            colocacao.Registrar({arquivos.begin(), arquivos.end()},
                                DecisaoDaImportacao(registro.id, idTransacao, pedido.caminhoBanco));
        }
        for (ArquivoTemporario* arquivo : execucao.Arquivos()) colocacao.Colocar(*arquivo);
        if (pedido.opcoes.simular) {
            transacao.Rollback();
        } else {
            if (pedido.opcoes.antesDoCommit) pedido.opcoes.antesDoCommit();
            try {
                transacao.Commit();
            } catch (const ErroBanco& e) {
                falhaCommit = e.what();
            }
            if (!falhaCommit && pedido.opcoes.depoisDoCommit) pedido.opcoes.depoisDoCommit();
        }
    }  // every statement and the transaction are released here, before any reconnection

    if (falhaCommit)
        ResolverConfirmacao(pedido, conexao, registro.id, idTransacao, *falhaCommit, colocacao,
                            resumo);
    colocacao.Concluir();
    Observacao::Atual().FimEtapa();
    return resumo;
}

}  // namespace kavlo
