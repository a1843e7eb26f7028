// The endpoint server: refusing names it cannot serve (one served already, in any case) without
// disturbing what is there, replacing stale sockets, removing its own sockets on Stop, and
// handling a large batch of frames that arrives at once.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

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

// A client that sends thousands of frames in one write (cancels of requests long gone, then a
// request) gets its request answered; the frames arrive in many reads, cut anywhere.
TEST(EndpointServerTest, HandlesABatchOfFramesSentAtOnce) {
  TempDeviceDir dir;
  ScriptedHandler handler;
  handler.SetAnswer([](const qdev::DeviceRequest& request, qdev::DeviceReply* reply) {
    *reply = qdev::DeviceReply{0, 3, {1, 2, static_cast<uint8_t>(request.input.size())}};
    return true;
  });
  qdev::EndpointServer server(dir.path());
  std::string error;
  ASSERT_TRUE(server.AddDevice("QDev2", &handler, &error)) << error;
  ASSERT_TRUE(server.Start(&error)) << error;

  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, (dir.path() + "/QDev2").c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  uint8_t head[qdev_frame::kHeaderSize];
  qdev_frame::EncodeHeader(qdev_frame::OpenHeader(GENERIC_READ, 0), head);
  ASSERT_EQ(send(fd, head, sizeof head, 0), ssize_t(sizeof head));
  ASSERT_EQ(recv(fd, head, sizeof head, MSG_WAITALL), ssize_t(sizeof head));
  EXPECT_EQ(qdev_frame::DecodeHeader(head).reply.error, 0u);

  constexpr size_t kCancels = 16000;
  const uint8_t input[5] = {};
  const uint8_t output[4] = {};
  std::vector<uint8_t> batch((kCancels + 1) * qdev_frame::kHeaderSize + 9);
  for (size_t i = 0; i < kCancels; ++i) {
    qdev_frame::EncodeHeader(qdev_frame::CancelHeader(static_cast<uint32_t>(i)),
                             batch.data() + i * qdev_frame::kHeaderSize);
  }
  qdev_frame::EncodeRequest(99, 0x220012, input, 5, output, 4,
                            batch.data() + kCancels * qdev_frame::kHeaderSize);
  ASSERT_EQ(send(fd, batch.data(), batch.size(), 0), ssize_t(batch.size()));

  uint8_t reply[qdev_frame::kHeaderSize + 3];
  ASSERT_EQ(recv(fd, reply, sizeof reply, MSG_WAITALL), ssize_t(sizeof reply));
  const qdev_frame::Header h = qdev_frame::DecodeHeader(reply);
  EXPECT_EQ(h.type, qdev_frame::kReply);
  EXPECT_EQ(h.id, 99u);
  EXPECT_EQ(h.reply.information, 3u);
  EXPECT_EQ(reply[qdev_frame::kHeaderSize + 2], 5);
  EXPECT_EQ(handler.requests().size(), 1u);
  close(fd);
}

}  // namespace
