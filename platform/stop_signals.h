// For a program that serves until it is asked to stop (the module simulator's command): the
// requests to stop, SIGINT, SIGTERM, SIGHUP and SIGQUIT, delivered as calls on a thread of their
// own instead of to a signal handler, so that whatever the program waits on can be woken at once
// and the stop takes no polling. Systems without Windows.
#pragma once

#ifndef _WIN32

#include <functional>
#include <memory>

namespace qdev {

// The name of the thread that reads the signals (as ps, top and debuggers show it). A signal sent
// to that thread alone (tgkill) stops the program as one sent to the process does.
constexpr char kStopSignalsThreadName[] = "stop-signals";

class StopSignals {
 public:
  // Blocks the four signals in the calling thread, whose threads started afterwards inherit the
  // mask (make it before any other thread of the program), and calls onStop(signal) on a thread
  // of its own for each of them that arrives. ok() is false when that could not be arranged; the
  // signals then keep their default action.
  explicit StopSignals(std::function<void(int signal)> onStop);
  // Ends the thread. The four signals stay blocked in the calling thread: the program is ending,
  // and a stop signal that comes while it finishes (a power-loss exit, say) is dropped with the
  // process instead of ending it with the signal's own status.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  bool ok() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qdev

#endif  // !_WIN32
