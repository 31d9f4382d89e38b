#include "util/Observacao.h"

#include <cstdio>
#include <cstdlib>

#include "util/Arquivos.h"
#include "util/Codificacao.h"

namespace kavlo {
namespace {

Observacao* atual = nullptr;

std::string Ambiente(const char* nome) {
    const char* v = std::getenv(nome);
    return v ? v : "";
}

}  // namespace

Observacao::Observacao()
    : progresso_(Ambiente("KAVLO_PROGRESSO") == "1"),
      simular_(Ambiente("KAVLO_SIMULAR_IMPORTACAO") == "1"),
      arquivoResumo_(Ambiente("KAVLO_RESUMO")) {}

void Observacao::Etapa(std::string_view descricao) {
    FimEtapa();
    etapa_ = descricao;
    contagem_ = 0;
    if (progresso_) std::fprintf(stderr, "%s...", etapa_.c_str());
}

void Observacao::Avancar() {
    ++contagem_;
    if (progresso_ && contagem_ % 5000 == 0)
        std::fprintf(stderr, "\r%s... %llu", etapa_.c_str(),
                     static_cast<unsigned long long>(contagem_));
}

void Observacao::FimEtapa() {
    if (progresso_ && !etapa_.empty())
        std::fprintf(stderr, "\r%s... %llu\n", etapa_.c_str(),
                     static_cast<unsigned long long>(contagem_));
    etapa_.clear();
}

void Observacao::Registrar(std::string_view chave, std::string valor) {
    resumo_.emplace_back(std::string(chave), std::move(valor));
}

void Observacao::GravarResumo() const {
    if (arquivoResumo_.empty()) return;
    std::string texto;
    for (const auto& [chave, valor] : resumo_) texto += chave + "=" + valor + "\n";
    // The call's work is done (an import is committed): a summary that cannot be written must not
    // turn it into a failure, or the host would run it again and post everything twice.
    try {
        ArquivoTemporario arquivo(CaminhoDe(DeUtf8(arquivoResumo_)));
        arquivo.Escrever(texto);
        arquivo.Confirmar();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Aviso: a operação foi concluída, mas o resumo não foi gravado: %s\n",
                     e.what());
    }
}

Observacao& Observacao::Atual() {
    static Observacao calada = [] {
        Observacao o;
        o.progresso_ = false;
        o.simular_ = false;
        o.arquivoResumo_.clear();
        return o;
    }();
    return atual ? *atual : calada;
}

void Observacao::Definir(Observacao* novo) {
    atual = novo;
}

}  // namespace kavlo
