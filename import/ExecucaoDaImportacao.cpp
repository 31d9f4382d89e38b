#include "import/ExecucaoDaImportacao.h"

#include "dao/firebird/Firebird.h"
#include "import/ArquivoResultado.h"
#include "import/RelatorioSemMargem.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Numeros.h"
#include "util/Observacao.h"

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

// Whether the month's events of a servant matter to a run over `chaves`: the events' MATRICULA
// comes without trailing blanks, and a return key (NNNNNN-D) can lose at most its check digit
// that way, as the hyphen before it is never blank.
EventosMes::Interessa DosNomeados(const ConjuntoDeChaves& chaves) {
    return [&chaves](std::u16string_view matricula) {
        return chaves.Contem(matricula) || chaves.Contem(std::u16string(matricula) + u' ');
    };
}

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

}  // namespace

Execucao::Execucao(fb::Transacao& transacao, const Pedido& pedido, int32_t id,
                   ArquivoDeRetorno& arquivo)
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
void Execucao::Linhas(ResumoImportacao& resumo) {
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
void Execucao::Concluir() {
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
std::vector<ArquivoTemporario*> Execucao::Arquivos() {
    std::vector<ArquivoTemporario*> r = {&resultado_, &copiaRelatorio_, &recusadas_};
    if (relatorio_) r.insert(r.begin() + 1, &*relatorio_);
    return r;
}

void Execucao::Parcela(size_t numero, std::u16string_view linha, ResumoImportacao& resumo) {
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
                             {a.dados->codigo, a.desfecho.descontado, a.dados->quant, a.dados->perc,
                              a.desfecho.novaMargem, numero});
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
void Execucao::Recusar(std::u16string_view linha, ResumoImportacao& resumo) {
    recusadas_.Escrever(arquivo_.BytesDaLinha());
    ++resumo.linhasRecusadas;
    try {
        resumo.centavosRecusados += LerParcelaCentavos(linha);
    } catch (const Erro&) {
    }
}

void Execucao::Relatar(const std::u16string& entrada) {
    copiaRelatorio_.EscreverLinha(entrada);
    if (relatorio_) try {
            relatorio_->EscreverLinha(entrada);
        } catch (const ErroArquivo& e) {
            SemRelatorio(e);
        }
}

void Execucao::SemRelatorio(const ErroArquivo& e) {
    relatorio_.reset();  // its temporary file goes
    avisoRelatorio_ =
        "o relatório de servidores sem margem não pôde ser gravado na pasta do "
        "banco de dados (" +
        std::string(e.what()) + "); ele está em '" + NomeParaMensagem(copiaRelatorio_.Destino()) +
        "', ao lado do arquivo de resultado.";
}

}  // namespace kavlo
