// Events, waits, the scaled platform clock, Sleep and critical sections.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/testing/test_facilities.h"
#include "platform/win32.h"

namespace {

TEST(EventTest, FollowsEachScript) {
  const struct {
    bool manualReset, initialState;
    const char* script;  // S: SetEvent, R: ResetEvent, 0: signalled wait, T: timed-out wait
  } cases[] = {
      {false, false, "TS0T"},  {false, true, "0T"},    {false, false, "SS0T"},
      {true, false, "S000RT"}, {true, true, "00RTS0"}, {false, true, "RTS0"},
  };
  for (const auto& c : cases) {
    HANDLE event = CreateEventA(nullptr, c.manualReset, c.initialState, nullptr);
    ASSERT_NE(event, nullptr);
    for (const char* op = c.script; *op != '\0'; ++op) {
      SCOPED_TRACE(std::string("at ") + *op + " of " + c.script);
      if (*op == 'S' || *op == 'R') {
        EXPECT_TRUE(*op == 'S' ? SetEvent(event) : ResetEvent(event));
      } else {
        EXPECT_EQ(WaitForSingleObject(event, 1), *op == '0' ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
      }
    }
    EXPECT_TRUE(CloseHandle(event));
  }
}

// Sleeps follow the time scale and timed waits the wait scale, each on its own: at 100 a nominal
// 5 s lasts 50 ms for real, at 1 it lasts in full (300 ms are enough to tell the two apart). The
// platform clock runs with the time scale, and the return to scale 1 does not turn it back.
TEST(TimeScaleTest, SleepsFollowTheTimeScaleAndWaitsTheWaitScale) {
  const struct {
    bool sleep;
    uint32_t timeScale, waitScale;
    bool shortened;  // lasts 1/100 of its nominal time
  } cases[] = {
      {true, 100, 1, true},    {true, 1, 100, false},   // Sleep
      {false, 1, 100, true},   {false, 100, 1, false},  // WaitForSingleObject
      {false, 100, 100, true},
  };
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << (c.sleep ? "Sleep" : "WaitForSingleObject") << " at "
                                      << c.timeScale << "/" << c.waitScale);
    qdev_test::SetTimeScale(c.timeScale);
    qdev_test::SetWaitScale(c.waitScale);
    const uint32_t nominal = c.shortened ? 5000 : 300;
    const uint64_t ticks = GetTickCount64();
    const auto real = std::chrono::steady_clock::now();
    if (c.sleep) {
      Sleep(nominal);
    } else {
      EXPECT_EQ(WaitForSingleObject(event, nominal), WAIT_TIMEOUT);
    }
    const std::chrono::duration<double, std::milli> realMs =
        std::chrono::steady_clock::now() - real;
    EXPECT_GE(realMs.count(), (c.shortened ? nominal / 100.0 : nominal) - 1);
    // A shortened one ends long before its nominal time, however busy the machine.
    if (c.shortened) {
      EXPECT_LT(realMs.count(), nominal / 2.0);
    }
    // The clock measures a sleep, and a wait at equal scales, in full.
    if (c.sleep || c.timeScale == c.waitScale) {
      EXPECT_GE(GetTickCount64() - ticks, nominal - 1u);
    }
  }
  EXPECT_TRUE(CloseHandle(event));
  qdev_test::SetTimeScale(100);
  const uint64_t fast = GetTickCount64();
  qdev_test::SetTimeScale(1);
  qdev_test::SetWaitScale(1);
  EXPECT_GE(GetTickCount64(), fast);
}

TEST(CriticalSectionTest, IsReentrantAndExcludesOtherThreads) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);  // the owner enters again without blocking
  std::atomic<bool> entered{false};
  std::thread other([&] {
    EnterCriticalSection(&cs);
    entered = true;
    LeaveCriticalSection(&cs);
  });
  LeaveCriticalSection(&cs);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(entered) << "entered while still held once";
  LeaveCriticalSection(&cs);
  other.join();
  EXPECT_TRUE(entered);
  DeleteCriticalSection(&cs);
}

}  // namespace
