// The console facilities on systems without Windows: the interrupt hold blocks the terminal's
// and the system's ending signals in the calling thread. The platform's own threads block every
// signal (device_io.cpp), so a blocked signal stays pending for the process until the hold ends
// and then takes its default action.
#include "platform/console_control.h"

#include <pthread.h>
#include <signal.h>

namespace console_control {

namespace {

constexpr int kHeldSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

int holdDepth = 0;    // holds alive on the main thread
sigset_t maskBefore;  // the thread's mask before the outermost hold

}  // namespace

InterruptHold::InterruptHold() {
  if (holdDepth++ != 0) return;
  sigset_t held;
  sigemptyset(&held);
  for (int signal : kHeldSignals) sigaddset(&held, signal);
  pthread_sigmask(SIG_BLOCK, &held, &maskBefore);
}

InterruptHold::~InterruptHold() {
  // Unblocking delivers a signal that arrived meanwhile before this call returns.
  if (--holdDepth == 0) pthread_sigmask(SIG_SETMASK, &maskBefore, nullptr);
}

bool AloneOnConsole() {
  return false;
}

}  // namespace console_control
