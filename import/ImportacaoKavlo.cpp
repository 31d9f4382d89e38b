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

std::string Contexto(size_t numero, std::u16string_view chave) {
    return " (linha " + std::to_string(numero) + " do arquivo de retorno, servidor " +
           ParaMensagem(chave) + ")";
}

// Rethrows the error of one return line with its line number (1-based) and servant key after the
// message.
[[noreturn]] void ComContexto(size_t numero, std::u16string_view chave) {
    const std::string ctx = Contexto(numero, chave);
    try {
        throw;
    } catch (const ErroConversao& e) {
        throw ErroConversao(e.what() + ctx);
    } catch (const ErroBanco& e) {
        throw e.Com(e.what() + ctx);
    } catch (const ErroArquivo& e) {
        throw ErroArquivo(e.what() + ctx);
    } catch (const Erro& e) {
        throw Erro(e.what() + ctx);
    }
}

int64_t TransacaoAtual(fb::Transacao& transacao) {
    fb::Comando c(transacao, std::string_view("select current_transaction from RDB$DATABASE"),
                  "identificar a transação da importação");
    fb::Cursor r = c.Abrir();
    r.Proximo();
    return std::llround(r.Real(0u));
}

// How long settling an earlier import's files waits for a transaction its server still holds.
constexpr double kEsperaDoAcerto = 5;

// What the import takes from the controller, read once by Importar and handed down.
struct Pedido {
    int32_t mes, ano;
    std::u16string mesTexto, anoTexto, tabela, cadastro, folhas, referencia;
    std::u16string retorno, hash, resultado, relatorio, banco, caminhoBanco;
    std::u16string verificaMargem;
    std::string hashConteudo;  // of the return file's lines
    bool estrito;
    OpcoesImportacao opcoes;
    ArquivosDaImportacao arquivos;
};

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

// Whether the month's events of a servant matter to a run over `chaves`: the events' MATRICULA
// comes without trailing blanks, and a return key (NNNNNN-D) can lose at most its check digit
// that way, as the hyphen before it is never blank.
EventosMes::Interessa DosNomeados(const ConjuntoDeChaves& chaves) {
    return [&chaves](std::u16string_view matricula) {
        return chaves.Contem(matricula) || chaves.Contem(std::u16string(matricula) + u' ');
    };
}

// Lines whose CPF and name are both another person's than the payroll's servant of the key: the
// count, and the first of them, which the refusal quotes.
struct LinhasDeOutrasPessoas {
    struct Linha {
        size_t numero;
        uint32_t indice;
        std::u16string cpf, nome;
    };
    int64_t total = 0;
    std::vector<Linha> primeiras;

    void Incluir(size_t numero, uint32_t indice, std::u16string_view linha) {
        if (total++ < static_cast<int64_t>(LinhasIgnoradas::kGuardadas))
            primeiras.push_back({numero, indice, std::u16string(LerCampo(linha, retorno::Cpf)),
                                 std::u16string(Aparar(LerCampo(linha, retorno::Nome)))});
    }
};

std::string RecusaDeOutrasPessoas(const Pedido& p, const LinhasDeOutrasPessoas& outras,
                                  const CadastroServidores& cadastro,
                                  const ConjuntoDeChaves& chaves) {
    std::vector<uint32_t> indices;
    for (const auto& l : outras.primeiras) indices.push_back(l.indice);
    const auto textos = cadastro.Textos(indices);
    std::string m = "O arquivo de retorno " + Aspas(p.retorno) +
                    " traz parcelas de outras pessoas: em " + std::to_string(outras.total) +
                    (outras.total == 1 ? " linha" : " linhas") +
                    ", nem o CPF nem o nome são os do servidor da matrícula no cadastro do mês (" +
                    ParaMensagem(p.cadastro) +
                    "), o que acontece quando os campos de uma linha estão deslocados. Nada foi "
                    "lançado.";
    for (const auto& l : outras.primeiras) {
        const auto t = textos.find(l.indice);
        const std::u16string nome = t == textos.end() ? u"" : t->second.first;
        const std::u16string cpf = t == textos.end() ? u"" : t->second.second;
        m += "\n  linha " + std::to_string(l.numero) + ", servidor " +
             ParaMensagem(chaves.Chave(l.indice)) + ": no arquivo, CPF " + Aspas(l.cpf) +
             " e nome " + Aspas(l.nome) + "; na folha, CPF " + Aspas(cpf) + " e nome " +
             Aspas(Aparar(nome));
    }
    if (outras.total > static_cast<int64_t>(outras.primeiras.size()))
        m += "\n  ... e mais " +
             std::to_string(outras.total - static_cast<int64_t>(outras.primeiras.size()));
    return m +
           "\nPeça à consignatária o arquivo corrigido e confira-o com kavlo verificar antes "
           "de importar.";
}

// One run over the return file inside the import's transaction: every line read, decided, posted
// and written to the result file and the report as it comes. A servant's postings are written
// once the return file has no later line for it, in batches.
class Execucao {
  public:
    Execucao(fb::Transacao& transacao, const Pedido& pedido, int32_t id, ArquivoDeRetorno& arquivo)
        : pedido_(pedido),
          arquivo_(arquivo),
          tabela_(transacao, pedido.tabela, arquivo.Chaves()),
          gravador_(transacao, pedido.tabela, id, arquivo.Chaves()),
          // The month's dismissals and leaves, read once instead of statements per line.
          situacao_(transacao, pedido.mesTexto, pedido.anoTexto, pedido.folhas,
                    DosNomeados(arquivo.Chaves())),
          cadastro_(transacao, pedido.cadastro, arquivo.Chaves()),
          resultado_(CaminhoDe(pedido.resultado)),
          copiaRelatorio_(CaminhoDe(pedido.arquivos.copiaRelatorio)),
          recusadas_(CaminhoDe(pedido.arquivos.recusadas)) {
        // The report's own place is the database's folder. One that cannot be written there does
        // not stop the import: its copy beside the result holds the same entries.
        try {
            relatorio_.emplace(CaminhoDe(pedido.relatorio));
        } catch (const ErroArquivo& e) {
            SemRelatorio(e);
        }
    }

    // The roles of the lines are decided by place: the first is the header, the last the
    // trailer, every one between an instalment.
    void Linhas(ResumoImportacao& resumo) {
        Observacao& obs = Observacao::Atual();
        const size_t total = arquivo_.Linhas();
        obs.Etapa("Importando parcelas", total);
        resumo.linhas = static_cast<int64_t>(total);
        arquivo_.Percorrer([&](size_t numero, std::u16string_view linha) {
            obs.Avancar();
            if (numero == 1) {
                resultado_.EscreverLinha(CabecalhoResultado(linha, pedido_.referencia));
                // The header as the party wrote it; the only line of a file, without a line end
                // of its own, gets one before the trailer made of it.
                std::string cabecalho = arquivo_.BytesDaLinha();
                if (arquivo_.FimDaLinha().empty()) cabecalho += arquivo_.Codificar(u"\r\n");
                recusadas_.Escrever(std::string(arquivo_.Marca()) + cabecalho);
            }
            if (numero == total) {
                resultado_.EscreverLinha(RodapeResultado(linha));
                recusadas_.Escrever(arquivo_.Codificar(RodapeCom(linha, resumo.linhasRecusadas,
                                                                 resumo.centavosRecusados)) +
                                    std::string(arquivo_.FimDaLinha()));
            }
            if (numero > 1 && numero < total) Parcela(numero, linha, resumo);
        });
        // Not one instalment of a file that names other people: its fields are not where they
        // belong, and whatever it posts goes to the wrong servant or with a wrong amount.
        if (outras_.total > 0)
            throw Erro(RecusaDeOutrasPessoas(pedido_, outras_, cadastro_, arquivo_.Chaves()));
    }

    // Writes the postings and closes the files; they are then complete.
    void Concluir() {
        gravador_.Gravar();
        resultado_.Fechar();
        copiaRelatorio_.Fechar();
        recusadas_.Fechar();
        if (relatorio_) try {
                relatorio_->Fechar();
            } catch (const ErroArquivo& e) {
                SemRelatorio(e);
            }
    }

    // The files to put in place, all closed.
    std::vector<ArquivoTemporario*> Arquivos() {
        std::vector<ArquivoTemporario*> r = {&resultado_, &copiaRelatorio_, &recusadas_};
        if (relatorio_) r.insert(r.begin() + 1, &*relatorio_);
        return r;
    }
    // Why the report is not in the database's folder; empty when it is.
    const std::string& AvisoRelatorio() const { return avisoRelatorio_; }

  private:
    void Parcela(size_t numero, std::u16string_view linha, ResumoImportacao& resumo) {
        ++resumo.detalhes;
        const std::u16string chave = ChaveServidor(linha);
        // The first pass saw every instalment line: a key it did not see, or a servant's line
        // after the last one it saw, is a file that changed since.
        const auto indice = tabela_.Indice(chave);
        if (!indice || numero > tabela_.Chaves().Valor(*indice)) arquivo_.Mudou();
        if (cadastro_.OutraPessoa(*indice, linha)) outras_.Incluir(numero, *indice, linha);
        switch (tabela_.EstadoDe(*indice)) {
            case TabelaDeducao::Estado::SemLinha:
                resumo.naoEncontradas.Incluir(numero, chave);
                Recusar(linha, resumo);
                return;
            case TabelaDeducao::Estado::Inativa:
                resumo.inativas.Incluir(numero, chave);
                Recusar(linha, resumo);
                return;
            case TabelaDeducao::Estado::Ativa:
                break;
        }
        LinhaDeducao& servidor = tabela_.Linha(*indice);
        try {
            const Avaliacao a = Avaliar(servidor, linha, pedido_.estrito);
            if (a.dados)
                gravador_.Lancar(servidor, a.slot,
                                 {a.dados->codigo, a.desfecho.descontado, a.dados->quant,
                                  a.dados->perc, a.desfecho.novaMargem, numero});
            if (auto entrada = EntradaDoRelatorio(chave, linha, a.margem, a.parcela, a.desfecho))
                Relatar(*entrada);
            resultado_.EscreverLinha(LinhaResultado(linha, a.desfecho, situacao_.Consultar(chave)));
            if (a.desfecho.resultado == Resultado::NaoDescontado ||
                a.desfecho.resultado == Resultado::SemSlot)
                Recusar(linha, resumo);
            resumo.Contar(a.desfecho.resultado);
            if (a.dados) resumo.totalCentavos += a.desfecho.descontado;
        } catch (const Erro&) {
            ComContexto(numero, chave);
        }
        // The servant's last line: its postings are complete. A batch's failure names its own
        // servant, not this line's.
        if (numero == tabela_.Chaves().Valor(*indice)) gravador_.Concluida(servidor);
    }

    // A line not posted goes to the rejected lines as the file has it; its amount joins their
    // total when it converts (a line whose servant was not found is never converted otherwise).
    void Recusar(std::u16string_view linha, ResumoImportacao& resumo) {
        recusadas_.Escrever(arquivo_.BytesDaLinha());
        ++resumo.linhasRecusadas;
        try {
            resumo.centavosRecusados += LerParcelaCentavos(linha);
        } catch (const Erro&) {
        }
    }

    void Relatar(const std::u16string& entrada) {
        copiaRelatorio_.EscreverLinha(entrada);
        if (relatorio_) try {
                relatorio_->EscreverLinha(entrada);
            } catch (const ErroArquivo& e) {
                SemRelatorio(e);
            }
    }

    void SemRelatorio(const ErroArquivo& e) {
        relatorio_.reset();  // its temporary file goes
        avisoRelatorio_ =
            "o relatório de servidores sem margem não pôde ser gravado na pasta do "
            "banco de dados (" +
            std::string(e.what()) + "); ele está em '" +
            NomeParaMensagem(copiaRelatorio_.Destino()) + "', ao lado do arquivo de resultado.";
    }

    const Pedido& pedido_;
    ArquivoDeRetorno& arquivo_;
    TabelaDeducao tabela_;
    GravadorLancamentos gravador_;
    const EventosMes situacao_;
    const CadastroServidores cadastro_;
    LinhasDeOutrasPessoas outras_;
    ArquivoTemporario resultado_;
    ArquivoTemporario copiaRelatorio_;
    ArquivoTemporario recusadas_;
    std::optional<ArquivoTemporario> relatorio_;
    std::string avisoRelatorio_;
};

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
