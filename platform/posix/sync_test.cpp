// Events, waits, the scaled platform clock, Sleep and critical sections.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/test_facilities.h"
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

// At scale 100 a nominal wait or sleep of 5 s lasts 50 ms for real, and still measures in full on
// the platform clock, which the return to scale 1 does not turn back.
TEST(TimeScaleTest, WaitsAndSleepsShrinkWhileTheClockKeepsNominalTime) {
  qdev_test::SetTimeScale(100);
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  for (bool sleep : {false, true}) {
    SCOPED_TRACE(sleep ? "Sleep" : "WaitForSingleObject");
    const uint64_t ticks = GetTickCount64();
    const auto real = std::chrono::steady_clock::now();
    if (sleep) {
      Sleep(5000);
    } else {
      EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_TIMEOUT);
    }
    const auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - real)
                            .count();
    EXPECT_GE(GetTickCount64() - ticks, 4999u);
    EXPECT_GE(realMs, 49);
    EXPECT_LT(realMs, 1000);
  }
  EXPECT_TRUE(CloseHandle(event));
  const uint64_t fast = GetTickCount64();
  qdev_test::SetTimeScale(1);
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
