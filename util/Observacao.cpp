#include "util/Observacao.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kavlo {
namespace {

Observacao* atual = nullptr;

std::string Ambiente(const char* nome) {
    const char* v = std::getenv(nome);
    return v ? v : "";
}

// 95002 -> "95.002", as Brazilians write counts.
std::string Milhares(uint64_t n) {
    std::string digitos = std::to_string(n), r;
    for (size_t i = 0; i < digitos.size(); ++i) {
        if (i && (digitos.size() - i) % 3 == 0) r += '.';
        r += digitos[i];
    }
    return r;
}

std::string Duracao(double segundos) {
    const auto s = static_cast<uint64_t>(segundos + 0.5);
    if (s < 1) return "menos de 1 s";
    // Appended piece by piece: MinGW's g++ 12 warns falsely (-Wrestrict) on literal + string.
    std::string r = "cerca de ";
    const uint64_t minutos = s / 60;
    if (s < 60) {
        r.append(std::to_string(s)).append(" s");
    } else if (minutos < 60) {
        r.append(std::to_string(minutos)).append(" min ").append(std::to_string(s % 60));
        r.append(" s");
    } else {
        r.append(std::to_string(minutos / 60)).append(" h ");
        r.append(std::to_string(minutos % 60)).append(" min");
    }
    return r;
}

}  // namespace

std::string LinhaDeProgresso(std::string_view etapa, uint64_t contagem, uint64_t total,
                             double segundos, bool fim) {
    std::string r = std::string(etapa) + "...";
    if (total == 0 && contagem == 0 && !fim) return r;
    r.append(" ").append(Milhares(contagem));
    if (total == 0) return r;
    // A step may count past what it expected (a file that grew): never more than 100 %.
    const uint64_t feito = std::min(contagem, total);
    r.append(" de ").append(Milhares(total)).append(" (");
    r.append(std::to_string(feito * 100 / total)).append(" %)");
    if (!fim && contagem > 0 && feito < total && segundos >= 1.0)
        r.append(", faltam ")
            .append(Duracao(segundos * static_cast<double>(total - feito) /
                            static_cast<double>(feito)));
    return r;
}

Observacao::Observacao() : progresso_(Ambiente("KAVLO_PROGRESSO") == "1") {}

void Observacao::Etapa(std::string_view descricao, uint64_t total) {
    FimEtapa();
    etapa_ = descricao;
    contagem_ = 0;
    total_ = total;
    inicio_ = std::chrono::steady_clock::now();
    largura_ = 0;
    if (progresso_) Mostrar(false);
}

void Observacao::Avancar() {
    ++contagem_;
    if (progresso_ && contagem_ % 5000 == 0) Mostrar(false);
}

void Observacao::FimEtapa() {
    if (progresso_ && !etapa_.empty()) Mostrar(true);
    etapa_.clear();
}

void Observacao::Mostrar(bool fim) {
    const std::chrono::duration<double> passado = std::chrono::steady_clock::now() - inicio_;
    std::string linha = LinhaDeProgresso(etapa_, contagem_, total_, passado.count(), fim);
    const size_t largura = linha.size();
    if (largura < largura_) linha.append(largura_ - largura, ' ');
    largura_ = largura;
    std::fprintf(stderr, "\r%s%s", linha.c_str(), fim ? "\n" : "");
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
