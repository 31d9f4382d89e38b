// What a host may ask of a call besides its arguments, through the environment, since the two
// exports take nothing else. The command-line tool uses it; the payroll application sets none:
//   KAVLO_PROGRESSO=1                 progress lines on stderr while rows are read
//   KAVLO_RESUMO=<file>               a "key=value" summary of the call, written when it succeeds
//   KAVLO_SIMULAR_IMPORTACAO=1        the import writes its files and then rolls its postings back
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

    void Registrar(std::string_view chave, std::string valor);
    void Registrar(std::string_view chave, int64_t valor) {
        Registrar(chave, std::to_string(valor));
    }
    // Writes the summary file when one was asked for; a failure is only a warning on stderr.
    void GravarResumo() const;

    bool Simular() const { return simular_; }

    // The observation of the running call (one that shows nothing when no call set one).
    static Observacao& Atual();
    static void Definir(Observacao* atual);

  private:
    bool progresso_ = false;
    bool simular_ = false;
    std::string arquivoResumo_;
    std::string etapa_;
    uint64_t contagem_ = 0;
    std::vector<std::pair<std::string, std::string>> resumo_;
};

}  // namespace kavlo
