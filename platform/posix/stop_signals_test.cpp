// qdev::StopSignals: a stop signal reaches the callback, and one that comes after the watcher has
// ended is held rather than ending the program.
#include "platform/stop_signals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(StopSignalsTest, SignalReachesTheCallbackAndALateOneIsHeld) {
  std::atomic<int> received{0};
  {
    qdev::StopSignals signals([&received](int signal) { received = signal; });
    ASSERT_TRUE(signals.ok());
    ASSERT_EQ(kill(getpid(), SIGHUP), 0);  // to the process: the watcher reads it
    for (int i = 0; i < 1000 && received == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(received, SIGHUP);
  }
  // With the default action this would end the test program.
  ASSERT_EQ(raise(SIGTERM), 0);
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  const timespec none{0, 0};
  EXPECT_EQ(sigtimedwait(&term, nullptr, &none), SIGTERM);
  pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
}

}  // namespace
