// qdev::StopSignals (platform/stop_signals.h): the stop signals blocked and read from a signalfd
// by a thread that also watches a pipe, whose closing ends it.
#include "platform/stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <utility>

namespace qdev {

struct StopSignals::Impl {
  std::function<void(int)> onStop;
  sigset_t before;  // the calling thread's mask, restored when no thread could be started
  int signals = -1;
  int quit[2] = {-1, -1};  // closing the write end ends the thread
  std::thread thread;

  void Watch() {
    pollfd fds[2] = {{signals, POLLIN, 0}, {quit[0], POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents != 0) return;
      signalfd_siginfo info;
      const ssize_t n = ::read(signals, &info, sizeof info);
      if (n == static_cast<ssize_t>(sizeof info)) onStop(static_cast<int>(info.ssi_signo));
    }
  }
};

StopSignals::StopSignals(std::function<void(int signal)> onStop) : impl_(new Impl) {
  impl_->onStop = std::move(onStop);
  sigset_t stop;
  sigemptyset(&stop);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stop, s);
  if (pthread_sigmask(SIG_BLOCK, &stop, &impl_->before) != 0) return;
  impl_->signals = ::signalfd(-1, &stop, SFD_CLOEXEC);
  if (impl_->signals >= 0 && ::pipe2(impl_->quit, O_CLOEXEC) == 0) {
    try {
      impl_->thread = std::thread([impl = impl_.get()] { impl->Watch(); });
      pthread_setname_np(impl_->thread.native_handle(), kStopSignalsThreadName);
      return;
    } catch (...) {
    }
  }
  // Nothing would read the signals: they keep their default action.
  pthread_sigmask(SIG_SETMASK, &impl_->before, nullptr);
}

StopSignals::~StopSignals() {
  if (impl_->quit[1] >= 0) ::close(impl_->quit[1]);
  if (!impl_->thread.joinable()) {
    if (impl_->quit[0] >= 0) ::close(impl_->quit[0]);
    if (impl_->signals >= 0) ::close(impl_->signals);
    return;
  }
  impl_->thread.join();
  // The mask stays as it is: a stop signal from now on stays pending until the process ends.
  ::close(impl_->quit[0]);
  ::close(impl_->signals);
}

bool StopSignals::ok() const {
  return impl_->thread.joinable();
}

}  // namespace qdev
