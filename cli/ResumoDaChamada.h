// How the tool learns what a call did: for the call's duration KAVLO_RESUMO names a temporary
// file the library fills with "chave=valor" lines on success, and KAVLO_PROGRESSO is set when
// stderr is a terminal. Both variables are restored and the file removed afterwards.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kavlo::cli {

// Sets an environment variable for the duration of the call and restores what was there.
class VariavelDaChamada {
  public:
    VariavelDaChamada(const char* nome, const std::string& valor);
    ~VariavelDaChamada();
    VariavelDaChamada(const VariavelDaChamada&) = delete;
    VariavelDaChamada& operator=(const VariavelDaChamada&) = delete;

  private:
    const char* nome_;
    std::optional<std::string> antes_;
};

class ResumoDaChamada {
  public:
    ResumoDaChamada();
    ~ResumoDaChamada();
    ResumoDaChamada(const ResumoDaChamada&) = delete;
    ResumoDaChamada& operator=(const ResumoDaChamada&) = delete;

    // Every line in the order written; a key may repeat.
    std::vector<std::pair<std::string, std::string>> Ler() const;

  private:
    std::string caminho_;
    std::optional<VariavelDaChamada> resumo_, progresso_;
};

}  // namespace kavlo::cli
