// Device I/O against an endpoint: byte counts, data in both directions, time-outs, cancellation,
// late replies, a vanishing endpoint, share modes and the errors of opens.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_endpoint.h"
#include "platform/device_frame.h"
#include "platform/posix/test_endpoint.h"
#include "platform/test_facilities.h"
#include "platform/win32.h"

namespace {

using qdev::DeviceReply;
using qdev::DeviceRequest;
using qdev_testing::ScriptedHandler;
using qdev_testing::TempDeviceDir;

constexpr DWORD kCode = 0x22003E;
constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server_.AddDevice("QDev5", &handler_, &error)) << error;
    ASSERT_TRUE(server_.Start(&error)) << error;
  }
  void TearDown() override { qdev_test::SetTimeScale(1); }

  static HANDLE Open(DWORD share = 0, DWORD flags = FILE_FLAG_OVERLAPPED,
                     const char* name = "\\\\.\\QDev5") {
    return CreateFileA(name, kReadWrite, share, nullptr, OPEN_EXISTING, flags, nullptr);
  }

  // Starts an overlapped request; expects it to go pending.
  static void Issue(HANDLE device, OVERLAPPED* ov, std::vector<uint8_t>* out,
                    const std::vector<uint8_t>& in = Pattern(8, 1)) {
    DWORD returned = 0;
    ASSERT_FALSE(DeviceIoControl(device, kCode, const_cast<uint8_t*>(in.data()),
                                 static_cast<DWORD>(in.size()), out->data(),
                                 static_cast<DWORD>(out->size()), &returned, ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  }

  TempDeviceDir dir_;
  ScriptedHandler handler_;
  qdev::EndpointServer server_{dir_.path()};
};

// One request and the endpoint's answer to it.
struct TransferCase {
  const char* name;
  uint32_t inSize;
  uint32_t outSize;
  uint32_t replyData;    // bytes of data in the reply
  uint32_t information;  // byte count that the reply reports
  DWORD error;
};

const TransferCase kTransfers[] = {
    {"DeviceInfo", 0, 80, 80, 80, ERROR_SUCCESS},
    {"ReadBlock", 8, 4096, 4096, 4096, ERROR_SUCCESS},
    {"WriteBlock", 8, 256, 0, 256, ERROR_SUCCESS},
    {"NoData", 8, 0, 0, 0, ERROR_SUCCESS},
    {"ShortRead", 8, 64, 10, 10, ERROR_SUCCESS},
    {"OverlongReplyIsCut", 8, 16, 40, 16, ERROR_SUCCESS},
    {"Failed", 8, 32, 0, 0, ERROR_GEN_FAILURE},
    {"FailedWithCount", 8, 32, 4, 4, ERROR_SEM_TIMEOUT},
};

class TransferTest : public DeviceTest,
                     public ::testing::WithParamInterface<std::tuple<TransferCase, bool>> {};

TEST_P(TransferTest, DataAndCountArriveExactly) {
  const TransferCase& c = std::get<0>(GetParam());
  const bool overlapped = std::get<1>(GetParam());
  const std::vector<uint8_t> replyData = Pattern(c.replyData, 0xA0);
  handler_.SetAnswer([&](const DeviceRequest&, DeviceReply* reply) {
    reply->error = c.error;
    reply->information = c.information;
    reply->data = replyData;
    return true;
  });
  HANDLE device = Open(0, overlapped ? FILE_FLAG_OVERLAPPED : 0);
  ASSERT_NE(device, INVALID_HANDLE_VALUE);

  const std::vector<uint8_t> input = Pattern(c.inSize, 0x10);
  const std::vector<uint8_t> original = Pattern(c.outSize, 0x50);
  constexpr size_t kGuard = 8;  // bytes past the output size that nothing may touch
  std::vector<uint8_t> buffer = original;
  buffer.resize(c.outSize + kGuard, 0xEE);

  BOOL ok = FALSE;
  DWORD count = 0xDEAD;
  OVERLAPPED ov{};
  if (overlapped) {
    ov.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_FALSE(DeviceIoControl(device, kCode,
                                 c.inSize ? const_cast<uint8_t*>(input.data()) : nullptr, c.inSize,
                                 c.outSize ? buffer.data() : nullptr, c.outSize, nullptr, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_EQ(WaitForSingleObject(ov.hEvent, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(ov.InternalHigh, c.information);
    ok = GetOverlappedResult(device, &ov, &count, TRUE);
    EXPECT_TRUE(CloseHandle(ov.hEvent));
  } else {
    ok = DeviceIoControl(device, kCode, c.inSize ? const_cast<uint8_t*>(input.data()) : nullptr,
                         c.inSize, c.outSize ? buffer.data() : nullptr, c.outSize, &count, nullptr);
  }
  DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  EXPECT_EQ(ok != FALSE, c.error == ERROR_SUCCESS);
  EXPECT_EQ(error, c.error);
  EXPECT_EQ(count, c.information);

  // Both buffers reached the endpoint as they were.
  std::vector<DeviceRequest> requests = handler_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].ioControlCode, kCode);
  EXPECT_EQ(requests[0].input, input);
  EXPECT_EQ(requests[0].output, original);

  // The reply's data fills the start of the output buffer; nothing else changes.
  size_t copied = std::min<size_t>(c.replyData, c.outSize);
  std::vector<uint8_t> expected(replyData.begin(), replyData.begin() + copied);
  expected.insert(expected.end(), original.begin() + copied, original.end());
  expected.resize(c.outSize + kGuard, 0xEE);
  EXPECT_EQ(buffer, expected);
  EXPECT_TRUE(CloseHandle(device));
}

INSTANTIATE_TEST_SUITE_P(Cases, TransferTest,
                         ::testing::Combine(::testing::ValuesIn(kTransfers), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_Overlapped" : "_Blocking");
                         });

TEST_F(DeviceTest, UnansweredRequestTimesOutCancelsAndIgnoresItsLateReply) {
  qdev_test::SetTimeScale(50);
  std::atomic<uint64_t> firstConnection{0};
  std::atomic<uint32_t> firstId{0};
  handler_.SetAnswer([&](const DeviceRequest& r, DeviceReply* reply) {
    if (firstId == 0) {
      firstConnection = r.connection;
      firstId = r.id;
      return false;  // never answered in time
    }
    reply->information = static_cast<uint32_t>(r.output.size());
    reply->data.assign(r.output.size(), 0x11);
    return true;
  });
  HANDLE device = Open();
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::vector<uint8_t> stale(16, 0x00);
  Issue(device, &ov, &stale);

  uint64_t start = GetTickCount64();
  EXPECT_EQ(WaitForSingleObject(ov.hEvent, 5000), WAIT_TIMEOUT);
  EXPECT_GE(GetTickCount64() - start, 4999u);
  DWORD count = 0;
  EXPECT_FALSE(GetOverlappedResult(device, &ov, &count, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

  ASSERT_TRUE(CancelIo(device));
  EXPECT_EQ(WaitForSingleObject(ov.hEvent, 0), WAIT_OBJECT_0);
  EXPECT_FALSE(GetOverlappedResult(device, &ov, &count, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  EXPECT_EQ(count, 0u);
  ASSERT_TRUE(handler_.WaitForCancellations(1));
  EXPECT_EQ(handler_.cancelled()[0], std::make_pair(firstConnection.load(), firstId.load()));

  DeviceReply late;
  late.information = 16;
  late.data.assign(16, 0xFF);
  server_.Reply(firstConnection, firstId, late);

  std::vector<uint8_t> next(16, 0x00);
  Issue(device, &ov, &next);
  ASSERT_TRUE(GetOverlappedResult(device, &ov, &count, TRUE));
  EXPECT_EQ(count, 16u);
  EXPECT_EQ(next, std::vector<uint8_t>(16, 0x11));
  EXPECT_EQ(stale, std::vector<uint8_t>(16, 0x00));
  EXPECT_TRUE(CloseHandle(ov.hEvent));
  EXPECT_TRUE(CloseHandle(device));
}

TEST_F(DeviceTest, CancelIoCancelsOnlyTheCallingThreadsRequests) {
  handler_.SetAnswer([](const DeviceRequest&, DeviceReply*) { return false; });
  HANDLE device = Open();
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  OVERLAPPED ov{};
  std::vector<uint8_t> out(4);
  std::thread([&] { Issue(device, &ov, &out); }).join();
  ASSERT_TRUE(handler_.WaitForRequests(1));

  ASSERT_TRUE(CancelIo(device));
  DWORD count = 0;
  EXPECT_FALSE(GetOverlappedResult(device, &ov, &count, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

  // Closing the handle cancels whatever is still pending, whoever issued it.
  EXPECT_TRUE(CloseHandle(device));
  EXPECT_EQ(ov.Internal, ERROR_OPERATION_ABORTED);
  EXPECT_TRUE(handler_.WaitForCancellations(1));
}

TEST_F(DeviceTest, WaitingForTheResultBlocksUntilTheReply) {
  handler_.SetAnswer([](const DeviceRequest&, DeviceReply*) { return false; });
  HANDLE device = Open();
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  OVERLAPPED ov{};  // no event: GetOverlappedResult still waits for the completion
  std::vector<uint8_t> out(6, 0);
  Issue(device, &ov, &out);
  ASSERT_TRUE(handler_.WaitForRequests(1));
  DeviceRequest request = handler_.requests()[0];
  std::thread replier([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    server_.Reply(request.connection, request.id, DeviceReply{0, 3, {7, 8, 9}});
  });
  DWORD count = 0;
  EXPECT_TRUE(GetOverlappedResult(device, &ov, &count, TRUE));
  replier.join();
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(out, (std::vector<uint8_t>{7, 8, 9, 0, 0, 0}));
  EXPECT_TRUE(CloseHandle(device));
}

TEST_F(DeviceTest, ConcurrentRequestsEachGetTheirOwnReply) {
  // Every request is answered late and out of order, with its input echoed.
  std::atomic<bool> done{false};
  handler_.SetAnswer([](const DeviceRequest&, DeviceReply*) { return false; });
  std::thread replier([&] {
    size_t answered = 0;
    while (!done) {
      std::vector<DeviceRequest> all = handler_.requests();
      for (size_t i = all.size(); i > answered; --i) {
        const DeviceRequest& r = all[i - 1];
        server_.Reply(r.connection, r.id,
                      DeviceReply{0, static_cast<uint32_t>(r.input.size()), r.input});
      }
      answered = all.size();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  HANDLE device = Open();
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 4; ++t) {
    clients.emplace_back([&, t] {
      OVERLAPPED ov{};
      ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      for (int i = 0; i < 25; ++i) {
        std::vector<uint8_t> in = Pattern(12, static_cast<uint8_t>(t * 40 + i));
        std::vector<uint8_t> out(12, 0);
        DWORD count = 0;
        DeviceIoControl(device, kCode, in.data(), 12, out.data(), 12, nullptr, &ov);
        if (WaitForSingleObject(ov.hEvent, 5000) != WAIT_OBJECT_0 ||
            !GetOverlappedResult(device, &ov, &count, TRUE) || count != 12 || out != in) {
          ++mismatches;
        }
      }
      CloseHandle(ov.hEvent);
    });
  }
  for (auto& c : clients) c.join();
  done = true;
  replier.join();
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(handler_.requests().size(), 100u);
  EXPECT_TRUE(CloseHandle(device));
}

enum class Loss { kDropConnections, kStop };

class EndpointLossTest : public DeviceTest, public ::testing::WithParamInterface<Loss> {};

TEST_P(EndpointLossTest, PendingRequestFailsAndLaterOnesFailAtOnce) {
  handler_.SetAnswer([](const DeviceRequest&, DeviceReply*) { return false; });
  HANDLE device = Open();
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::vector<uint8_t> out(8);
  Issue(device, &ov, &out);
  ASSERT_TRUE(handler_.WaitForRequests(1));

  if (GetParam() == Loss::kDropConnections) {
    server_.DropConnections("QDev5");
  } else {
    server_.Stop();
  }
  EXPECT_EQ(WaitForSingleObject(ov.hEvent, 5000), WAIT_OBJECT_0);
  DWORD count = 1;
  EXPECT_FALSE(GetOverlappedResult(device, &ov, &count, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(handler_.WaitForCancellations(1));

  EXPECT_FALSE(DeviceIoControl(device, kCode, nullptr, 0, out.data(), 8, nullptr, &ov));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_TRUE(CloseHandle(ov.hEvent));
  EXPECT_TRUE(CloseHandle(device));

  // A dropped device can be opened again; a stopped one is gone.
  HANDLE again = Open();
  if (GetParam() == Loss::kDropConnections) {
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(again));
  } else {
    EXPECT_EQ(again, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  }
}

INSTANTIATE_TEST_SUITE_P(Ways, EndpointLossTest,
                         ::testing::Values(Loss::kDropConnections, Loss::kStop));

struct ShareCase {
  const char* name;
  DWORD firstAccess, firstShare;
  DWORD secondAccess, secondShare;
  DWORD error;  // of the second open
};

const ShareCase kShares[] = {
    {"ExclusiveThenExclusive", kReadWrite, 0, kReadWrite, 0, ERROR_SHARING_VIOLATION},
    {"SharedThenExclusive", kReadWrite, FILE_SHARE_READ | FILE_SHARE_WRITE, kReadWrite, 0,
     ERROR_SHARING_VIOLATION},
    {"ExclusiveThenShared", kReadWrite, 0, kReadWrite, FILE_SHARE_READ | FILE_SHARE_WRITE,
     ERROR_SHARING_VIOLATION},
    {"SharedThenShared", kReadWrite, FILE_SHARE_READ | FILE_SHARE_WRITE, kReadWrite,
     FILE_SHARE_READ | FILE_SHARE_WRITE, ERROR_SUCCESS},
    {"ReadersSharingReads", GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ,
     ERROR_SUCCESS},
    {"WriterAgainstReadShare", GENERIC_READ, FILE_SHARE_READ, kReadWrite,
     FILE_SHARE_READ | FILE_SHARE_WRITE, ERROR_SHARING_VIOLATION},
    {"NoAccessTakesNoPart", 0, 0, kReadWrite, 0, ERROR_SUCCESS},
};

class ShareTest : public DeviceTest, public ::testing::WithParamInterface<ShareCase> {};

TEST_P(ShareTest, SecondOpenFollowsTheShareModes) {
  const ShareCase& c = GetParam();
  HANDLE first = CreateFileA("\\\\.\\QDev5", c.firstAccess, c.firstShare, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  HANDLE second = CreateFileA("\\\\.\\QDev5", c.secondAccess, c.secondShare, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  if (c.error == ERROR_SUCCESS) {
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(second));
  } else {
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error);
  }
  // Once the first handle is closed, the device opens again at once.
  EXPECT_TRUE(CloseHandle(first));
  second = CreateFileA("\\\\.\\QDev5", c.secondAccess, c.secondShare, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(second));
}

INSTANTIATE_TEST_SUITE_P(Cases, ShareTest, ::testing::ValuesIn(kShares),
                         [](const auto& info) { return std::string(info.param.name); });

struct OpenCase {
  const char* name;
  const char* path;
  DWORD error;
};

const OpenCase kOpens[] = {
    {"NoEndpoint", "\\\\.\\QDev9", ERROR_FILE_NOT_FOUND},
    {"OtherNaming", "\\\\.\\QDevUsb5", ERROR_FILE_NOT_FOUND},
    {"Empty", "", ERROR_PATH_NOT_FOUND},
    {"PrefixOnly", "\\\\.\\", ERROR_PATH_NOT_FOUND},
    {"BelowADevice", "\\\\.\\QDev5\\x", ERROR_PATH_NOT_FOUND},
    {"PlainFile", "QDev5", ERROR_FILE_NOT_FOUND},
    {"FolderPath", "C:\\missing\\file", ERROR_PATH_NOT_FOUND},
};

class OpenTest : public DeviceTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenTest, FailsAsWindowsDoes) {
  SetLastError(0);
  EXPECT_EQ(Open(0, FILE_FLAG_OVERLAPPED, GetParam().path), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Names, OpenTest, ::testing::ValuesIn(kOpens),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadCall {
  const char* name;
  bool closedHandle;
  bool nullInput;
  bool nullOutput;
  bool bogusEvent;
  DWORD error;
};

const BadCall kBadCalls[] = {
    {"ClosedHandle", true, false, false, false, ERROR_INVALID_HANDLE},
    {"NullInputWithSize", false, true, false, false, ERROR_INVALID_PARAMETER},
    {"NullOutputWithSize", false, false, true, false, ERROR_INVALID_PARAMETER},
    {"BogusEvent", false, false, false, true, ERROR_INVALID_HANDLE},
};

class BadCallTest : public DeviceTest, public ::testing::WithParamInterface<BadCall> {};

TEST_P(BadCallTest, FailsAtOnceWithoutReachingTheEndpoint) {
  const BadCall& c = GetParam();
  HANDLE device = Open();
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  if (c.closedHandle) {
    ASSERT_TRUE(CloseHandle(device));
  }
  uint8_t in[8] = {};
  uint8_t out[8] = {};
  OVERLAPPED ov{};
  ov.hEvent = c.bogusEvent ? reinterpret_cast<HANDLE>(0x7FFF0) : nullptr;
  EXPECT_FALSE(DeviceIoControl(device, kCode, c.nullInput ? nullptr : in, 8,
                               c.nullOutput ? nullptr : out, 8, nullptr, &ov));
  EXPECT_EQ(GetLastError(), c.error);
  if (!c.closedHandle) {
    // The handle still works after the refused call.
    ov.hEvent = nullptr;
    std::vector<uint8_t> none;
    Issue(device, &ov, &none);
    DWORD count = 1;
    EXPECT_TRUE(GetOverlappedResult(device, &ov, &count, TRUE));
    EXPECT_TRUE(CloseHandle(device));
  }
  EXPECT_EQ(handler_.requests().size(), c.closedHandle ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadCallTest, ::testing::ValuesIn(kBadCalls),
                         [](const auto& info) { return std::string(info.param.name); });

// An endpoint written by hand, for what EndpointServer never does: answer a cancelled request,
// or send something that is not a frame.
class RawEndpoint {
 public:
  using Script = std::function<void(int connection)>;

  RawEndpoint(const std::string& folder, const char* name, Script script) {
    std::string path = folder + "/" + name;
    listener_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bound_ = bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
             listen(listener_, 1) == 0;
    thread_ = std::thread([this, script] {
      int connection = accept(listener_, nullptr, nullptr);
      if (connection < 0) return;
      script(connection);
      close(connection);
    });
  }
  ~RawEndpoint() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
  }
  bool bound() const { return bound_; }

  static bool Read(int fd, qdev_frame::Header* h, std::vector<uint8_t>* payload) {
    uint8_t head[qdev_frame::kHeaderSize];
    uint32_t size = 0;
    if (recv(fd, head, sizeof head, MSG_WAITALL) != sizeof head) return false;
    *h = qdev_frame::DecodeHeader(head);
    if (!qdev_frame::PayloadSize(*h, &size)) return false;
    payload->resize(size);
    return size == 0 || recv(fd, payload->data(), size, MSG_WAITALL) == ssize_t(size);
  }
  static void Write(int fd, const qdev_frame::Header& h, const std::vector<uint8_t>& payload) {
    uint8_t head[qdev_frame::kHeaderSize];
    qdev_frame::EncodeHeader(h, head);
    std::vector<uint8_t> frame(head, head + sizeof head);
    frame.insert(frame.end(), payload.begin(), payload.end());
    ASSERT_EQ(send(fd, frame.data(), frame.size(), MSG_NOSIGNAL), ssize_t(frame.size()));
  }
  static void Reply(int fd, uint32_t type, uint32_t id, uint32_t information,
                    const std::vector<uint8_t>& data) {
    Write(fd, {qdev_frame::kMagic, type, id, 0, information, static_cast<uint32_t>(data.size())},
          data);
  }

 private:
  int listener_ = -1;
  bool bound_ = false;
  std::thread thread_;
};

TEST(RawEndpointTest, LateReplyOfACancelledRequestIsDropped) {
  TempDeviceDir dir;
  RawEndpoint endpoint(dir.path(), "QDev1", [](int fd) {
    qdev_frame::Header h{};
    std::vector<uint8_t> payload;
    ASSERT_TRUE(RawEndpoint::Read(fd, &h, &payload));
    RawEndpoint::Reply(fd, qdev_frame::kOpenReply, 0, 0, {});
    ASSERT_TRUE(RawEndpoint::Read(fd, &h, &payload));
    const uint32_t first = h.id;
    ASSERT_TRUE(RawEndpoint::Read(fd, &h, &payload));
    EXPECT_EQ(h.type, qdev_frame::kCancel);
    EXPECT_EQ(h.id, first);
    // Answers the cancelled request anyway, then the next one.
    RawEndpoint::Reply(fd, qdev_frame::kReply, first, 4, {0xFF, 0xFF, 0xFF, 0xFF});
    ASSERT_TRUE(RawEndpoint::Read(fd, &h, &payload));
    EXPECT_NE(h.id, first);
    RawEndpoint::Reply(fd, qdev_frame::kReply, h.id, 4, {1, 2, 3, 4});
  });
  ASSERT_TRUE(endpoint.bound());
  HANDLE device = CreateFileA("\\\\.\\QDev1", kReadWrite, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  OVERLAPPED first{};
  std::vector<uint8_t> stale(4, 0);
  EXPECT_FALSE(DeviceIoControl(device, kCode, nullptr, 0, stale.data(), 4, nullptr, &first));
  ASSERT_TRUE(CancelIo(device));
  OVERLAPPED second{};
  std::vector<uint8_t> fresh(4, 0);
  EXPECT_FALSE(DeviceIoControl(device, kCode, nullptr, 0, fresh.data(), 4, nullptr, &second));
  DWORD count = 0;
  ASSERT_TRUE(GetOverlappedResult(device, &second, &count, TRUE));
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(fresh, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(stale, std::vector<uint8_t>(4, 0));
  EXPECT_EQ(first.Internal, ERROR_OPERATION_ABORTED);
  EXPECT_TRUE(CloseHandle(device));
}

TEST(RawEndpointTest, GarbledReplyEndsTheConnection) {
  TempDeviceDir dir;
  RawEndpoint endpoint(dir.path(), "QDev1", [](int fd) {
    qdev_frame::Header h{};
    std::vector<uint8_t> payload;
    ASSERT_TRUE(RawEndpoint::Read(fd, &h, &payload));
    RawEndpoint::Reply(fd, qdev_frame::kOpenReply, 0, 0, {});
    ASSERT_TRUE(RawEndpoint::Read(fd, &h, &payload));
    RawEndpoint::Write(fd, {0x12345678, qdev_frame::kReply, h.id, 0, 0, 0}, {});
    RawEndpoint::Read(fd, &h, &payload);  // until the client hangs up
  });
  ASSERT_TRUE(endpoint.bound());
  HANDLE device = CreateFileA("\\\\.\\QDev1", kReadWrite, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  OVERLAPPED ov{};
  uint8_t out[4] = {};
  EXPECT_FALSE(DeviceIoControl(device, kCode, nullptr, 0, out, 4, nullptr, &ov));
  DWORD count = 0;
  EXPECT_FALSE(GetOverlappedResult(device, &ov, &count, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_TRUE(CloseHandle(device));
}

TEST(RawEndpointTest, EndpointThatHangsUpBeforeAnsweringTheOpen) {
  TempDeviceDir dir;
  RawEndpoint endpoint(dir.path(), "QDev1", [](int) {});
  ASSERT_TRUE(endpoint.bound());
  EXPECT_EQ(CreateFileA("\\\\.\\QDev1", kReadWrite, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                        nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
