// SIGINT and SIGTERM for the tool. The Firebird client installs handlers of its own that start an
// engine shutdown behind the running call (the call then sometimes finished anyway, or the
// process crashed at exit); instead every thread blocks both signals and one thread of ours waits
// for them. When one arrives it cancels the call's database work by removing this process's
// attachments through the monitoring tables (MON$ATTACHMENTS): the call fails, rolls back and
// puts the earlier files back, and the tool says so and exits with 128 + the signal.
#pragma once

#include <string>

namespace kavlo::cli {

class Interrupcao {
  public:
    // Blocks both signals; first thing in main, before any thread exists.
    static void Bloquear();
    // Starts waiting. With a database, a signal cancels this process's work on it; without one
    // (or for a file that is still being built, `temporarios` the prefix of its name) the tool
    // removes those files and exits at once.
    static void Esperar(const std::string& banco, const std::string& temporarios = {});
    // The signal that arrived, 0 when none.
    static int Recebido();
    // Whether a signal arrived while the work could still be cancelled, and so was.
    static bool Cancelou();
    // Between two steps of the work: throws when the operator asked to stop.
    static void Conferir();
    // The work that changes anything is over: a signal from now on has nothing to cancel.
    static void Terminou();
    // The tool ends: the waiting thread stops.
    static void Encerrar();
};

}  // namespace kavlo::cli
