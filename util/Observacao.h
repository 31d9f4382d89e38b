// Progress of a call, for a person watching a terminal. A host may ask for it through the
// environment, since the two exports take nothing else; it changes nothing the call does:
//   KAVLO_PROGRESSO=1                 progress lines on stderr while rows are read
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace kavlo {

class Observacao {
  public:
    // Reads the environment; one per call.
    Observacao();

    // Announces a step ("Lendo servidores") and resets the counter. With the step's `total`
    // items, when known, the lines say how far it is and about how long is left.
    void Etapa(std::string_view descricao, uint64_t total = 0);
    // Counts one more item of the current step; prints now and then.
    void Avancar();
    // Closes the progress line of the current step.
    void FimEtapa();

    // The observation of the running call (one that shows nothing when no call set one).
    static Observacao& Atual();
    static void Definir(Observacao* atual);

  private:
    void Mostrar(bool fim);

    bool progresso_ = false;
    std::string etapa_;
    uint64_t contagem_ = 0, total_ = 0;
    std::chrono::steady_clock::time_point inicio_;
    size_t largura_ = 0;  // of the line last shown, to blank what a shorter one leaves
};

// One progress line: "Importando parcelas... 5.000 de 95.002 (5 %), faltam cerca de 40 s"; the
// count alone when the total is not known (0), and no estimate before a second has passed or at
// the end.
std::string LinhaDeProgresso(std::string_view etapa, uint64_t contagem, uint64_t total,
                             double segundos, bool fim);

}  // namespace kavlo
