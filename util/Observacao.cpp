#include "util/Observacao.h"

#include <cstdio>
#include <cstdlib>

namespace kavlo {
namespace {

Observacao* atual = nullptr;

std::string Ambiente(const char* nome) {
    const char* v = std::getenv(nome);
    return v ? v : "";
}

}  // namespace

Observacao::Observacao() : progresso_(Ambiente("KAVLO_PROGRESSO") == "1") {}

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

Observacao& Observacao::Atual() {
    static Observacao calada = [] {
        Observacao o;
        o.progresso_ = false;
        return o;
    }();
    return atual ? *atual : calada;
}

void Observacao::Definir(Observacao* novo) {
    atual = novo;
}

}  // namespace kavlo
