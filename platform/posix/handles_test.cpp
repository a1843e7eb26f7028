// Handles: calls on handles that are not live fail cleanly, the last error is per thread, and
// the fault hooks make CloseHandle and CreateEventA fail on the call they name.
#include <gtest/gtest.h>

#include <thread>

#include "platform/test_facilities.h"
#include "platform/win32.h"

namespace {

TEST(HandleTest, CallsOnWhatIsNotALiveHandleFailWithInvalidHandle) {
  HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // live, but not a device
  for (HANDLE h :
       {HANDLE{nullptr}, INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x4321), closed, event}) {
    // The arguments, and so the call, are evaluated before GetLastError is read.
    auto fails = [h](BOOL ok, const char* call) {
      EXPECT_FALSE(ok) << call << " on " << h;
      EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << call << " on " << h;
      SetLastError(0);
    };
    uint8_t out[4];
    OVERLAPPED ov{};
    DWORD count = 0;
    SetLastError(0);
    fails(DeviceIoControl(h, 0x220012, nullptr, 0, out, 4, nullptr, nullptr), "DeviceIoControl");
    if (h == event) continue;
    fails(CancelIo(h), "CancelIo");
    fails(GetOverlappedResult(h, &ov, &count, FALSE), "GetOverlappedResult");
    fails(SetEvent(h), "SetEvent");
    fails(ResetEvent(h), "ResetEvent");
    fails(WaitForSingleObject(h, 0) != WAIT_FAILED, "WaitForSingleObject");
    fails(CloseHandle(h), "CloseHandle");
  }
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

// The hook armed for the n-th call; 0 leaves it disarmed.
class FaultHookTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void TearDown() override { qdev_test::ClearFaults(); }
};

TEST_P(FaultHookTest, CloseHandleFailsOnTheNthCallButStillReleases) {
  HANDLE events[4];
  for (HANDLE& e : events) e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  qdev_test::FailNthCloseHandle(GetParam());
  for (uint32_t i = 1; i <= 4; ++i) {
    SetLastError(0);
    EXPECT_EQ(CloseHandle(events[i - 1]) == FALSE, i == GetParam()) << "call " << i;
    EXPECT_EQ(GetLastError(), i == GetParam() ? ERROR_INVALID_HANDLE : 0u) << "call " << i;
    EXPECT_FALSE(SetEvent(events[i - 1])) << "call " << i;  // released either way
  }
}

TEST_P(FaultHookTest, CreateEventFailsOnTheNthCall) {
  qdev_test::FailNthCreateEvent(GetParam());
  for (uint32_t i = 1; i <= 4; ++i) {
    SetLastError(0);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(event == nullptr, i == GetParam()) << "call " << i;
    EXPECT_EQ(GetLastError(), i == GetParam() ? ERROR_NOT_ENOUGH_MEMORY : 0u) << "call " << i;
    EXPECT_EQ(CloseHandle(event) != FALSE, event != nullptr) << "call " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Calls, FaultHookTest, ::testing::Values(0u, 1u, 3u));

}  // namespace
