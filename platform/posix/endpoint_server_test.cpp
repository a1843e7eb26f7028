// The endpoint server: refusing names it cannot serve (one served already, in any case) without
// disturbing what is there, replacing stale sockets, removing its own sockets on Stop, and
// handling a large batch of frames that arrives at once without holding up other clients.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <future>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/device_endpoint.h"
#include "platform/device_frame.h"
#include "platform/testing/posix/test_endpoint.h"
#include "platform/win32.h"

namespace {

using qdev_test::ScriptedHandler;
using qdev_test::TempDeviceDir;
namespace fs = std::filesystem;

HANDLE Open(const std::string& name) {
  return CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

// One blocking request with 4 bytes of output; the byte count, or -1 on failure.
long Request(HANDLE device) {
  uint8_t out[4] = {};
  DWORD count = 0;
  if (!DeviceIoControl(device, 0x220012, nullptr, 0, out, 4, &count, nullptr)) return -1;
  return static_cast<long>(count);
}

enum class Setup { kNothing, kRegularFile, kServedHere, kServedElsewhere, kLongFolder };

struct AddCase {
  const char* name;
  std::string device;
  Setup setup;
  const char* reasonPart;        // a piece of the one-line reason
  const char* served = nullptr;  // the name served first, when not `device`
};

const AddCase kRefusals[] = {
    {"NameWithSlash", "a/b", Setup::kNothing, "cannot name a socket"},
    {"Twice", "QDev5", Setup::kServedHere, "already served by this server"},
    {"RegularFile", "QDev5", Setup::kRegularFile, "is not a socket"},
    {"LiveServer", "QDev5", Setup::kServedElsewhere, "already served at"},
    // Names that differ only in case are one device.
    {"TwiceInOtherCase", "qdev5", Setup::kServedHere, "served by this server as \"QDev5\"",
     "QDev5"},
    {"LiveServerInOtherCase", "QDEV5", Setup::kServedElsewhere, "served as \"QDev5\"", "QDev5"},
    {"PathTooLong", "QDev5", Setup::kLongFolder, "longer than 107 bytes"},
};

class AddDeviceTest : public ::testing::TestWithParam<AddCase> {};

TEST_P(AddDeviceTest, RefusesWithAReasonAndLeavesWhatWasThere) {
  const AddCase& c = GetParam();
  TempDeviceDir dir;
  ScriptedHandler handler;
  std::string folder = dir.path();
  if (c.setup == Setup::kLongFolder) folder += "/" + std::string(100, 'd');
  if (c.setup == Setup::kRegularFile) std::ofstream(folder + "/" + c.device) << "x";
  const bool served = c.setup == Setup::kServedHere || c.setup == Setup::kServedElsewhere;
  qdev::EndpointServer first(folder), second(folder);
  std::string error;
  if (served) {
    ASSERT_TRUE(first.AddDevice(c.served ? c.served : c.device, &handler, &error)) << error;
    ASSERT_TRUE(first.Start(&error)) << error;
  }
  qdev::EndpointServer& server = c.setup == Setup::kServedHere ? first : second;
  EXPECT_FALSE(server.AddDevice(c.device, &handler, &error));
  EXPECT_NE(error.find(c.reasonPart), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);

  EXPECT_TRUE(c.setup != Setup::kRegularFile || fs::exists(folder + "/" + c.device));
  if (served) {
    HANDLE device = Open(c.device);
    EXPECT_EQ(Request(device), 0);  // still served as before
    EXPECT_TRUE(CloseHandle(device));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, AddDeviceTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EndpointServerTest, ReplacesStaleSocketsAndRemovesItsOwnOnStop) {
  TempDeviceDir dir;
  const std::string path = dir.path() + "/QDev3", otherCase = dir.path() + "/qDev3";
  for (const std::string& stale : {path, otherCase}) {
    close(qdev_test::BindUnixSocket(stale));  // a socket nobody serves, as a crash leaves it
    ASSERT_TRUE(fs::exists(stale));
  }
  EXPECT_EQ(Open("QDev3"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  ScriptedHandler handler;
  qdev::EndpointServer server(dir.path());
  std::string error;
  ASSERT_TRUE(server.AddDevice("QDev3", &handler, &error)) << error;
  ASSERT_TRUE(server.Start(&error)) << error;
  EXPECT_FALSE(server.Start(&error));
  EXPECT_FALSE(fs::exists(otherCase));
  HANDLE device = Open("QDev3");
  EXPECT_EQ(Request(device), 0);
  EXPECT_TRUE(CloseHandle(device));

  server.Stop();
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(Open("QDev3"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// A client of the endpoint written by hand: it connects, opens, and sends frames as it likes.
class RawClient {
 public:
  explicit RawClient(const std::string& path) : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const timeval limit{10, 0};  // a reply that never comes fails the test instead of hanging it
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    uint8_t head[qdev_frame::kHeaderSize];
    qdev_frame::EncodeHeader(qdev_frame::OpenHeader(GENERIC_READ, FILE_SHARE_READ), head);
    Send(std::vector<uint8_t>(head, head + sizeof head));
    EXPECT_EQ(recv(fd_, head, sizeof head, MSG_WAITALL), ssize_t(sizeof head));
    EXPECT_EQ(qdev_frame::DecodeHeader(head).reply.error, 0u);
  }
  ~RawClient() { close(fd_); }

  // Cancels of requests long gone, then a request whose input is `tag`, in one write; `whole`: the
  // socket must take it whole at once.
  void Send(size_t cancels, uint32_t id, uint8_t tag, bool whole = true) {
    std::vector<uint8_t> frames((cancels + 1) * qdev_frame::kHeaderSize + 5);
    for (size_t i = 0; i < cancels; ++i) {
      qdev_frame::EncodeHeader(qdev_frame::CancelHeader(static_cast<uint32_t>(i)),
                               frames.data() + i * qdev_frame::kHeaderSize);
    }
    const uint8_t input[1] = {tag};
    const uint8_t output[4] = {};
    qdev_frame::EncodeRequest(id, 0x220012, input, 1, output, 4,
                              frames.data() + cancels * qdev_frame::kHeaderSize);
    Send(frames, whole);
  }
  // The reply's header, or a header of type 0 when none came.
  qdev_frame::Header Reply() {
    uint8_t reply[qdev_frame::kHeaderSize + 4];
    if (recv(fd_, reply, sizeof reply, MSG_WAITALL) != ssize_t(sizeof reply)) return {};
    return qdev_frame::DecodeHeader(reply);
  }

 private:
  void Send(const std::vector<uint8_t>& bytes, bool whole = true) {
    EXPECT_EQ(send(fd_, bytes.data(), bytes.size(), whole ? MSG_DONTWAIT : 0),
              ssize_t(bytes.size()));
  }
  int fd_;
};

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The request tagged 0xC0 is answered only once the test lets it go.
    handler_.SetAnswer([this](const qdev::DeviceRequest& request, qdev::DeviceReply* reply) {
      if (request.input.at(0) == 0xC0) held_.wait();
      *reply = qdev::DeviceReply{0, 4, {request.input[0], 0, 0, 0}};
      return true;
    });
    std::string error;
    ASSERT_TRUE(server_.AddDevice("QDev2", &handler_, &error)) << error;
    ASSERT_TRUE(server_.Start(&error)) << error;
  }
  std::string Path() const { return dir_.path() + "/QDev2"; }
  std::vector<uint8_t> Tags() {
    std::vector<uint8_t> tags;
    for (const qdev::DeviceRequest& r : handler_.requests()) tags.push_back(r.input.at(0));
    return tags;
  }

  TempDeviceDir dir_;
  ScriptedHandler handler_;
  std::promise<void> release_;
  std::shared_future<void> held_ = release_.get_future().share();
  qdev::EndpointServer server_{dir_.path()};
};

// Thousands of frames in one write (cancels of requests long gone, then a request), read in many
// pieces cut anywhere: the request is answered.
TEST_F(BatchTest, HandlesABatchOfFramesSentAtOnce) {
  release_.set_value();
  RawClient client(Path());
  client.Send(16000, 99, 5, false);
  const qdev_frame::Header h = client.Reply();
  EXPECT_EQ(h.type, qdev_frame::kReply);
  EXPECT_EQ(h.id, 99u);
  EXPECT_EQ(Tags(), std::vector<uint8_t>{5});
}

// While the server is busy, one client queues a long batch before its request and another a lone
// request. Once the server is free, the lone request does not wait for the whole batch.
TEST_F(BatchTest, ALongBatchDoesNotHoldUpAnotherClient) {
  RawClient busy(Path()), batch(Path()), lone(Path());
  busy.Send(0, 1, 0xC0);
  ASSERT_TRUE(handler_.WaitForRequests(1));
  batch.Send(4000, 2, 0xBA);  // 96 kB of cancels: more than one read
  lone.Send(0, 3, 0x10);
  release_.set_value();
  EXPECT_EQ(busy.Reply().id, 1u);
  EXPECT_EQ(lone.Reply().id, 3u);
  EXPECT_EQ(batch.Reply().id, 2u);
  EXPECT_EQ(Tags(), (std::vector<uint8_t>{0xC0, 0x10, 0xBA}));
}

}  // namespace
