// SIGINT and SIGTERM for the tool. The Firebird client installs handlers of its own that start an
// engine shutdown behind the running call (the call then sometimes finished anyway, or the
// process crashed at exit); instead every thread blocks both signals and one thread of ours waits
// for them. When one arrives it ends the command's database work on every attachment the process
// has open, whichever code opened it (fb::AbortarAnexos): no command has to say what it works on,
// and none can forget to. An embedded engine shuts the attachment down and the running call fails
// and rolls back; an attachment through a server is cut on this side, so that no call waits on it
// (the server rolls back). The command then fails, puts the earlier files back and removes what it
// was building, and the tool says so and exits with 128 + the signal. The process never leaves
// while its engine is still at work.
#pragma once

namespace kavlo::cli {

class Interrupcao {
  public:
    // Blocks both signals; first thing in main, before any thread exists.
    static void Bloquear();
    // Starts waiting. A signal cancels this process's work on every database it has open, or,
    // where none is open yet, on the first one it opens next.
    static void Esperar();
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
