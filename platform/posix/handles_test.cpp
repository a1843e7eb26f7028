// Handles: calls on handles that are not live fail cleanly (or, on the current process's
// pseudo-handle, do nothing, as on Windows), the last error is per thread, the fault hooks make
// CloseHandle and CreateEventA fail on the call they name, and the request ids of a device handle
// are a bijective mix of a counter, so none repeats on one handle, and none follows from the one
// before (an endpoint that answers ahead of a request completes nothing).
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "platform/posix/request_ids.h"
#include "platform/testing/test_facilities.h"
#include "platform/win32.h"

namespace {

TEST(HandleTest, CallsOnWhatIsNotALiveHandleFailAsOnWindows) {
  HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // live, but not a device
  for (HANDLE h :
       {HANDLE{nullptr}, INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x4321), closed, event}) {
    // INVALID_HANDLE_VALUE is the current process, which a close or a cancel leaves alone.
    const bool self = h == INVALID_HANDLE_VALUE;
    // The arguments, and so the call, are evaluated before GetLastError is read.
    auto check = [h](DWORD result, DWORD expected, DWORD error, const char* call) {
      EXPECT_EQ(result, expected) << call << " on " << h;
      EXPECT_EQ(GetLastError(), error) << call << " on " << h;
      SetLastError(0);
    };
    const DWORD invalid = ERROR_INVALID_HANDLE, selfError = self ? ERROR_SUCCESS : invalid;
    uint8_t out[4];
    DWORD count = 0;
    SetLastError(0);
    check(DeviceIoControl(h, 0x220012, nullptr, 0, out, 4, nullptr, nullptr), FALSE, invalid,
          "DeviceIoControl");
    // The result of a request comes from its record alone, whatever the handle.
    OVERLAPPED done{}, pending{};
    done.InternalHigh = 7;
    pending.Internal = STATUS_PENDING;
    check(GetOverlappedResult(h, &done, &count, FALSE), TRUE, 0, "GetOverlappedResult");
    EXPECT_EQ(count, 7u);
    check(GetOverlappedResult(h, &pending, &count, FALSE), FALSE, ERROR_IO_INCOMPLETE, "pending");
    if (h == event) continue;
    check(CancelIo(h), self, selfError, "CancelIo");
    check(SetEvent(h), FALSE, invalid, "SetEvent");
    check(ResetEvent(h), FALSE, invalid, "ResetEvent");
    check(WaitForSingleObject(h, 0), self ? WAIT_TIMEOUT : WAIT_FAILED, selfError, "Wait");
    check(CloseHandle(h), self, selfError, "CloseHandle");
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

// Each hook fails the n-th call after it is armed, and that call only; a failed close still
// releases the object.
TEST(FaultHookTest, TheNthCallFailsAndAFailedCloseStillReleases) {
  for (uint32_t n : {1u, 3u}) {
    SCOPED_TRACE(n);
    qdev_test::FailNthCreateEvent(n);
    for (uint32_t i = 1; i <= 4; ++i) {
      SetLastError(0);
      HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
      EXPECT_EQ(event == nullptr, i == n) << "call " << i;
      EXPECT_EQ(GetLastError(), i == n ? ERROR_NOT_ENOUGH_MEMORY : 0u) << "call " << i;
      CloseHandle(event);
    }
    qdev_test::FailNthCloseHandle(n);
    for (uint32_t i = 1; i <= 4; ++i) {
      HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
      SetLastError(0);
      EXPECT_EQ(CloseHandle(event) == FALSE, i == n) << "call " << i;
      EXPECT_EQ(GetLastError(), i == n ? ERROR_INVALID_HANDLE : 0u) << "call " << i;
      EXPECT_FALSE(SetEvent(event)) << "call " << i;  // released either way
    }
  }
  qdev_test::ClearFaults();
}

// 2^18 ids: a mix that is no bijection would repeat one here almost surely (birthday bound).
TEST(RequestIdsTest, NoIdRepeatsOnOneHandle) {
  qdev_posix::RequestIds ids;
  std::vector<uint32_t> issued(1u << 18);
  for (uint32_t& id : issued) id = ids.Next();
  const auto firstIds = issued.begin() + 16;  // a counter's step would show at once
  EXPECT_EQ(std::adjacent_find(issued.begin(), firstIds,
                               [](uint32_t a, uint32_t b) { return b == a + 1; }),
            firstIds);
  std::sort(issued.begin(), issued.end());
  EXPECT_EQ(std::adjacent_find(issued.begin(), issued.end()), issued.end());
}

}  // namespace
