// The endpoint server's contract (platform/device_endpoint.h), written once and run against both
// servers: the unix-socket server here, the named-pipe server under Wine
// (endpoint_server_tests.exe, scripts/test-windows). A connection speaks the frames of
// platform/device_frame.h to a device as its client there does: the platform's CreateFileA and
// DeviceIoControl, or the kernel driver. At the end, what only the unix-socket server shows.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_endpoint.h"
#include "platform/device_frame.h"
#include "platform/testing/endpoint_connection.h"
#include "platform/win32.h"

namespace {

using namespace qdev_test;

constexpr uint32_t kAnswered = 1;  // I/O-control codes that tell the handler what to do
constexpr uint32_t kRefused = 2;
constexpr uint32_t kUnanswered = 3;
constexpr uint32_t kHeld = 4;  // answered once the test releases it

template <typename Condition>
bool WaitUntil(Condition done) {
  for (DWORD waited = 0; !done() && waited < kConnectionWaitMs; waited += 5) Sleep(5);
  return done();
}

// Answers by I/O-control code and records the ids in the order it handled them.
class Handler : public qdev::DeviceHandler {
 public:
  bool Handle(const qdev::DeviceRequest& request, qdev::DeviceReply* reply) override {
    const uint32_t code = request.ioControlCode, refused = ERROR_GEN_FAILURE;
    {
      std::lock_guard<std::mutex> lock(mu_);
      ids_.push_back(request.id);
    }
    if (code == kHeld) {
      holding = true;
      WaitUntil([this] { return released.load(); });
    }
    *reply = {code == kRefused ? refused : 0, 0, {}};
    if (code == kAnswered || code == kHeld) *reply = {0, 3, {1, 2, 3, 4, 5, 6}};
    return code != kUnanswered;
  }
  std::vector<uint32_t> ids() {
    std::lock_guard<std::mutex> lock(mu_);
    return ids_;
  }
  std::atomic<bool> holding{false}, released{false};

 private:
  std::mutex mu_;
  std::vector<uint32_t> ids_;
};

class EndpointServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    for (const char* name : {"QDev5", "QDev6", "QDev7"}) {
      ASSERT_TRUE(server_.AddDevice(name, &handler_, &error)) << error;
    }
    ASSERT_TRUE(server_.Start(&error)) << error;
  }
  void TearDown() override { handler_.released = true; }

  std::string Path(const char* device = "QDev5") const { return place_.Path(device); }
  // One request answered on the connection, an open one or a fresh one.
  template <typename Connection>
  static void ExpectServed(Connection&& c) {
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.Send(Request(41, kRefused)));
    EXPECT_EQ(FrameBytes(c.Receive().header),
              FrameBytes(qdev_frame::ReplyHeader(41, ERROR_GEN_FAILURE, 0, 0)));
  }

  EndpointPlace place_;
  Handler handler_;
  qdev::EndpointServer server_{place_.dir};
};

// Thousands of frames in one write, read in many pieces cut anywhere, and the requests behind
// them: each answered request gets its reply, with no more data than its output buffer holds.
TEST_F(EndpointServerTest, RepliesAfterABatchWithDataCutToTheOutputSizeAndNothingForTheUnanswered) {
  EndpointConnection c(Path());
  ASSERT_TRUE(c.Send(Cancels(16000, Request(7, kUnanswered))));
  ASSERT_TRUE(c.Send(FrameBytes(qdev_frame::CancelHeader(7))));  // ignored: nothing to withdraw
  ASSERT_TRUE(c.Send(Request(8, kAnswered, {5, 6, 7, 8})));
  ASSERT_TRUE(c.Send(Request(9, kRefused, {0, 0})));

  // Nothing for 7: the first reply is 8's, with the byte count that the handler gave.
  const ReceivedFrame f = c.Receive();
  EXPECT_EQ(FrameBytes(f.header), FrameBytes(qdev_frame::ReplyHeader(8, 0, 3, 4)));
  EXPECT_EQ(f.data, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(FrameBytes(c.Receive().header),
            FrameBytes(qdev_frame::ReplyHeader(9, ERROR_GEN_FAILURE, 0, 0)));
}

// However a connection ends, its client sees the end, and the device takes the next one.
TEST_F(EndpointServerTest, AConnectionThatEndsLeavesTheDeviceForTheNext) {
  qdev_frame::Header badMagic = qdev_frame::RequestHeader(1, kAnswered, 0, 0);
  badMagic.magic = 0x12345678;
  const struct {
    const char* name;
    std::vector<uint8_t> frame;  // empty: the server drops the connection
  } rows[] = {
      {"Dropped", {}},
      {"OpenOutOfPlace", FrameBytes(qdev_frame::OpenHeader(GENERIC_READ, 0))},
      {"BadMagic", FrameBytes(badMagic)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    {
      EndpointConnection c(Path());
      ExpectServed(c);
      if (row.frame.empty()) server_.DropConnections("QDev5");
      ASSERT_TRUE(row.frame.empty() || c.Send(row.frame));
      EXPECT_EQ(c.Receive().got, Got::kBroken);
    }
    ExpectServed(EndpointConnection(Path()));
  }
}

// A client that closed its handle may leave frames behind it that the server has not read yet,
// here more than one read's worth, while the server is busy with another device: a new open of
// the device alone is granted all the same.
TEST_F(EndpointServerTest, AClosedConnectionLeavesTheDeviceHoweverItsLastFramesArrive) {
  auto closing = std::make_unique<EndpointConnection>(Path());
  ExpectServed(*closing);
  EndpointConnection busy(Path("QDev6"));
  ASSERT_TRUE(busy.Send(Request(1, kHeld)));
  ASSERT_TRUE(WaitUntil([this] { return handler_.holding.load(); }));
  ASSERT_TRUE(closing->Send(Cancels(64 * 1024 / qdev_frame::kHeaderSize + 2)));
  closing.reset();
  EndpointConnection reopened(Path());
  handler_.released = true;
  ExpectServed(reopened);
  EXPECT_EQ(busy.Receive().header.id, 1u);
}

// As at a simulated power loss: the server is stopped from another thread while a handler
// works, and the handler's reply still arrives before the connection ends and the device goes.
TEST_F(EndpointServerTest, AReplySentAsTheServerStopsStillArrives) {
  EndpointConnection c(Path());
  ASSERT_TRUE(c.Send(Request(5, kHeld, {0, 0, 0, 0, 0, 0})));
  ASSERT_TRUE(WaitUntil([this] { return handler_.holding.load(); }));
  std::thread stopper([this] { server_.Stop(); });
  Sleep(50);  // time for the stop to begin
  handler_.released = true;
  stopper.join();

  const ReceivedFrame f = c.Receive();
  ASSERT_EQ(f.got, Got::kFrame);
  EXPECT_EQ(f.header.id, 5u);
  EXPECT_EQ(f.data, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(c.Receive().got, Got::kBroken);
  EXPECT_FALSE(EndpointConnection(Path()).connected());
}

// Names that differ only in case are one device; a name served by this server or another is
// refused with a one-line reason, and stays served as it was. Without Windows a path that is not
// a socket, or too long for one, is refused too, and left as it is.
TEST_F(EndpointServerTest, RefusesANameThatIsServedAndKeepsServingIt) {
  qdev::EndpointServer second(place_.dir), longFolder(place_.dir + "/" + std::string(100, 'd'));
  const struct {
    qdev::EndpointServer* server;
    const char* name;
    const char* reason;  // a piece of it
  } rows[] = {
      {&server_, "QDev5", "already served"}, {&server_, "qdev5", "already served"},
      {&second, "QDev5", "already served"},  {&second, "qDEV5", "already served"},
      {&second, "a/b", "cannot name a"},
#ifndef _WIN32
      {&second, "QDev4", "is not a socket"}, {&longFolder, "QDev4", "longer than 107 bytes"},
#endif
  };
#ifndef _WIN32
  std::ofstream(Path("QDev4")) << "x";
#endif
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string error;
    EXPECT_FALSE(row.server->AddDevice(row.name, &handler_, &error));
    EXPECT_NE(error.find(row.reason), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    ExpectServed(EndpointConnection(Path()));
  }
}

#ifndef _WIN32
// One poll loop serves every connection: while the server is busy, one client queues a long batch
// before its request and another a lone request; once the server is free, the lone request does
// not wait for the whole batch.
TEST_F(EndpointServerTest, ALongBatchDoesNotHoldUpAnotherClient) {
  EndpointConnection busy(Path("QDev6")), batch(Path("QDev5")), lone(Path("QDev7"));
  ASSERT_TRUE(busy.Send(Request(1, kHeld)));
  ASSERT_TRUE(WaitUntil([this] { return handler_.holding.load(); }));
  ASSERT_TRUE(batch.Send(Cancels(4000, Request(2, kAnswered))));  // 96 kB: more than one read
  ASSERT_TRUE(lone.Send(Request(3, kAnswered)));
  handler_.released = true;
  EXPECT_EQ(busy.Receive().header.id, 1u);
  EXPECT_EQ(lone.Receive().header.id, 3u);
  EXPECT_EQ(batch.Receive().header.id, 2u);
  EXPECT_EQ(handler_.ids(), (std::vector<uint32_t>{1, 3, 2}));
}

// A socket nobody serves, as a crash leaves it, is replaced in any case of its name; Stop removes
// the sockets this server bound and leaves other files.
TEST_F(EndpointServerTest, ReplacesAStaleSocketAndRemovesItsOwnOnStop) {
  close(BindUnixSocket(Path("qDev3")));
  std::ofstream(Path("QDev4")) << "x";
  std::string error;
  ASSERT_TRUE(server_.AddDevice("QDev3", &handler_, &error)) << error;
  EXPECT_FALSE(server_.Start(&error));
  EXPECT_FALSE(std::filesystem::exists(Path("qDev3")));
  EndpointConnection c(Path("QDev3"));
  ExpectServed(c);
  server_.Stop();
  EXPECT_FALSE(std::filesystem::exists(Path("QDev3")));
  EXPECT_TRUE(std::filesystem::exists(Path("QDev4")));
}
#endif

}  // namespace
