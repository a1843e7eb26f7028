// A write that Ctrl-C cannot cut. The real r4690-update runs as a child process against the
// in-process simulator, whose request observer sends the child a signal while the module serves
// a chosen request: the child is then waiting for that request's reply, so the moment is exact.
// A signal that arrives while an image is being written is acknowledged on standard error at once
// and ends the child only when the whole image has reached the module and its OK line is printed,
// with a last line that says how to complete the update; at any other moment it ends the child at
// once, without a word.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "contract/driver_contract.h"
#include "platform/testing/posix/test_endpoint.h"
#include "sim/simulator.h"
#include "updater/messages.h"

namespace {

namespace dc = driver_contract;
namespace message = updater::message;

// A module whose MCU application (3.1) and PLD (3.0.6c) are both out of date: two MCU chunks and
// thirty PLD chunks are written.
constexpr char kScenario[] =
    R"({"modules":[{"application":"standin","applicationVersion":"3.1","bootFlash":"other"}]})";

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// How the child ends: the traffic record's last line (a part of it), the MCU and PLD write
// requests that reached the module, the end of its standard output, and whether the signal was
// kept back (the two stop lines on standard error).
struct Ending {
  const char* lastRequest;
  size_t mcuChunks, pldChunks;
  const char* outputEnd;
  bool held;
};

struct Row {
  const char* name;
  int signal;
  uint16_t request;  // the request while which the signal is sent ...
  uint32_t address;  // ... at this module address (Index << 16 | Value)
  int delayMs;       // 0: before the module's reply; otherwise this long after it
  Ending ending;
};

// While an image is written: the whole image reaches the module and is reported, then the signal
// ends the child before it sends another request.
constexpr Ending kAfterMcu = {"req=0x0D write value=0x1000 index=0x8300 addr=0x83001000 len=4096",
                              2, 0, message::kMcuFlashingOk, true};
constexpr Ending kAfterPld = {"req=0x0D write value=0xD000 index=0x9001 addr=0x9001D000 len=3695",
                              2, 30, message::kPldFlashingOk, true};
// Outside a write: the signal ends the child at once.
constexpr Ending kAtGradeRead = {"req=0x0E read value=0x0000 index=0x8C00 addr=0x8C000000 len=1", 0,
                                 0, message::kBootLoaderDescriptionOk, false};
constexpr Ending kAtReload = {"req=0x0C reloadPld value=0x0000 index=0x0000 len=0", 2, 30, "\r",
                              false};

const Row kRows[] = {
    {"IntInMcuWriteFirstChunk", SIGINT, dc::kRequestWrite, 0x83000000, 0, kAfterMcu},
    {"IntInPldWriteFirstChunk", SIGINT, dc::kRequestWrite, 0x90000000, 0, kAfterPld},
    {"IntInPldWriteLastChunk", SIGINT, dc::kRequestWrite, 0x9001D000, 0, kAfterPld},
    {"TermInPldWrite", SIGTERM, dc::kRequestWrite, 0x90008000, 0, kAfterPld},
    {"HupInPldWrite", SIGHUP, dc::kRequestWrite, 0x90008000, 0, kAfterPld},
    {"QuitInPldWrite", SIGQUIT, dc::kRequestWrite, 0x90008000, 0, kAfterPld},
    {"IntWhileGradeIsRead", SIGINT, dc::kRequestRead, 0x8C000000, 0, kAtGradeRead},
    {"IntInPldRestartWait", SIGINT, dc::kRequestReloadPld, 0, 500, kAtReload},
};

class WriteHoldTest : public ::testing::TestWithParam<Row> {};

TEST_P(WriteHoldTest, SignalEndsTheChildOnlyBetweenWrites) {
  const Row& row = GetParam();
  const qdev_test::TempDeviceDir dir;  // also the device folder
  const auto path = [&](const char* name) { return dir.path() + "/" + name; };
  sim::Simulator simulator;
  std::string error;
  ASSERT_TRUE(simulator.LoadScenario(kScenario, &error)) << error;

  // The child's shell writes its pid before it becomes the child.
  std::atomic<bool> fired{false};
  const auto sendSignal = [&] {
    if (const int pid = std::atoi(ReadFile(path("pid")).c_str()); pid > 0) kill(pid, row.signal);
  };
  std::thread delayed;
  ASSERT_TRUE(
      simulator.SetRequestObserver([&](const std::string&, const qdev::DeviceRequest& request) {
        if (request.ioControlCode != IOCTL_VENDOR_REQUEST ||
            request.input.size() != dc::kVendorRequestSize)
          return;
        const dc::VendorRequest header = dc::DecodeVendorRequest(request.input.data());
        const uint32_t address = static_cast<uint32_t>(header.Index) << 16 | header.Value;
        if (header.RequestCode != row.request || address != row.address || fired.exchange(true))
          return;
        if (row.delayMs == 0) return sendSignal();
        delayed = std::thread([&] {
          std::this_thread::sleep_for(std::chrono::milliseconds(row.delayMs));
          sendSignal();
        });
      }));
  ASSERT_TRUE(simulator.Start(dir.path(), &error)) << error;

  // The child runs to its end with the sleeps at their real length.
  const std::string script = "ulimit -c 0; sh -c 'echo $$ >" + path("pid") +
                             "; export QDEV_TIME_SCALE=1; exec " R4690_UPDATE_COMMAND "' >" +
                             path("out") + " 2>" + path("err") + " </dev/null; echo $? >" +
                             path("rc");
  EXPECT_EQ(std::system(script.c_str()), 0);
  simulator.Stop();  // joins the server thread, which started `delayed`
  if (delayed.joinable()) delayed.join();

  ASSERT_TRUE(fired) << "the request never came";
  // The shell's status of a child that a signal ended.
  EXPECT_EQ(std::atoi(ReadFile(path("rc")).c_str()), 128 + row.signal);
  const std::vector<std::string> traffic = simulator.Traffic();
  const std::string last = traffic.empty() ? "" : traffic.back() + "\n";
  EXPECT_NE(last.find(std::string(row.ending.lastRequest) + " -> ok\n"), last.npos) << last;
  const auto writes = [&](const std::string& index) {  // successful, into 0x83 or 0x90 memory
    return static_cast<size_t>(std::count_if(traffic.begin(), traffic.end(), [&](const auto& l) {
      return l.find(" req=0x0D write ") != l.npos && l.find(" index=" + index) != l.npos &&
             l.find(" -> ok") != l.npos;
    }));
  };
  EXPECT_EQ(writes("0x83"), row.ending.mcuChunks);
  EXPECT_EQ(writes("0x90"), row.ending.pldChunks);
  const std::string output = ReadFile(path("out"));
  const std::string end = row.ending.outputEnd;
  EXPECT_EQ(output.substr(output.size() - std::min(output.size(), end.size())), end) << output;
  // The utility's own lines begin with a blank; the shell adds one of its own for a child that a
  // signal ended ("Terminated").
  std::string utilityLines;
  std::istringstream err(ReadFile(path("err")));
  for (std::string line; std::getline(err, line);) {
    if (line.rfind(' ', 0) == 0) utilityLines += line + "\n";
  }
  EXPECT_EQ(utilityLines,
            row.ending.held ? std::string(message::kStopHeld) + message::kInterrupted : "");
}

INSTANTIATE_TEST_SUITE_P(Signals, WriteHoldTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
