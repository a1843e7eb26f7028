// What the update utility asks of the console beyond writing to it: holding back the operator's
// requests to end the program (Ctrl-C, closing the console window) while an image is being
// written, and telling whether the program has a console window of its own, as it does when it
// was started by a double-click. Windows implements this with a console control handler and the
// console's process list (win32/console_control.cpp), other systems with signal handlers
// (posix/console_control.cpp).
#pragma once

namespace console_control {

// While an InterruptHold exists on any thread, a request to end the program is kept back: Ctrl-C,
// Ctrl-Break and the closing of the console window (or the user's logoff) on Windows; SIGINT,
// SIGTERM, SIGHUP and SIGQUIT elsewhere. The first request kept back writes the hold notice
// (SetHoldNotice) to standard error at once; from then on StopRequested() is true, and the program
// ends itself with EndAsRequested() once the image it was writing is finished and reported. A
// request that comes while no hold exists ends the process at once, as it would without this
// facility. Holds may nest and may exist on several threads at once.
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

// The text written to standard error, once, when the first request is kept back. Set it before
// the first hold; the text must live as long as the program.
void SetHoldNotice(const char* text);

// Whether a request to end the program has been kept back by a hold.
bool StopRequested();

// Ends the process as the request kept back would have ended it: on Windows with exit code
// STATUS_CONTROL_C_EXIT, elsewhere by the signal's default action.
[[noreturn]] void EndAsRequested();

// Output to a pipe whose reader has gone fails as a write error (which the program reports)
// instead of ending the process in the middle of its work. Nothing to do on Windows.
void KeepRunningWhenOutputCloses();

// True when standard input and standard output are both an interactive console and this
// process is the only one attached to it: nobody started the program from a command prompt or
// a script, so the console window closes the moment the program ends. Always false on systems
// without Windows consoles.
bool AloneOnConsole();

}  // namespace console_control
