// Events, waits, the scaled platform clock, Sleep and critical sections.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/test_facilities.h"
#include "platform/win32.h"

namespace {

using Clock = std::chrono::steady_clock;

long RealMs(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// A script of operations on one event and what each wait must return.
struct EventCase {
  const char* name;
  bool manualReset;
  bool initialState;
  const char* script;  // S: SetEvent, R: ResetEvent, 0: signalled wait, T: timed-out wait
};

const EventCase kEvents[] = {
    {"AutoStartsClear", false, false, "TS0T"},          {"AutoInitiallySet", false, true, "0T"},
    {"AutoSetTwiceReleasesOnce", false, false, "SS0T"}, {"ManualStaysSet", true, false, "S000RT"},
    {"ManualInitiallySet", true, true, "00RTS0"},       {"ResetClearsAuto", false, true, "RTS0"},
};

class EventTest : public ::testing::TestWithParam<EventCase> {};

TEST_P(EventTest, FollowsItsScript) {
  const EventCase& c = GetParam();
  HANDLE event = CreateEventA(nullptr, c.manualReset, c.initialState, nullptr);
  ASSERT_NE(event, nullptr);
  for (const char* op = c.script; *op != '\0'; ++op) {
    SCOPED_TRACE(std::string("at ") + *op + " of " + c.script);
    switch (*op) {
      case 'S':
        EXPECT_TRUE(SetEvent(event));
        break;
      case 'R':
        EXPECT_TRUE(ResetEvent(event));
        break;
      case '0':
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
        break;
      case 'T':
        EXPECT_EQ(WaitForSingleObject(event, 1), WAIT_TIMEOUT);
        break;
    }
  }
  EXPECT_TRUE(CloseHandle(event));
}

INSTANTIATE_TEST_SUITE_P(Scripts, EventTest, ::testing::ValuesIn(kEvents),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EventTest, SetFromAnotherThreadReleasesAnInfiniteWait) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::thread setter([event] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    SetEvent(event);
  });
  EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
  setter.join();
  EXPECT_TRUE(CloseHandle(event));
}

class TimeScaleTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void TearDown() override { qdev_test::SetTimeScale(1); }
};

// A nominal wait lasts 1/scale of its time for real, and still measures in full on the clock.
TEST_P(TimeScaleTest, WaitsAndSleepsShrinkWhileTheClockKeepsNominalTime) {
  const uint32_t scale = GetParam();
  qdev_test::SetTimeScale(scale);
  EXPECT_EQ(qdev_test::TimeScale(), scale);
  const DWORD nominal = 50 * scale;  // 50 ms of real time at every scale

  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  uint64_t ticks = GetTickCount64();
  Clock::time_point real = Clock::now();
  EXPECT_EQ(WaitForSingleObject(event, nominal), WAIT_TIMEOUT);
  EXPECT_GE(GetTickCount64() - ticks, nominal - 1);
  EXPECT_GE(RealMs(real), 49);
  EXPECT_LT(RealMs(real), 1000);
  EXPECT_TRUE(CloseHandle(event));

  ticks = GetTickCount64();
  real = Clock::now();
  Sleep(nominal);
  EXPECT_GE(GetTickCount64() - ticks, nominal - 1);
  EXPECT_GE(RealMs(real), 49);
  EXPECT_LT(RealMs(real), 1000);
}

INSTANTIATE_TEST_SUITE_P(Scales, TimeScaleTest, ::testing::Values(1u, 10u, 100u));

TEST(TimeScaleTest, ChangingTheScaleNeverTurnsTheClockBack) {
  uint64_t before = GetTickCount64();
  qdev_test::SetTimeScale(1000);
  Sleep(2000);
  uint64_t fast = GetTickCount64();
  qdev_test::SetTimeScale(1);
  uint64_t after = GetTickCount64();
  EXPECT_GE(fast - before, 1999u);
  EXPECT_GE(after, fast);
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
