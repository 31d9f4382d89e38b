// The tool asks the library for progress lines, on a terminal only, through the one environment
// variable the library reads (KAVLO_PROGRESSO); it is set for the call and restored afterwards.
#pragma once

#include <optional>
#include <string>

namespace kavlo::cli {

class ProgressoNoTerminal {
  public:
    ProgressoNoTerminal();
    ~ProgressoNoTerminal();
    ProgressoNoTerminal(const ProgressoNoTerminal&) = delete;
    ProgressoNoTerminal& operator=(const ProgressoNoTerminal&) = delete;

  private:
    std::optional<std::string> antes_;
};

}  // namespace kavlo::cli
