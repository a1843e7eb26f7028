// Waits for device requests, whose threads read the replies themselves: several threads waiting
// on one handle each get their own reply, a wait ends when something else completes or signals
// what it waits for (CancelIo, CloseHandle, SetEvent from another thread), a result that is asked
// for without waiting sees a reply that has arrived, and one event shared by two devices.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_endpoint.h"
#include "platform/testing/posix/test_endpoint.h"
#include "platform/win32.h"

namespace {

using qdev::DeviceReply;
using qdev::DeviceRequest;

constexpr DWORD kCode = 0x22003E;

// Requests whose first input byte is 0 are never answered; the others get their input back.
class WaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handler_.SetAnswer([](const DeviceRequest& request, DeviceReply* reply) {
      if (request.input.empty() || request.input[0] == 0) return false;
      *reply = DeviceReply{0, static_cast<uint32_t>(request.input.size()), request.input};
      return true;
    });
    std::string error;
    for (const char* name : {"QDev5", "QDev6"}) {
      ASSERT_TRUE(server_.AddDevice(name, &handler_, &error)) << error;
    }
    ASSERT_TRUE(server_.Start(&error)) << error;
  }

  static HANDLE Open(const char* name = "\\\\.\\QDev5") {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  }

  // An overlapped request with its own event and buffers; answered unless `answered` is false.
  struct Request {
    OVERLAPPED ov{};
    std::vector<uint8_t> in, out;
    const bool owned;
    Request(HANDLE device, uint8_t tag, bool answered, HANDLE event = nullptr)
        : in(4, answered ? tag : 0), out(4, 0), owned(event == nullptr) {
      ov.hEvent = owned ? CreateEventA(nullptr, FALSE, FALSE, nullptr) : event;
      EXPECT_FALSE(DeviceIoControl(device, kCode, in.data(), 4, out.data(), 4, nullptr, &ov));
      EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    }
    ~Request() {
      if (owned) CloseHandle(ov.hEvent);
    }
  };

  qdev_test::TempDeviceDir dir_;
  qdev_test::ScriptedHandler handler_;
  qdev::EndpointServer server_{dir_.path()};
};

// Whichever of the two threads reads the replies, each gets its own: the one whose request is
// answered completes, the other's wait times out and its request is cancelled.
TEST_F(WaitTest, ThreadsWaitingOnOneHandleEachGetTheirOwnReply) {
  HANDLE device = Open();
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    auto silent = std::async(std::launch::async, [device] {
      Request r(device, 1, false);
      const DWORD waited = WaitForSingleObject(r.ov.hEvent, 100);
      CancelIo(device);
      DWORD count = 0;
      GetOverlappedResult(device, &r.ov, &count, TRUE);
      return waited == WAIT_TIMEOUT && r.ov.Internal == 0xC0000120u;  // STATUS_CANCELLED
    });
    Request answered(device, static_cast<uint8_t>(round + 1), true);
    ASSERT_EQ(WaitForSingleObject(answered.ov.hEvent, 5000), WAIT_OBJECT_0);
    DWORD count = 0;
    EXPECT_TRUE(GetOverlappedResult(device, &answered.ov, &count, FALSE));
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(answered.out, answered.in);
    EXPECT_TRUE(silent.get());
  }
  EXPECT_TRUE(CloseHandle(device));
}

// Another thread waits for a request that is never answered; what the issuing thread does next
// ends that wait at once, however long it was to last.
TEST_F(WaitTest, WaitEndsWhenTheRequestIsCancelledClosedOrItsEventSet) {
  enum class End { kCancelIo, kCloseHandle, kSetEvent };
  for (End end : {End::kCancelIo, End::kCloseHandle, End::kSetEvent}) {
    SCOPED_TRACE(static_cast<int>(end));
    HANDLE device = Open();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    const size_t before = handler_.requests().size();
    Request r(device, 1, false);
    auto waiter =
        std::async(std::launch::async, [&r] { return WaitForSingleObject(r.ov.hEvent, 60000); });
    ASSERT_TRUE(handler_.WaitForRequests(before + 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // most likely in its wait now
    if (end == End::kCancelIo) CancelIo(device);
    if (end == End::kCloseHandle) CloseHandle(device);
    if (end == End::kSetEvent) SetEvent(r.ov.hEvent);
    // Long before the wait's own time-out.
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(waiter.get(), WAIT_OBJECT_0);
    EXPECT_EQ(r.ov.Internal, end == End::kSetEvent ? STATUS_PENDING : 0xC0000120u);
    if (end != End::kCloseHandle) {
      EXPECT_TRUE(CloseHandle(device));
    }
  }
}

// Nobody waits; asking for the result without waiting reads the reply that has arrived.
TEST_F(WaitTest, ResultAskedForWithoutWaitingSeesAReplyThatHasArrived) {
  HANDLE device = Open();
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  Request r(device, 7, true);
  DWORD count = 0;
  int polls = 0;
  for (; !GetOverlappedResult(device, &r.ov, &count, FALSE) && polls < 5000; ++polls) {
    ASSERT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    Sleep(1);
  }
  EXPECT_LT(polls, 5000);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(r.out, r.in);
  EXPECT_TRUE(CloseHandle(device));
}

// One event for requests on two devices, the later of them never answered: the wait reads both
// devices and ends with the answer of the first.
TEST_F(WaitTest, OneEventSharedByTwoDevices) {
  HANDLE first = Open("\\\\.\\QDev5"), second = Open("\\\\.\\QDev6");
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Request answered(first, 3, true, event);
  Request silent(second, 4, false, event);
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  DWORD count = 0;
  EXPECT_TRUE(GetOverlappedResult(first, &answered.ov, &count, FALSE));
  EXPECT_EQ(answered.out, answered.in);
  EXPECT_EQ(silent.ov.Internal, STATUS_PENDING);
  EXPECT_TRUE(CancelIo(second));
  EXPECT_TRUE(CloseHandle(event));
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_TRUE(CloseHandle(second));
}

}  // namespace
