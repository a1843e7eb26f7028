// Device I/O against an endpoint: byte counts and data in both directions, a vanishing endpoint,
// share modes, failed opens; waits for requests, whose threads read the replies themselves (several
// threads on one handle, a wait ended by CancelIo, CloseHandle or SetEvent from another thread, a
// result asked for without waiting, one event shared by two devices); a request that is never
// answered and its late reply, and an open not answered in time.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/device_endpoint.h"
#include "platform/device_frame.h"
#include "platform/testing/posix/test_endpoint.h"
#include "platform/testing/test_facilities.h"
#include "platform/win32.h"

namespace {

using qdev::DeviceReply;
using qdev::DeviceRequest;
using qdev_test::TempDeviceDir;

constexpr DWORD kCode = 0x22003E;
constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ULONG_PTR kCancelled = 0xC0000120;  // STATUS_CANCELLED

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

HANDLE Open(const char* name = "\\\\.\\QDev5", DWORD access = kReadWrite, DWORD share = kShareAll) {
  return CreateFileA(name, access, share, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

// Starts an overlapped request; it must go pending.
void Issue(HANDLE device, OVERLAPPED* ov, uint8_t* out, DWORD outSize,
           const std::vector<uint8_t>& in = {}) {
  ASSERT_FALSE(DeviceIoControl(device, kCode,
                               in.empty() ? nullptr : const_cast<uint8_t*>(in.data()),
                               static_cast<DWORD>(in.size()), out, outSize, nullptr, ov));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
}

// An overlapped request with its own event (unless given one) and 4-byte buffers; its input is
// `tag`, and a tag of 0 is never answered.
struct Request {
  OVERLAPPED ov{};
  std::vector<uint8_t> in, out = std::vector<uint8_t>(4, 0);
  const bool owned;
  Request(HANDLE device, uint8_t tag, HANDLE event = nullptr)
      : in(4, tag), owned(event == nullptr) {
    ov.hEvent = owned ? CreateEventA(nullptr, FALSE, FALSE, nullptr) : event;
    Issue(device, &ov, out.data(), 4, in);
  }
  ~Request() {
    if (owned) CloseHandle(ov.hEvent);
  }
};

// Devices QDev5 and QDev6, with QDev5 open (sharing all) as device_; the fixture is their handler.
class DeviceTest : public ::testing::Test, public qdev::DeviceHandler {
 protected:
  void SetUp() override {
    std::string error;
    for (const char* name : {"QDev5", "QDev6"}) {
      ASSERT_TRUE(server_.AddDevice(name, this, &error)) << error;
    }
    ASSERT_TRUE(server_.Start(&error)) << error;
    ASSERT_NE(device_ = Open(), INVALID_HANDLE_VALUE);
  }
  void TearDown() override { EXPECT_TRUE(CloseHandle(device_)); }
  // On the server's thread: records the request and answers it as answer_ says.
  bool Handle(const DeviceRequest& request, DeviceReply* reply) override {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(request);
    return answer_(request, reply);
  }
  std::vector<DeviceRequest> Requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }
  bool WaitForRequests(size_t n) {  // up to 5 s
    for (int i = 0; i < 1000 && Requests().size() < n; ++i) Sleep(5);
    return Requests().size() >= n;
  }

  HANDLE device_ = INVALID_HANDLE_VALUE;
  TempDeviceDir dir_;
  // Gives a request its input back unless the input starts with 0 (set before a request is sent).
  std::function<bool(const DeviceRequest&, DeviceReply*)> answer_ = [](const DeviceRequest& in,
                                                                       DeviceReply* reply) {
    *reply = DeviceReply{0, static_cast<uint32_t>(in.input.size()), in.input};
    return !in.input.empty() && in.input[0] != 0;
  };
  std::mutex mu_;
  std::vector<DeviceRequest> requests_;
  qdev::EndpointServer server_{dir_.path()};  // stopped first
};

// One request and the endpoint's answer to it.
struct TransferCase {
  const char* name;
  uint32_t inSize, outSize;
  uint32_t replyData, information;  // bytes of data in the reply, and the byte count it reports
  DWORD error;
  ULONG_PTR status;  // the NTSTATUS in the completed record
};

const TransferCase kTransfers[] = {
    {"NoInput", 0, 80, 80, 80, ERROR_SUCCESS, 0},
    {"ReadBlock", 8, 4096, 4096, 4096, ERROR_SUCCESS, 0},
    {"WriteBlock", 8, 256, 0, 256, ERROR_SUCCESS, 0},
    {"ShortRead", 8, 64, 10, 10, ERROR_SUCCESS, 0},
    {"FailedWithCount", 8, 32, 4, 4, ERROR_SEM_TIMEOUT, 0xC00000B5},  // STATUS_IO_TIMEOUT
    {"Refused", 8, 32, 0, 0, ERROR_GEN_FAILURE, 0xC0000001},          // STATUS_UNSUCCESSFUL
    {"ErrorOutsideTheTable", 8, 32, 0, 0, 1234, 0xC00704D2},  // carried in the Win32 facility
};

class TransferTest : public DeviceTest, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(TransferTest, DataAndCountArriveExactly) {
  const TransferCase& c = GetParam();
  const std::vector<uint8_t> replyData = Pattern(c.replyData, 0xA0);
  answer_ = [&](const DeviceRequest&, DeviceReply* reply) {
    *reply = DeviceReply{c.error, c.information, replyData};
    return true;
  };
  const std::vector<uint8_t> input = Pattern(c.inSize, 0x10), original = Pattern(c.outSize, 0x50);
  std::vector<uint8_t> buffer = original;
  buffer.resize(c.outSize + 8, 0xEE);  // guard bytes past the output that nothing may touch
  // The reply's data fills the start of the output buffer; nothing else changes.
  std::vector<uint8_t> expected = buffer;
  std::copy_n(replyData.begin(), std::min(c.replyData, c.outSize), expected.begin());
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  Issue(device_, &ov, buffer.data(), c.outSize, input);
  // Nobody waits: asking for the result without waiting reads the reply once it has arrived.
  DWORD count = 0xDEAD;
  BOOL done = FALSE;
  for (int polls = 0; !(done = GetOverlappedResult(device_, &ov, &count, FALSE)) &&
                      GetLastError() == ERROR_IO_INCOMPLETE;
       ++polls) {
    ASSERT_LT(polls, 5000);
    Sleep(1);
  }
  EXPECT_EQ(done ? ERROR_SUCCESS : GetLastError(), c.error);
  EXPECT_EQ(count, c.information);
  EXPECT_EQ(ov.Internal, c.status);
  EXPECT_EQ(WaitForSingleObject(ov.hEvent, 0), WAIT_OBJECT_0);
  EXPECT_EQ(buffer, expected);
  // Both buffers reached the endpoint as they were.
  const std::vector<DeviceRequest> requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(std::tie(requests[0].ioControlCode, requests[0].input, requests[0].output),
            std::tie(kCode, input, original));
  EXPECT_TRUE(CloseHandle(ov.hEvent));
}

INSTANTIATE_TEST_SUITE_P(Cases, TransferTest, ::testing::ValuesIn(kTransfers),
                         [](const auto& info) { return std::string(info.param.name); });

// A pending request fails when its endpoint goes, and so does every later one on the handle.
TEST_F(DeviceTest, LostEndpointFailsThePendingRequestAndTheNextAtOnce) {
  Request r(device_, 0);
  ASSERT_TRUE(WaitForRequests(1));
  server_.DropConnections("QDev5");
  EXPECT_EQ(WaitForSingleObject(r.ov.hEvent, 5000), WAIT_OBJECT_0);
  DWORD count = 1;
  EXPECT_FALSE(GetOverlappedResult(device_, &r.ov, &count, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(DeviceIoControl(device_, kCode, nullptr, 0, r.out.data(), 4, nullptr, &r.ov));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(DeviceTest, SecondOpenFollowsTheShareModesAndTheDeviceReopensAfterClose) {
  const struct {
    DWORD firstAccess, firstShare, secondAccess, secondShare;
    DWORD error;  // of the second open, while the first handle is open
  } cases[] = {
      {kReadWrite, 0, kReadWrite, 0, ERROR_SHARING_VIOLATION},
      {kReadWrite, kShareAll, kReadWrite, 0, ERROR_SHARING_VIOLATION},
      {kReadWrite, kShareAll, kReadWrite, kShareAll, ERROR_SUCCESS},
      {GENERIC_READ, FILE_SHARE_READ, kReadWrite, kShareAll, ERROR_SHARING_VIOLATION},
      {0, 0, kReadWrite, 0, ERROR_SUCCESS},  // an open without access takes no part
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.firstAccess << "/" << c.firstShare << " then "
                                      << c.secondAccess << "/" << c.secondShare);
    HANDLE first = Open("\\\\.\\QDev6", c.firstAccess, c.firstShare);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    HANDLE second = Open("\\\\.\\QDev6", c.secondAccess, c.secondShare);
    EXPECT_EQ(second == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS, c.error);
    CloseHandle(second);
    EXPECT_TRUE(CloseHandle(first));
    second = Open("\\\\.\\QDev6", c.secondAccess, c.secondShare);  // at once after the close
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    CloseHandle(second);
  }
}

TEST_F(DeviceTest, OpensFindTheDeviceAsOnWindows) {
  const struct {
    const char* path;
    DWORD error;
  } cases[] = {
      {"\\\\.\\qDEV5", ERROR_SUCCESS},            // names do not depend on case
      {"\\\\.\\QDev9", ERROR_FILE_NOT_FOUND},     // no endpoint
      {"QDev5", ERROR_FILE_NOT_FOUND},            // not in the device namespace
      {"\\\\.\\QDev5\\x", ERROR_PATH_NOT_FOUND},  // below a device
      {"\\\\.\\", ERROR_INVALID_NAME},            // the namespace itself
      {"\\\\.\\.", ERROR_INVALID_NAME},           // resolved to the namespace
      {"\\\\.\\..", ERROR_INVALID_NAME},          // likewise
  };
  for (const auto& c : cases) {
    SetLastError(0);
    HANDLE device = Open(c.path);
    EXPECT_EQ(device == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS, c.error) << c.path;
    EXPECT_TRUE(CloseHandle(device));  // INVALID_HANDLE_VALUE too, as on Windows
  }
}

// Whichever of the two threads reads the replies, each gets its own: the one whose request is
// answered completes, the other's wait times out and its request is cancelled.
TEST_F(DeviceTest, ThreadsWaitingOnOneHandleEachGetTheirOwnReply) {
  HANDLE device = device_;
  for (uint8_t round = 1; round <= 5; ++round) {
    SCOPED_TRACE(round);
    auto silent = std::async(std::launch::async, [device] {
      Request r(device, 0);
      const DWORD waited = WaitForSingleObject(r.ov.hEvent, 100);
      CancelIo(device);
      DWORD count = 0;
      GetOverlappedResult(device, &r.ov, &count, TRUE);
      return waited == WAIT_TIMEOUT && r.ov.Internal == kCancelled;
    });
    Request answered(device, round);
    ASSERT_EQ(WaitForSingleObject(answered.ov.hEvent, 5000), WAIT_OBJECT_0);
    DWORD count = 0;
    EXPECT_TRUE(GetOverlappedResult(device, &answered.ov, &count, FALSE));
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(answered.out, answered.in);
    EXPECT_TRUE(silent.get());
  }
}

// Another thread waits for a request that is never answered; what the issuing thread does next
// ends that wait at once, however long it was to last.
TEST_F(DeviceTest, WaitEndsWhenTheRequestIsCancelledClosedOrItsEventSet) {
  enum class End { kCancelIo, kCloseHandle, kSetEvent };
  for (End end : {End::kCancelIo, End::kCloseHandle, End::kSetEvent}) {
    SCOPED_TRACE(static_cast<int>(end));
    HANDLE device = Open();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    const size_t before = Requests().size();
    Request r(device, 0);
    auto waiter =
        std::async(std::launch::async, [&r] { return WaitForSingleObject(r.ov.hEvent, 60000); });
    ASSERT_TRUE(WaitForRequests(before + 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // most likely in its wait now
    if (end == End::kCancelIo) CancelIo(device);
    if (end == End::kCloseHandle) CloseHandle(device);
    if (end == End::kSetEvent) SetEvent(r.ov.hEvent);
    // Long before the wait's own time-out.
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(waiter.get(), WAIT_OBJECT_0);
    EXPECT_EQ(r.ov.Internal, end == End::kSetEvent ? STATUS_PENDING : kCancelled);
    EXPECT_TRUE(end == End::kCloseHandle || CloseHandle(device));
  }
}

// One event for requests on two devices, the later of them never answered: the wait reads both
// devices and ends with the answer of the first.
TEST_F(DeviceTest, OneEventSharedByTwoDevices) {
  HANDLE first = device_, second = Open("\\\\.\\QDev6");
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Request answered(first, 3, event);
  Request silent(second, 0, event);
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  DWORD count = 0;
  EXPECT_TRUE(GetOverlappedResult(first, &answered.ov, &count, FALSE));
  EXPECT_EQ(answered.out, answered.in);
  EXPECT_EQ(silent.ov.Internal, STATUS_PENDING);
  EXPECT_TRUE(CloseHandle(event));
  EXPECT_TRUE(CloseHandle(second));
}

// An endpoint written by hand, for what EndpointServer never does: answer a cancelled request, or
// drip-feed an open's reply. Runs `script` on the first connection.
class RawEndpoint {
 public:
  RawEndpoint(const std::string& path, std::function<void(int fd)> script)
      : listener_(qdev_test::BindUnixSocket(path)) {
    listen(listener_, 1);  // when binding failed, accept fails at once and so does the open
    thread_ = std::thread([this, script] {
      int connection = accept(listener_, nullptr, nullptr);
      if (connection < 0) return;
      script(connection);
      close(connection);
    });
  }
  ~RawEndpoint() {
    shutdown(listener_, SHUT_RDWR);  // wakes an accept still waiting
    thread_.join();
    close(listener_);
  }

  // Reads one frame, skipping its payload; false at the end of the stream.
  static bool Read(int fd, qdev_frame::Header* h) {
    uint8_t head[qdev_frame::kHeaderSize];
    uint32_t size = 0;
    if (recv(fd, head, sizeof head, MSG_WAITALL) != sizeof head) return false;
    *h = qdev_frame::DecodeHeader(head);
    std::vector<uint8_t> payload(qdev_frame::PayloadSize(*h, &size) ? size : 0);
    return size == 0 || recv(fd, payload.data(), size, MSG_WAITALL) == ssize_t(size);
  }
  // Sends a frame with `header` and then `data`.
  static void Send(int fd, const qdev_frame::Header& header, std::vector<uint8_t> data = {}) {
    uint8_t head[qdev_frame::kHeaderSize];
    qdev_frame::EncodeHeader(header, head);
    data.insert(data.begin(), head, head + sizeof head);
    ASSERT_EQ(send(fd, data.data(), data.size(), MSG_NOSIGNAL), ssize_t(data.size()));
  }

 private:
  int listener_;
  std::thread thread_;
};

TEST(RawEndpointTest, UnansweredRequestTimesOutIsCancelledAndItsLateReplyIsDropped) {
  TempDeviceDir dir;
  RawEndpoint endpoint(dir.path() + "/QDev1", [](int fd) {
    qdev_frame::Header h{};
    ASSERT_TRUE(RawEndpoint::Read(fd, &h));
    RawEndpoint::Send(fd, qdev_frame::OpenReplyHeader(0));
    ASSERT_TRUE(RawEndpoint::Read(fd, &h));  // left unanswered until cancelled
    const uint32_t first = h.id;
    ASSERT_TRUE(RawEndpoint::Read(fd, &h));
    EXPECT_EQ(h.type, qdev_frame::kCancel);
    EXPECT_EQ(h.id, first);
    RawEndpoint::Send(fd, qdev_frame::ReplyHeader(first, 0, 4, 4), {0xFF, 0xFF, 0xFF, 0xFF});
    ASSERT_TRUE(RawEndpoint::Read(fd, &h));
    EXPECT_NE(h.id, first);
    RawEndpoint::Send(fd, qdev_frame::ReplyHeader(h.id, 0, 4, 4), {1, 2, 3, 4});
  });
  HANDLE device = Open("\\\\.\\QDev1");
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  OVERLAPPED ov{};
  HANDLE event = CreateEventA(nullptr, FALSE, TRUE, nullptr);  // the request resets it
  ov.hEvent = event;
  std::vector<uint8_t> stale(4, 0), fresh(4, 0);
  Issue(device, &ov, stale.data(), 4);
  EXPECT_EQ(WaitForSingleObject(ov.hEvent, 100), WAIT_TIMEOUT);
  DWORD count = 1;
  EXPECT_FALSE(GetOverlappedResult(device, &ov, &count, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

  ASSERT_TRUE(CancelIo(device));
  EXPECT_EQ(WaitForSingleObject(ov.hEvent, 0), WAIT_OBJECT_0);
  EXPECT_EQ(ov.Internal, kCancelled);
  EXPECT_FALSE(GetOverlappedResult(device, &ov, &count, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_EQ(count, 0u);

  // The next request on the handle gets its own reply; the late one touches nothing. Without an
  // event, GetOverlappedResult waits on the handle.
  ov.hEvent = nullptr;
  Issue(device, &ov, fresh.data(), 4);
  EXPECT_TRUE(GetOverlappedResult(device, &ov, &count, TRUE));
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(fresh, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(stale, std::vector<uint8_t>(4, 0));
  EXPECT_TRUE(CloseHandle(event));
  EXPECT_TRUE(CloseHandle(device));
}

// An endpoint that accepts the connection and drip-feeds its open reply, a byte every half
// second (whole after 12 s): the open gets one deadline (10 s, shortened here by the wait scale)
// however the reply is spread out.
TEST(RawEndpointTest, OpenNotAnsweredInTimeFailsAtOneDeadline) {
  qdev_test::SetWaitScale(100);
  TempDeviceDir dir;
  std::atomic<size_t> sent{0};
  {
    RawEndpoint endpoint(dir.path() + "/QDev1", [&sent](int fd) {
      qdev_frame::Header h{};
      ASSERT_TRUE(RawEndpoint::Read(fd, &h));
      uint8_t reply[qdev_frame::kHeaderSize];
      qdev_frame::EncodeHeader(qdev_frame::OpenReplyHeader(0), reply);
      pollfd closed{fd, POLLIN, 0};  // until the client is gone
      for (size_t i = 0; i < sizeof reply && poll(&closed, 1, 500) == 0; ++i) {
        if (send(fd, reply + i, 1, MSG_NOSIGNAL) == 1) ++sent;
      }
    });
    EXPECT_EQ(Open("\\\\.\\QDev1"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SEM_TIMEOUT);
  }
  qdev_test::SetWaitScale(1);
  EXPECT_LT(sent.load(), qdev_frame::kHeaderSize);
}

}  // namespace
