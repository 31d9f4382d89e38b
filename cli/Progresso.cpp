#include "cli/Progresso.h"

#include <unistd.h>

#include <cstdlib>

namespace kavlo::cli {

namespace {
constexpr const char* kVariavel = "KAVLO_PROGRESSO";
}

ProgressoNoTerminal::ProgressoNoTerminal() {
    if (const char* antes = std::getenv(kVariavel)) antes_ = antes;
    ::setenv(kVariavel, ::isatty(STDERR_FILENO) ? "1" : "0", 1);
}

ProgressoNoTerminal::~ProgressoNoTerminal() {
    if (antes_)
        ::setenv(kVariavel, antes_->c_str(), 1);
    else
        ::unsetenv(kVariavel);
}

}  // namespace kavlo::cli
