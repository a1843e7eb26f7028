// The endpoint server on Windows, spoken to on its pipes as the kernel driver speaks to it, for
// what the end-to-end runs through the driver stand-in cannot show: the driver cuts reply data
// itself and never sends a cancel, and no run ends a connection, drops one, or stops the server
// right after a reply. Pipe names carry this process's id, so they never meet the driver's.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_endpoint.h"
#include "platform/device_frame.h"
#include "platform/win32.h"

namespace {

using qdev_frame::Header;

constexpr DWORD kWaitMs = 5000;
constexpr uint32_t kAnswered = 1;  // I/O-control codes that tell the handler what to do
constexpr uint32_t kRefused = 2;
constexpr uint32_t kUnanswered = 3;

std::string Prefix() {
  return "\\\\.\\pipe\\r4690-endpoint-test-" + std::to_string(GetCurrentProcessId()) + "-";
}

// Answers by I/O-control code; `onRequest` runs first.
class Handler : public qdev::DeviceHandler {
 public:
  bool Handle(const qdev::DeviceRequest& request, qdev::DeviceReply* reply) override {
    if (onRequest) onRequest();
    reply->error = request.ioControlCode == kRefused ? ERROR_GEN_FAILURE : 0;
    reply->information = request.ioControlCode == kAnswered ? 3 : 0;
    if (request.ioControlCode == kAnswered) reply->data = {1, 2, 3, 4, 5, 6};
    return request.ioControlCode != kUnanswered;
  }
  std::function<void()> onRequest;
};

enum class Got { kFrame, kBroken, kTimeout };
struct Frame {
  Got got = Got::kTimeout;
  Header header{};
  std::vector<uint8_t> data;
};

// The driver's end of one pipe: frames out, frames in, with a time limit on every wait.
class Driver {
 public:
  explicit Driver(const std::string& path) {
    // Until the server has taken its pipe back after the last connection.
    for (DWORD waited = 0; pipe_ == INVALID_HANDLE_VALUE && waited < kWaitMs; waited += 10) {
      pipe_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr);
      if (pipe_ == INVALID_HANDLE_VALUE) Sleep(10);
    }
  }
  ~Driver() {
    if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
  }
  bool connected() const { return pipe_ != INVALID_HANDLE_VALUE; }

  bool Send(uint32_t type, uint32_t id, uint32_t code, std::vector<uint8_t> output = {},
            uint32_t magic = qdev_frame::kMagic) {
    const std::vector<uint8_t> input = {9, 8};
    std::vector<uint8_t> frame(qdev_frame::kHeaderSize);
    Header header;
    header.magic = magic;
    header.type = type;
    header.id = id;
    header.request = {code, type == qdev_frame::kRequest ? 2u : 0u,
                      static_cast<uint32_t>(output.size())};
    qdev_frame::EncodeHeader(header, frame.data());
    if (type == qdev_frame::kRequest) frame.insert(frame.end(), input.begin(), input.end());
    frame.insert(frame.end(), output.begin(), output.end());
    DWORD written = 0;
    return WriteFile(pipe_, frame.data(), static_cast<DWORD>(frame.size()), &written, nullptr) &&
           written == frame.size();
  }

  Frame Receive() {
    Frame f;
    uint8_t raw[qdev_frame::kHeaderSize];
    if ((f.got = Exactly(raw, sizeof raw)) != Got::kFrame) return f;
    f.header = qdev_frame::DecodeHeader(raw);
    f.data.resize(f.header.reply.dataSize);
    if (!f.data.empty()) f.got = Exactly(f.data.data(), f.header.reply.dataSize);
    return f;
  }

 private:
  Got Exactly(uint8_t* p, DWORD n) {
    DWORD available = 0;
    for (DWORD waited = 0; available < n; waited += 5) {
      if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr)) return Got::kBroken;
      if (available < n && waited >= kWaitMs) return Got::kTimeout;
      if (available < n) Sleep(5);
    }
    DWORD read = 0;
    return ReadFile(pipe_, p, n, &read, nullptr) && read == n ? Got::kFrame : Got::kBroken;
  }

  HANDLE pipe_ = INVALID_HANDLE_VALUE;
};

class EndpointServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server_.AddDevice("QDev5", &handler_, &error)) << error;
    ASSERT_TRUE(server_.Start(&error)) << error;
  }

  // One request answered on the driver's connection, or on a fresh one.
  static void ExpectServedOn(Driver* driver) {
    ASSERT_TRUE(driver->Send(qdev_frame::kRequest, 41, kRefused));
    const Frame f = driver->Receive();
    ASSERT_EQ(f.got, Got::kFrame);
    EXPECT_EQ(f.header.id, 41u);
  }
  void ExpectServed() {
    Driver driver(path_);
    ASSERT_TRUE(driver.connected());
    ExpectServedOn(&driver);
  }

  Handler handler_;
  qdev::EndpointServer server_{Prefix()};
  const std::string path_ = Prefix() + "QDev5";
};

TEST_F(EndpointServerTest, RepliesWithDataCutToTheOutputSizeAndNothingForTheUnanswered) {
  Driver driver(path_);
  ASSERT_TRUE(driver.connected());
  ASSERT_TRUE(driver.Send(qdev_frame::kRequest, 7, kUnanswered));
  ASSERT_TRUE(driver.Send(qdev_frame::kCancel, 7, 0));  // ignored: nothing to withdraw
  ASSERT_TRUE(driver.Send(qdev_frame::kRequest, 8, kAnswered, {5, 6, 7, 8}));
  ASSERT_TRUE(driver.Send(qdev_frame::kRequest, 9, kRefused, {0, 0}));

  Frame f = driver.Receive();  // nothing for 7: the first reply is 8's
  ASSERT_EQ(f.got, Got::kFrame);
  EXPECT_EQ(f.header.magic, qdev_frame::kMagic);
  EXPECT_EQ(f.header.type, qdev_frame::kReply);
  EXPECT_EQ(f.header.id, 8u);
  EXPECT_EQ(f.header.reply.error, 0u);  // error
  EXPECT_EQ(f.header.reply.information, 3u);  // information, as the handler said
  EXPECT_EQ(f.data, (std::vector<uint8_t>{1, 2, 3, 4}));
  f = driver.Receive();
  ASSERT_EQ(f.got, Got::kFrame);
  EXPECT_EQ(f.header.id, 9u);
  EXPECT_EQ(f.header.reply.error, ERROR_GEN_FAILURE);
  EXPECT_TRUE(f.data.empty());
}

// However a connection ends, the driver sees its pipe break, and the pipe takes the next one.
TEST_F(EndpointServerTest, AConnectionThatEndsLeavesThePipeForTheNext) {
  const struct {
    const char* name;
    bool drop;  // else: send this frame
    uint32_t type, magic;
  } rows[] = {
      {"Dropped", true, 0, 0},
      {"OpenFrame", false, qdev_frame::kOpen, qdev_frame::kMagic},
      {"BadMagic", false, qdev_frame::kRequest, 0x12345678},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    {
      Driver driver(path_);
      ASSERT_TRUE(driver.connected());
      if (row.drop) {
        ExpectServedOn(&driver);
        server_.DropConnections("QDev5");
      } else {
        ASSERT_TRUE(driver.Send(row.type, 1, kAnswered, {}, row.magic));
      }
      EXPECT_EQ(driver.Receive().got, Got::kBroken);
    }
    ExpectServed();
  }
}

// As at a simulated power loss: a handler has the server stopped from another thread, and its
// reply still arrives before the pipe breaks and the name goes.
TEST_F(EndpointServerTest, AReplySentAsTheServerStopsStillArrives) {
  std::thread stopper;
  std::atomic<bool> stopping{false};
  handler_.onRequest = [&] {
    stopper = std::thread([&] { server_.Stop(); });
    stopping = true;
  };
  Driver driver(path_);
  ASSERT_TRUE(driver.connected());
  ASSERT_TRUE(driver.Send(qdev_frame::kRequest, 5, kAnswered, {0, 0, 0, 0, 0, 0}));
  for (DWORD waited = 0; !stopping && waited < kWaitMs; waited += 5) Sleep(5);
  ASSERT_TRUE(stopping);
  stopper.join();  // the server has stopped and closed its pipe

  const Frame f = driver.Receive();
  ASSERT_EQ(f.got, Got::kFrame);
  EXPECT_EQ(f.header.id, 5u);
  EXPECT_EQ(f.data, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(driver.Receive().got, Got::kBroken);
  EXPECT_EQ(CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// Pipe names ignore case: a name served by this server or another, in any case, is refused.
TEST_F(EndpointServerTest, RefusesANameThatIsServedAndKeepsServingIt) {
  qdev::EndpointServer second(Prefix());
  for (const auto& [server, name] :
       {std::make_pair(&server_, "QDev5"), std::make_pair(&second, "QDev5"),
        std::make_pair(&second, "qDEV5")}) {
    SCOPED_TRACE(name);
    std::string error;
    EXPECT_FALSE(server->AddDevice(name, &handler_, &error));
    EXPECT_NE(error.find("already served at"), std::string::npos) << error;
    ExpectServed();
  }
}

}  // namespace
