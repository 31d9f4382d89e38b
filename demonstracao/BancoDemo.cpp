// Demo payroll: a municipal payroll of two consecutive months with the awkward data real payrolls
// hold (long accented names, NULL dates and margins, full deduction slots, transfers, new hires,
// dismissals and overlapping leaves), and the return file a loan-management party would send back.
// Every value is drawn from the seed and the servant's index, so a demo is reproducible and a small
// demo is the beginning of a large one. The pieces: Sorteio.h (draws), Referencias.h (the
// municipality's tables), Servidores.h (servants and events), GravacaoFolha.h (the database),
// RetornoDemo.h (the return file); here, the options, the guard against replacing what is not
// the demo's, and the order of the work.
#include "demonstracao/BancoDemo.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string_view>
#include <thread>
#include <vector>

#include "demonstracao/GravacaoFolha.h"
#include "demonstracao/Referencias.h"
#include "demonstracao/RetornoDemo.h"
#include "demonstracao/Servidores.h"
#include "import/ArquivoRetorno.h"
#include "util/ArquivoTemporario.h"
#include "util/Caminhos.h"
#include "util/Codificacao.h"
#include "util/Datas.h"
#include "util/Erros.h"
#include "util/Layout.h"
#include "util/LeitorDeLinhas.h"
#include "util/Observacao.h"
#include "util/Utils.h"

namespace kavlo::demo {
namespace {

void ValidarOpcoes(const OpcoesDemo& o) {
    if (o.banco.empty()) throw Erro("Informe o arquivo do banco de demonstração a criar.");
    if (o.servidores < 1 || o.servidores > kMaximoServidores)
        throw Erro("Quantidade de servidores inválida: " + std::to_string(o.servidores) +
                   " (use de 1 a " + std::to_string(kMaximoServidores) + ").");
    if (o.mes < 1 || o.mes > 12)
        throw Erro("Mês da folha inválido: " + std::to_string(o.mes) + " (use de 1 a 12).");
    if (o.ano < 1901 || o.ano > 9998)
        throw Erro("Ano da folha inválido: " + std::to_string(o.ano) + ".");
}

// Removes the unfinished database when the build fails.
struct RemoverSeFalhar {
    Caminho caminho;
    bool concluido = false;
    ~RemoverSeFalhar() {
        std::error_code ec;
        if (!concluido) std::filesystem::remove(caminho, ec);
    }
};

// What marks a database as one this builder made: kavlo demo replaces nothing else. The mark is
// found in the file's bytes, not by attaching: an attachment writes to the database, and a file
// that is not the demo's must come out of the check untouched.
bool BancoDeDemonstracao(const Caminho& banco) {
    std::FILE* f = std::fopen(NomeParaMensagem(banco).c_str(), "rb");
    if (!f) return false;
    std::string janela;
    char buf[1 << 16];
    bool achou = false;
    for (size_t n; !achou && (n = std::fread(buf, 1, sizeof buf, f)) > 0;) {
        janela.append(buf, n);
        achou = janela.find(kTextoDaMarca) != std::string::npos;
        janela.erase(0, janela.size() - std::min(janela.size(), kTextoDaMarca.size()));
    }
    std::fclose(f);
    return achou;
}

bool RetornoDeDemonstracao(const Caminho& arquivo) {
    try {
        // The header alone: a large demo's return file is not read whole to find it.
        std::ifstream f(arquivo, std::ios::binary);
        std::string inicio(4096, '\0');
        f.read(inicio.data(), static_cast<std::streamsize>(inicio.size()));
        inicio.resize(static_cast<size_t>(f.gcount()));
        const auto linhas = LinhasDoArquivo(arquivo, inicio);
        return !linhas.empty() && LerCampo(linhas.front(), retorno::CabTipo) == u"H" &&
               LerCampo(linhas.front(), retorno::CabTexto) ==
                   AjustaTexto(kEmpregador, retorno::CabTexto.largura);
    } catch (const Erro&) {
        return false;
    }
}

// An existing file is replaced only when asked to, and only when it is the demo's own (`daDemo`).
// `seria` and `naoE` name what such a file is, for the two refusals.
void ConferirSubstituicao(const Caminho& arquivo, bool substituir, bool (*daDemo)(const Caminho&),
                          std::string_view seria, std::string_view naoE) {
    std::error_code ec;
    if (!std::filesystem::exists(arquivo, ec)) return;
    if (!substituir)
        throw ErroArquivo("O arquivo '" + NomeParaMensagem(arquivo) +
                          "' já existe e não foi substituído. Escolha outro arquivo, ou use "
                          "--substituir se for " +
                          std::string(seria) + " criado por kavlo demo.");
    if (!daDemo(arquivo))
        throw ErroArquivo("O arquivo '" + NomeParaMensagem(arquivo) + "' não é " +
                          std::string(naoE) + " e não será substituído, nem com --substituir.");
}

void ConferirSubstituicao(const OpcoesDemo& o, const Caminho& banco) {
    ConferirSubstituicao(banco, o.substituir, BancoDeDemonstracao, "um banco de demonstração",
                         "um banco de demonstração criado por kavlo demo (que se reconhece pela "
                         "marca que ele grava na tabela KAVLO_DEMO)");
    if (o.retorno.empty()) return;
    ConferirSubstituicao(CaminhoDe(DeUtf8(o.retorno)), o.substituir, RetornoDeDemonstracao,
                         "um retorno de demonstração",
                         "um arquivo de retorno criado por kavlo demo (cujo cabeçalho traz o "
                         "consignante da demonstração)");
}

// The previous month's rows, the events and the return file's detail lines, servant by servant;
// stops early, with an unfinished summary, when the other half `falhou`.
ResumoDemo GravarMesAnteriorERetorno(const OpcoesDemo& opcoes, const Competencia& c,
                                     const Caminho& banco, const std::atomic<bool>& falhou,
                                     ArquivoTemporario* arquivoRetorno, RetornoDemo& retorno) {
    ResumoDemo resumo;
    resumo.servidores = opcoes.servidores;
    GravacaoFolha folha(banco, c, opcoes.semente, Metade::MesAnteriorEEventos);
    std::vector<Evento> eventos;
    std::vector<std::u16string> linhas;
    // Counted here, on the half that also writes the events and the return file.
    Observacao& observacao = Observacao::Atual();
    observacao.Etapa("Criando o banco de demonstração", static_cast<uint64_t>(opcoes.servidores));
    for (int i = 0; i < opcoes.servidores && !falhou; ++i) {
        observacao.Avancar();
        const Servidor v = SortearServidor(opcoes.semente, i, c);
        eventos.clear();
        SortearEventos(opcoes.semente, v, c, eventos);
        folha.Gravar(v, eventos);
        resumo.ativos += v.ativo;
        resumo.novos += v.novo;
        resumo.transferidos += v.ativo && !v.novo && v.unidade != v.unidadeAnterior;
        resumo.eventos += static_cast<int>(eventos.size());
        if (!arquivoRetorno) continue;
        linhas.clear();
        retorno.Detalhes(v, linhas);
        for (const auto& linha : linhas) arquivoRetorno->EscreverLinha(linha);
    }
    observacao.FimEtapa();
    if (!falhou) folha.Concluir();
    return resumo;
}

}  // namespace

ResumoDemo CriarBancoDemo(const OpcoesDemo& opcoes) {
    ValidarOpcoes(opcoes);
    const Caminho destino = std::filesystem::absolute(CaminhoDe(DeUtf8(opcoes.banco)));
    if (!std::filesystem::is_directory(destino.parent_path()))
        throw ErroArquivo("A pasta '" + NomeParaMensagem(destino.parent_path()) +
                          "' do banco de demonstração não existe.");
    ConferirSubstituicao(opcoes, destino);

    Competencia c{opcoes.mes,
                  opcoes.ano,
                  opcoes.mes == 1 ? 12 : opcoes.mes - 1,
                  opcoes.mes == 1 ? opcoes.ano - 1 : opcoes.ano,
                  0,
                  0};
    c.inicio = CodificaData(c.ano, c.mes, 1);
    c.fim = UltimoDiaMes(c.inicio);

    // Opened first, so that a return file that cannot be written stops the demo before the
    // database is touched.
    std::optional<ArquivoTemporario> arquivoRetorno;
    if (!opcoes.retorno.empty()) arquivoRetorno.emplace(CaminhoDe(DeUtf8(opcoes.retorno)));
    RetornoDemo retorno(opcoes.semente, c, opcoes.servidores);
    if (arquivoRetorno) arquivoRetorno->EscreverLinha(retorno.Cabecalho());

    // Built under a temporary name: an existing database is replaced only by a complete one.
    RemoverSeFalhar temporario{destino};
    temporario.caminho += ".criando" + std::to_string(std::random_device{}() % 1000000);
    std::filesystem::remove(temporario.caminho);

    // Servant by servant, the two months side by side: a thread writes the payroll month's rows
    // while this one writes the previous month's, the events and the return lines. Each draws the
    // servants itself (the same seed gives the same servant) and forgets them once written.
    CriarBancoDaFolha(temporario.caminho, c);
    std::atomic<bool> falhou = false;
    std::exception_ptr falhaDoMes;
    std::thread mesDaFolha([&] {
        try {
            GravacaoFolha folha(temporario.caminho, c, opcoes.semente, Metade::MesDaFolha);
            for (int i = 0; i < opcoes.servidores && !falhou; ++i)
                folha.Gravar(SortearServidor(opcoes.semente, i, c), {});
            if (!falhou) folha.Concluir();
        } catch (...) {
            falhaDoMes = std::current_exception();
            falhou = true;
        }
    });
    ResumoDemo resumo;
    try {
        resumo = GravarMesAnteriorERetorno(opcoes, c, temporario.caminho, falhou,
                                           arquivoRetorno ? &*arquivoRetorno : nullptr, retorno);
    } catch (...) {
        falhou = true;
        mesDaFolha.join();
        throw;
    }
    mesDaFolha.join();
    if (falhaDoMes) std::rethrow_exception(falhaDoMes);
    MarcarBanco(temporario.caminho, opcoes.semente, opcoes.servidores);
    std::filesystem::rename(temporario.caminho, destino);
    temporario.concluido = true;

    if (arquivoRetorno) {
        arquivoRetorno->EscreverLinha(retorno.Rodape());
        arquivoRetorno->Fechar();
        arquivoRetorno->Confirmar();
        resumo.linhasRetorno = retorno.detalhes;
        resumo.linhasDesconhecidas = retorno.desconhecidas;
        resumo.linhasInativos = retorno.inativos;
    }
    return resumo;
}

}  // namespace kavlo::demo
