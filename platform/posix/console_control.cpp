// The console facilities on systems without Windows: while a hold exists, the terminal's and the
// system's ending signals reach a handler that keeps them back (it restarts interrupted system
// calls, and the platform's waits take an interruption for a wake-up), and without a hold they
// have their default action again.
#include "platform/console_control.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace console_control {

namespace {

constexpr int kHeldSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr size_t kSignalCount = sizeof kHeldSignals / sizeof kHeldSignals[0];

std::mutex holdsMutex;                              // guards holds and the dispositions
int holds = 0;                                      // holds alive, on all threads
struct sigaction dispositionsBefore[kSignalCount];  // those of the time without a hold

std::atomic<int> keptSignal{0};  // the first signal kept back; 0 while none
// The notice, read by the handler: set before the first hold, never changed afterwards.
const char* noticeText = nullptr;
size_t noticeLength = 0;

void KeepBack(int signal) {
  int none = 0;
  if (!keptSignal.compare_exchange_strong(none, signal) || noticeText == nullptr) return;
  const int savedErrno = errno;
  for (size_t done = 0; done < noticeLength;) {
    const ssize_t n = ::write(STDERR_FILENO, noticeText + done, noticeLength - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  errno = savedErrno;
}

}  // namespace

InterruptHold::InterruptHold() {
  const std::lock_guard<std::mutex> lock(holdsMutex);
  if (holds++ != 0) return;
  struct sigaction action = {};
  action.sa_handler = KeepBack;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < kSignalCount; ++i) {
    sigaction(kHeldSignals[i], &action, &dispositionsBefore[i]);
  }
}

InterruptHold::~InterruptHold() {
  const std::lock_guard<std::mutex> lock(holdsMutex);
  if (--holds != 0) return;
  for (size_t i = 0; i < kSignalCount; ++i) {
    sigaction(kHeldSignals[i], &dispositionsBefore[i], nullptr);
  }
}

void SetHoldNotice(const char* text) {
  noticeText = text;
  noticeLength = text != nullptr ? std::strlen(text) : 0;
}

bool StopRequested() {
  return keptSignal.load() != 0;
}

void EndAsRequested() {
  const int signal = keptSignal.load();
  if (signal != 0) {
    ::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
  }
  // Not reached after a signal; a signal that did not end the process ends it with its status.
  std::_Exit(128 + signal);
}

void KeepRunningWhenOutputCloses() {
  ::signal(SIGPIPE, SIG_IGN);
}

bool AloneOnConsole() {
  return false;
}

}  // namespace console_control
