// What the update utility asks of the console beyond writing to it: holding back the operator's
// requests to end the program (Ctrl-C, closing the console window) while an image is being
// written, and telling whether the program has a console window of its own, as it does when it
// was started by a double-click. Windows implements this with a console control handler and the
// console's process list (win32/console_control.cpp), other systems with the signal mask
// (posix/console_control.cpp).
#pragma once

namespace console_control {

// While an InterruptHold exists, a request to end the program that reaches it is kept back:
// Ctrl-C, Ctrl-Break and the closing of the console window (or the user's logoff) on Windows;
// SIGINT, SIGTERM, SIGHUP and SIGQUIT elsewhere. When the outermost hold ends, a request that
// arrived meanwhile ends the process as it would have done at once: on Windows with exit code
// STATUS_CONTROL_C_EXIT, elsewhere by the signal's default action. Outside a hold nothing
// changes. Holds belong to the program's main thread; they may nest.
//
// Windows grants a handler of the closing of a console window about five seconds; a write that
// is still running then is ended by Windows itself.
class InterruptHold {
 public:
  InterruptHold();
  ~InterruptHold();
  InterruptHold(const InterruptHold&) = delete;
  InterruptHold& operator=(const InterruptHold&) = delete;
};

// True when standard input and standard output are both an interactive console and this
// process is the only one attached to it: nobody started the program from a command prompt or
// a script, so the console window closes the moment the program ends. Always false on systems
// without Windows consoles.
bool AloneOnConsole();

}  // namespace console_control
