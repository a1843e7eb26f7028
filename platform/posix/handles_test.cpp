// Handles: calls on handles that are not live fail cleanly, the last error is per thread, and
// the fault hooks make CloseHandle and CreateEventA fail on the call they name.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/test_facilities.h"
#include "platform/win32.h"

namespace {

HANDLE ClosedEvent() {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(event);
  return event;
}

struct NotAHandle {
  const char* name;
  HANDLE (*make)();
};

const NotAHandle kNotHandles[] = {
    {"Null", [] { return HANDLE{nullptr}; }},
    {"InvalidHandleValue", [] { return INVALID_HANDLE_VALUE; }},
    {"Made-up", [] { return reinterpret_cast<HANDLE>(0x4321); }},
    {"Closed", ClosedEvent},
};

class NotAHandleTest : public ::testing::TestWithParam<NotAHandle> {};

TEST_P(NotAHandleTest, EveryCallFailsWithInvalidHandle) {
  HANDLE h = GetParam().make();
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  SetLastError(0);
  EXPECT_FALSE(SetEvent(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  SetLastError(0);
  EXPECT_FALSE(ResetEvent(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  SetLastError(0);
  EXPECT_FALSE(CancelIo(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  OVERLAPPED ov{};
  DWORD count = 0;
  SetLastError(0);
  EXPECT_FALSE(GetOverlappedResult(h, &ov, &count, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

INSTANTIATE_TEST_SUITE_P(Kinds, NotAHandleTest, ::testing::ValuesIn(kNotHandles),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           return name == "Made-up" ? std::string("MadeUp") : name;
                         });

TEST(HandleTest, AnEventHandleIsNotADevice) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  uint8_t out[4];
  EXPECT_FALSE(DeviceIoControl(event, 0x220012, nullptr, 0, out, 4, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(CloseHandle(event));
}

TEST(HandleTest, LastErrorBelongsToEachThread) {
  SetLastError(ERROR_GEN_FAILURE);
  DWORD seen = 1;
  std::thread([&] {
    seen = GetLastError();
    SetLastError(ERROR_ACCESS_DENIED);
  }).join();
  EXPECT_EQ(seen, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
}

class FaultHookTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void TearDown() override { qdev_test::ClearFaults(); }
};

TEST_P(FaultHookTest, CloseHandleFailsOnTheNthCallButStillReleases) {
  const uint32_t n = GetParam();
  HANDLE events[4];
  for (HANDLE& e : events) e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  qdev_test::FailNthCloseHandle(n);
  for (uint32_t i = 1; i <= 4; ++i) {
    SetLastError(0);
    BOOL ok = CloseHandle(events[i - 1]);
    EXPECT_EQ(ok != FALSE, i != n) << "call " << i;
    if (!ok) {
      EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    // Released either way: the handle is dead.
    EXPECT_FALSE(SetEvent(events[i - 1]));
  }
}

TEST_P(FaultHookTest, CreateEventFailsOnTheNthCall) {
  const uint32_t n = GetParam();
  qdev_test::FailNthCreateEvent(n);
  for (uint32_t i = 1; i <= 4; ++i) {
    SetLastError(0);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (i == n) {
      EXPECT_EQ(event, nullptr);
      EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    } else {
      ASSERT_NE(event, nullptr) << "call " << i;
      EXPECT_TRUE(CloseHandle(event));
    }
  }
}

// 0 leaves the hooks disarmed.
INSTANTIATE_TEST_SUITE_P(Calls, FaultHookTest, ::testing::Values(0u, 1u, 3u));

}  // namespace
