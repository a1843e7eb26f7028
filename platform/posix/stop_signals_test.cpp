// qdev::StopSignals: a stop signal that comes after the watcher has ended.
#include "platform/stop_signals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>

namespace {

// A stop signal reaching the callback is the simulator command's (sim/command_test.cpp, every
// stop signal); after the watcher has ended one is held rather than ending the program.
TEST(StopSignalsTest, ASignalAfterTheWatcherHasEndedIsHeld) {
  {
    qdev::StopSignals signals([](int) {});
    ASSERT_TRUE(signals.ok());
  }
  ASSERT_EQ(raise(SIGTERM), 0);  // with the default action this would end the test program
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  const timespec none{0, 0};
  EXPECT_EQ(sigtimedwait(&term, nullptr, &none), SIGTERM);
  pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
}

}  // namespace
