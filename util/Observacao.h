// Progress of a call, for a person watching a terminal. A host may ask for it through the
// environment, since the two exports take nothing else; it changes nothing the call does:
//   KAVLO_PROGRESSO=1                 progress lines on stderr while rows are read
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kavlo {

class Observacao {
  public:
    // Reads the environment; one per call.
    Observacao();

    // Announces a step ("Lendo servidores") and resets the counter.
    void Etapa(std::string_view descricao);
    // Counts one more item of the current step; prints now and then.
    void Avancar();
    // Closes the progress line of the current step.
    void FimEtapa();

    // The observation of the running call (one that shows nothing when no call set one).
    static Observacao& Atual();
    static void Definir(Observacao* atual);

  private:
    bool progresso_ = false;
    std::string etapa_;
    uint64_t contagem_ = 0;
};

}  // namespace kavlo
