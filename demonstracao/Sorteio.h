// Deterministic draws for the demo payroll (splitmix64): the same on every platform and standard
// library, in independent streams, so that a demo is reproducible from its seed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kavlo::demo {

// One stream of draws. Take at most one draw per expression: the order in which the arguments of
// a call or the operands of + are evaluated is the compiler's choice, and a seed's bytes would
// depend on the compiler.
class Sorteio {
  public:
    explicit Sorteio(uint64_t semente) : estado_(semente) {}
    Sorteio(uint32_t semente, uint64_t fluxo, uint64_t indice)
        : estado_((uint64_t{semente} << 32) ^ (fluxo * 0xD1B54A32D192ED03ull) ^
                  (indice * 0x9E3779B97F4A7C15ull)) {
        Proximo();
    }

    uint64_t Proximo() {
        uint64_t z = (estado_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // An integer in [a, b].
    int Entre(int a, int b) {
        return a + static_cast<int>(Proximo() % static_cast<uint64_t>(b - a + 1));
    }
    int64_t Entre64(int64_t a, int64_t b) {
        return a + static_cast<int64_t>(Proximo() % static_cast<uint64_t>(b - a + 1));
    }
    bool Chance(double p) { return static_cast<double>(Proximo() >> 11) * 0x1.0p-53 < p; }
    template <class T>
    const T& Um(std::span<const T> itens) {
        return itens[static_cast<size_t>(Entre(0, static_cast<int>(itens.size()) - 1))];
    }
    // An item chosen by the weights its `peso` member gives.
    template <class T>
    const T& Pesado(std::span<const T> itens) {
        int total = 0;
        for (const auto& i : itens) total += i.peso;
        int r = Entre(1, total);
        for (const auto& i : itens)
            if ((r -= i.peso) <= 0) return i;
        return itens.back();
    }

  private:
    uint64_t estado_;
};

// Independent streams, so that adding draws to one table does not move the values of another.
enum Fluxo : uint64_t {
    kFluxoServidor = 1,
    kFluxoAnterior,
    kFluxoEventos,
    kFluxoRetorno,
    kFluxoDesconhecidos
};

// A fixed table as the choices of Um and Pesado.
template <class T, size_t N>
std::span<const T> Escolhas(const T (&a)[N]) {
    return {a, N};
}

}  // namespace kavlo::demo
