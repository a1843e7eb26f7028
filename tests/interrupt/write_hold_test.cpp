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
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "contract/driver_contract.h"
#include "platform/testing/posix/test_endpoint.h"
#include "sim/simulator.h"
#include "updater/messages.h"

namespace {

// A module whose MCU application (3.1) and PLD (3.0.6c) are both out of date: two MCU chunks and
// thirty PLD chunks are written.
constexpr char kScenario[] =
    R"({"modules":[{"application":"standin","applicationVersion":"3.1","bootFlash":"other"}]})";
constexpr size_t kMcuChunks = 2;
constexpr size_t kPldChunks = 30;

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Successful write requests into the memory whose address starts with `index` ("0x83", "0x90").
size_t CountWrites(const std::vector<std::string>& traffic, const std::string& index) {
  return static_cast<size_t>(
      std::count_if(traffic.begin(), traffic.end(), [&](const std::string& l) {
        return l.find(" req=0x0D ") != std::string::npos &&
               l.find(" index=" + index) != std::string::npos &&
               l.find(" -> ok") != std::string::npos;
      }));
}

struct Row {
  const char* what;
  const char* signal;  // the name that kill -s takes
  int status;          // the shell's status of a process that this signal ended: 128 + its number
  uint16_t request;    // the request while which the signal is sent ...
  uint32_t address;    // ... at this module address (Index << 16 | Value)
  int delayMs;         // 0: before the module's reply; otherwise this long after it
  const char* lastRequest;  // a part of the traffic record's last line
  size_t mcuChunks;         // MCU and PLD write requests that reached the module
  size_t pldChunks;
  const char* outputEnd;  // the end of the child's standard output
  bool held;              // the signal was kept back: the two stop lines on standard error
};

using driver_contract::kRequestRead;
using driver_contract::kRequestReloadPld;
using driver_contract::kRequestWrite;

constexpr char kLastPldChunk[] =
    "req=0x0D write value=0xD000 index=0x9001 addr=0x9001D000 len=3695 -> ok";
using updater::message::kMcuFlashingOk;
using updater::message::kPldFlashingOk;

const Row kRows[] = {
    // While an image is written: the whole image reaches the module and is reported, then the
    // signal ends the child before it sends another request.
    {"SIGINT in the MCU write's first chunk", "INT", 130, kRequestWrite, 0x83000000, 0,
     "req=0x0D write value=0x1000 index=0x8300 addr=0x83001000 len=4096 -> ok", kMcuChunks, 0,
     kMcuFlashingOk, true},
    {"SIGINT in the PLD write's first chunk", "INT", 130, kRequestWrite, 0x90000000, 0,
     kLastPldChunk, kMcuChunks, kPldChunks, kPldFlashingOk, true},
    {"SIGINT in the PLD write's last chunk", "INT", 130, kRequestWrite, 0x9001D000, 0,
     kLastPldChunk, kMcuChunks, kPldChunks, kPldFlashingOk, true},
    {"SIGTERM in the PLD write", "TERM", 143, kRequestWrite, 0x90008000, 0, kLastPldChunk,
     kMcuChunks, kPldChunks, kPldFlashingOk, true},
    {"SIGHUP in the PLD write", "HUP", 129, kRequestWrite, 0x90008000, 0, kLastPldChunk, kMcuChunks,
     kPldChunks, kPldFlashingOk, true},
    {"SIGQUIT in the PLD write", "QUIT", 131, kRequestWrite, 0x90008000, 0, kLastPldChunk,
     kMcuChunks, kPldChunks, kPldFlashingOk, true},
    // Outside a write: the signal ends the child at once.
    {"SIGINT while the module's grade is read", "INT", 130, kRequestRead, 0x8C000000, 0,
     "req=0x0E read value=0x0000 index=0x8C00 addr=0x8C000000 len=1 -> ok", 0, 0,
     updater::message::kBootLoaderDescriptionOk, false},
    {"SIGINT during the PLD restart's wait", "INT", 130, kRequestReloadPld, 0, 500,
     "req=0x0C reloadPld value=0x0000 index=0x0000 len=0 -> ok", kMcuChunks, kPldChunks, "\r",
     false},
};

void PrintTo(const Row& row, std::ostream* os) {
  *os << row.what;
}

class WriteHoldTest : public ::testing::TestWithParam<Row> {
 protected:
  std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }

  // Sends the row's signal to the child, whose shell wrote its pid before it became the child.
  void SendSignal() {
    const std::string pid = ReadFile(Path("pid"));
    const std::string command = std::string("kill -s ") + GetParam().signal + " " + pid;
    signalSent_ = std::system(command.c_str()) == 0;
  }

  // Runs the child to its end with the sleeps at their real length; gives the shell's status.
  int RunChild() {
    const std::string script = "ulimit -c 0; sh -c 'echo $$ >" + Path("pid") +
                               "; export QDEV_TIME_SCALE=1; exec " R4690_UPDATE_COMMAND "' >" +
                               Path("out") + " 2>" + Path("err") + " </dev/null; echo $? >" +
                               Path("rc");
    EXPECT_EQ(std::system(script.c_str()), 0);
    return std::atoi(ReadFile(Path("rc")).c_str());
  }

  qdev_test::TempDeviceDir dir_;
  bool signalSent_ = false;
};

TEST_P(WriteHoldTest, SignalEndsTheChildOnlyBetweenWrites) {
  const Row& row = GetParam();
  sim::Simulator simulator;
  std::string error;
  ASSERT_TRUE(simulator.LoadScenario(kScenario, &error)) << error;

  std::atomic<bool> fired{false};
  std::thread delayed;
  ASSERT_TRUE(
      simulator.SetRequestObserver([&](const std::string&, const qdev::DeviceRequest& request) {
        if (request.ioControlCode != IOCTL_VENDOR_REQUEST ||
            request.input.size() != driver_contract::kVendorRequestSize) {
          return;
        }
        const driver_contract::VendorRequest header =
            driver_contract::DecodeVendorRequest(request.input.data());
        const uint32_t address = static_cast<uint32_t>(header.Index) << 16 | header.Value;
        if (header.RequestCode != row.request || address != row.address || fired.exchange(true)) {
          return;
        }
        if (row.delayMs == 0) {
          SendSignal();
        } else {
          delayed = std::thread([this, &row] {
            std::this_thread::sleep_for(std::chrono::milliseconds(row.delayMs));
            SendSignal();
          });
        }
      }));
  ASSERT_TRUE(simulator.Start(dir_.path(), &error)) << error;

  const int status = RunChild();
  simulator.Stop();  // joins the server thread, which started `delayed`
  if (delayed.joinable()) delayed.join();

  ASSERT_TRUE(fired) << "the request never came";
  EXPECT_TRUE(signalSent_);
  EXPECT_EQ(status, row.status);
  const std::vector<std::string> traffic = simulator.Traffic();
  ASSERT_FALSE(traffic.empty());
  EXPECT_NE(traffic.back().find(row.lastRequest), std::string::npos) << traffic.back();
  EXPECT_EQ(CountWrites(traffic, "0x83"), row.mcuChunks);
  EXPECT_EQ(CountWrites(traffic, "0x90"), row.pldChunks);
  const std::string output = ReadFile(Path("out"));
  EXPECT_TRUE(EndsWith(output, row.outputEnd)) << output;
  // The utility's own lines begin with a blank; the shell adds one of its own for a child that a
  // signal ended ("Terminated").
  std::string utilityLines;
  std::istringstream err(ReadFile(Path("err")));
  for (std::string line; std::getline(err, line);) {
    if (line.rfind(' ', 0) == 0) utilityLines += line + "\n";
  }
  EXPECT_EQ(utilityLines,
            row.held ? std::string(updater::message::kStopHeld) + updater::message::kInterrupted
                     : std::string());
}

INSTANTIATE_TEST_SUITE_P(Signals, WriteHoldTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           std::string name = info.param.what;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
