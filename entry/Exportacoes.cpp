// The two exported operations: short drivers that copy the host's arguments into a controller,
// connect and run its steps. Calls are serialised: a second thread's call waits for the first.
#include <cstdint>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "DllKavlo.h"
#include "entry/ProcessoKavlo.h"
#include "util/Arquivos.h"
#include "util/Observacao.h"

#define KAVLO_EXPORTA extern "C" __attribute__((visibility("default")))

namespace kavlo {
namespace {

std::mutex umaChamadaPorVez;

// Copies a host string, taking its length from the 32-bit prefix, never by scanning.
std::u16string Copiar(KavloTexto texto) {
    if (!texto) return {};
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(texto) - sizeof bytes, sizeof bytes);
    std::u16string r(bytes / 2, u'\0');
    std::memcpy(r.data(), texto, r.size() * 2);
    return r;
}

// Runs one call under the process-wide lock. Whatever fails leaves as a std::runtime_error
// carrying the message, after every object of the call has been freed.
template <class Passos>
void Chamada(Passos passos) {
    std::lock_guard<std::mutex> trava(umaChamadaPorVez);
    std::string mensagem;
    try {
        Observacao observacao;
        Observacao::Definir(&observacao);
        struct Limpar {
            ~Limpar() { Observacao::Definir(nullptr); }
        } limpar;
        passos();
        observacao.FimEtapa();
        observacao.GravarResumo();
        return;
    } catch (const std::exception& e) {
        mensagem = e.what();
    } catch (...) {
        mensagem = "Erro desconhecido na DllKavlo.";
    }
    throw std::runtime_error(mensagem);
}

}  // namespace
}  // namespace kavlo

using namespace kavlo;

KAVLO_EXPORTA void GerarArquivo(KavloTexto MesAtual, KavloTexto MesAnt, KavloTexto Ano,
                                KavloTexto CaminhoBanco, KavloTexto CaminhoArquivo,
                                KavloTexto SqlFiltro) {
    Chamada([&] {
        TProcessoKAVLO processo;
        processo.MesAtual = Copiar(MesAtual);
        processo.MesAnt = Copiar(MesAnt);
        processo.Ano = Copiar(Ano);
        processo.CaminhoBanco = Copiar(CaminhoBanco);
        processo.CaminhoArquivo = Copiar(CaminhoArquivo);
        processo.SqlFiltro = Copiar(SqlFiltro);
        if (processo.ConectarBanco()) {
            processo.Geracao();
            processo.Exportacao();
        }
    });
}

KAVLO_EXPORTA void ImportarArquivo(KavloTexto MesAtual, KavloTexto Ano, KavloTexto CaminhoBanco,
                                   KavloTexto CaminhoArquivo, KavloTexto CaminhoLoad,
                                   KavloTexto Folhas, KavloTexto VerificaMargem) {
    Chamada([&] {
        TProcessoKAVLO processo;
        processo.MesAtual = Copiar(MesAtual);
        processo.Ano = Copiar(Ano);
        processo.CaminhoBanco = Copiar(CaminhoBanco);
        processo.CaminhoArquivo = Copiar(CaminhoArquivo);
        processo.CaminhoLoad = Copiar(CaminhoLoad);
        processo.Folhas = Copiar(Folhas);
        processo.VerificaMargem = Copiar(VerificaMargem);
        std::vector<std::u16string> linhas;
        if (processo.ConectarBanco()) {
            linhas = LerLinhas(CaminhoDe(processo.CaminhoLoad));
            processo.Importacao(linhas);
        }
    });
}
