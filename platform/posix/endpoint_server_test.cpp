// The endpoint server: publishing devices (folders, stale and live sockets, bad names), serving
// several devices, dropping one device's connections, and cleaning up on Stop.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/device_endpoint.h"
#include "platform/posix/test_endpoint.h"
#include "platform/win32.h"

namespace {

using qdev::DeviceReply;
using qdev::DeviceRequest;
using qdev_testing::ScriptedHandler;
using qdev_testing::TempDeviceDir;

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Leaves a socket file that nobody serves, as a crashed server would.
void MakeStaleSocket(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
}

HANDLE Open(const std::string& name) {
  std::string path = "\\\\.\\" + name;
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

// One blocking request with 4 bytes of output; the byte count, or -1 on failure.
long Request(HANDLE device) {
  uint8_t out[4] = {};
  DWORD count = 0;
  if (!DeviceIoControl(device, 0x220012, nullptr, 0, out, 4, &count, nullptr)) return -1;
  return static_cast<long>(count);
}

enum class Setup { kNothing, kSameServerTwice, kRegularFile, kLiveElsewhere, kLongFolder };

struct AddCase {
  const char* name;
  std::string device;
  Setup setup;
  const char* reasonPart;  // a piece of the one-line reason
};

const AddCase kRefusals[] = {
    {"EmptyName", "", Setup::kNothing, "cannot name a socket"},
    {"NameWithSlash", "a/b", Setup::kNothing, "cannot name a socket"},
    {"DotDot", "..", Setup::kNothing, "cannot name a socket"},
    {"Twice", "QDev5", Setup::kSameServerTwice, "already served by this server"},
    {"RegularFile", "QDev5", Setup::kRegularFile, "is not a socket"},
    {"LiveServer", "QDev5", Setup::kLiveElsewhere, "already served at"},
    {"PathTooLong", "QDev5", Setup::kLongFolder, "longer than 107 bytes"},
};

class AddDeviceTest : public ::testing::TestWithParam<AddCase> {};

TEST_P(AddDeviceTest, RefusesWithAReason) {
  const AddCase& c = GetParam();
  TempDeviceDir dir;
  ScriptedHandler handler;
  std::string folder = dir.path();
  if (c.setup == Setup::kLongFolder) folder += "/" + std::string(100, 'd');
  qdev::EndpointServer other(folder);
  std::string error;
  if (c.setup == Setup::kLiveElsewhere) {
    ASSERT_TRUE(other.AddDevice(c.device, &handler, &error)) << error;
    ASSERT_TRUE(other.Start(&error)) << error;
  }
  if (c.setup == Setup::kRegularFile) std::ofstream(folder + "/" + c.device) << "x";

  qdev::EndpointServer server(folder);
  if (c.setup == Setup::kSameServerTwice) {
    ASSERT_TRUE(server.AddDevice(c.device, &handler, &error)) << error;
  }
  EXPECT_FALSE(server.AddDevice(c.device, &handler, &error));
  EXPECT_NE(error.find(c.reasonPart), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);

  // What was there before is still there and still served.
  if (c.setup == Setup::kLiveElsewhere) {
    HANDLE device = Open(c.device);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Request(device), 0);
    EXPECT_TRUE(CloseHandle(device));
  }
  if (c.setup == Setup::kRegularFile) {
    EXPECT_TRUE(Exists(folder + "/" + c.device));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, AddDeviceTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EndpointServerTest, ReplacesAStaleSocketAndRemovesItsOwnOnStop) {
  TempDeviceDir dir;
  const std::string path = dir.path() + "/QDev3";
  MakeStaleSocket(path);
  EXPECT_EQ(Open("QDev3"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  ScriptedHandler handler;
  qdev::EndpointServer server(dir.path());
  std::string error;
  ASSERT_TRUE(server.AddDevice("QDev3", &handler, &error)) << error;
  ASSERT_TRUE(server.Start(&error)) << error;
  EXPECT_FALSE(server.Start(&error));
  HANDLE device = Open("QDev3");
  ASSERT_NE(device, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Request(device), 0);
  EXPECT_TRUE(CloseHandle(device));

  server.Stop();
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(Open("QDev3"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(EndpointServerTest, CreatesAMissingFolderAndServesDevicesAddedAfterStart) {
  TempDeviceDir dir;
  const std::string folder = dir.path() + "/a/b";
  setenv("QDEV_DEVICE_DIR", folder.c_str(), 1);
  ScriptedHandler first, second;
  first.SetAnswer([](const DeviceRequest&, DeviceReply* r) {
    r->information = 1;
    return true;
  });
  second.SetAnswer([](const DeviceRequest&, DeviceReply* r) {
    r->information = 2;
    return true;
  });
  qdev::EndpointServer server;  // the folder comes from the environment
  EXPECT_EQ(server.DeviceDir(), folder);
  std::string error;
  ASSERT_TRUE(server.AddDevice("QDev0", &first, &error)) << error;
  ASSERT_TRUE(server.Start(&error)) << error;
  ASSERT_TRUE(server.AddDevice("QDevUsb0", &second, &error)) << error;

  HANDLE a = Open("QDev0");
  HANDLE b = Open("QDevUsb0");
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  ASSERT_NE(b, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Request(a), 1);
  EXPECT_EQ(Request(b), 2);

  // Dropping one device leaves the other served.
  server.DropConnections("QDev0");
  EXPECT_EQ(Request(a), -1);
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(Request(b), 2);
  EXPECT_TRUE(CloseHandle(a));
  EXPECT_TRUE(CloseHandle(b));
}

}  // namespace
