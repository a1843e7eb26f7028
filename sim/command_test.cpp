// The r4690-sim command as scripts use it: bad input gives one line and a non-zero exit; a good
// start prints where its devices are and the ready line, serves, stops cleanly on SIGTERM, keeps
// its state across a kill, and exits 3 when a power loss fires.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "modlib/driver_contract.h"
#include "platform/posix/test_endpoint.h"
#include "sim/sim_test_client.h"

namespace {

namespace fs = std::filesystem;
using qdev_testing::TempDeviceDir;
using sim_test::TestClient;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path) << text;
}

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = fs::temp_directory_path() / ("sim-cmd-" + std::to_string(std::random_device()()));
    fs::create_directories(work_);
  }
  void TearDown() override {
    if (!pid_.empty()) Signal("KILL");
    std::error_code ignored;
    fs::remove_all(work_, ignored);
  }

  // Runs the command to its end; returns its exit status.
  int RunToEnd(const std::string& args) {
    const std::string script = "'" R4690_SIM_COMMAND "' " + args + " >'" + Path("out") + "' 2>'" +
                               Path("err") + "' </dev/null; echo $? >'" + Path("rc") + "'";
    EXPECT_EQ(std::system(script.c_str()), 0);
    return std::stoi(ReadText(Path("rc")));
  }

  // Starts the command in the background; waits for its ready line (or its end).
  bool StartInBackground(const std::string& args) {
    fs::remove(Path("rc"));
    fs::remove(Path("out"));
    const std::string script = "('" R4690_SIM_COMMAND "' " + args + " >'" + Path("out") + "' 2>'" +
                               Path("err") + "' </dev/null & echo $! >'" + Path("pid") +
                               "'; wait $!; echo $? >'" + Path("rc") + "') 2>/dev/null &";
    EXPECT_EQ(std::system(script.c_str()), 0);
    const bool ready = WaitFor("out", "r4690-sim: ready\n");
    pid_ = ReadText(Path("pid"));
    while (!pid_.empty() && pid_.back() == '\n') pid_.pop_back();
    return ready;
  }

  // Polls a file until it contains `text`, for up to ten seconds.
  bool WaitFor(const std::string& file, const std::string& text) {
    for (int i = 0; i < 200; ++i) {
      if (ReadText(Path(file)).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  int WaitForExit() {
    EXPECT_TRUE(WaitFor("rc", "\n"));
    pid_.clear();
    return std::stoi(ReadText(Path("rc")));
  }

  void Signal(const std::string& name) {
    const std::string command = "kill -" + name + " " + pid_;
    EXPECT_EQ(std::system(command.c_str()), 0);
  }

  std::string Path(const std::string& name) const { return (work_ / name).string(); }

  fs::path work_;
  std::string pid_;
};

TEST_F(CommandTest, BadInputGivesOneLineAndFailure) {
  WriteText(Path("malformed.json"), "{x");
  WriteText(Path("typo.json"), R"({"modules":[{"revison":"C"}]})");
  WriteText(Path("two.json"), R"({"modules":[{},{"slot":1}]})");
  WriteText(Path("file"), "");
  struct Row {
    std::string args;
    std::string line;  // the whole of stderr; a trailing '*' compares only what precedes it
  };
  const Row rows[] = {
      {"--bogus", "r4690-sim: The following argument was not expected: --bogus"},
      {"--scenario /nonexistent/s.json",
       "r4690-sim: cannot read the scenario file /nonexistent/s.json"},
      {"--scenario " + Path("malformed.json"),
       "r4690-sim: " + Path("malformed.json") + ": scenario: malformed JSON at line 1, column 2"},
      {"--scenario " + Path("typo.json"),
       "r4690-sim: " + Path("typo.json") + ": scenario: unknown key modules[0].revison"},
      {"--revision CC",
       "r4690-sim: scenario: modules[0].revision: must be one character (or empty for none)"},
      {"--type-code 0xZZ",
       "r4690-sim: scenario: modules[0].typeCode: \"0xZZ\" is not a hexadecimal number"},
      {"--slot 1 --scenario " + Path("two.json"),
       "r4690-sim: --slot needs a scenario with one module"},
      {"--usb-speed fast", "r4690-sim: *"},
      {"--state-dir " + Path("file") + "/state",
       "r4690-sim: cannot use the state folder " + Path("file") + "/state: Not a directory"},
      {"--device-dir " + Path("dev") + " --traffic /nonexistent/t.txt",
       "r4690-sim: cannot write the traffic file /nonexistent/t.txt"},
      {"--device-dir " + Path("file") + "/dev", "r4690-sim: *"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    EXPECT_EQ(RunToEnd(row.args), 1);
    const std::string err = ReadText(Path("err"));
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
    if (row.line.back() == '*') {
      EXPECT_EQ(err.rfind(row.line.substr(0, row.line.size() - 1), 0), 0u) << err;
    } else {
      EXPECT_EQ(err, row.line + "\n");
    }
    EXPECT_EQ(ReadText(Path("out")), "");
  }
}

TEST_F(CommandTest, ServesStopsCleanlyAndKeepsStateAcrossAKill) {
  TempDeviceDir dir;
  const std::string args = "--scenario " R4690_SIM_SCENARIO_DIR "/demo.json --device-dir " +
                           dir.path() + " --state-dir " + Path("state") + " --traffic " +
                           Path("traffic");
  ASSERT_TRUE(StartInBackground(args)) << ReadText(Path("err"));
  EXPECT_EQ(ReadText(Path("out")), "r4690-sim: device folder " + dir.path() +
                                       "\n"
                                       "r4690-sim: slot 0: \\\\.\\QDev0 (R46-90, revision C)\n"
                                       "r4690-sim: ready\n");
  {
    TestClient client("QDev0");
    ASSERT_TRUE(client.IsOpen());
    ASSERT_EQ(client.Run(0x3C00).error, 0u);
    ASSERT_EQ(client.Write(0x83000000, {0xAB}).error, 0u);
  }
  Signal("TERM");
  EXPECT_EQ(WaitForExit(), 0);
  EXPECT_EQ(ReadText(Path("out")).substr(ReadText(Path("out")).rfind("r4690-sim:")),
            "r4690-sim: stopped\n");
  EXPECT_FALSE(fs::exists(dir.path() + "/QDev0"));
  EXPECT_EQ(ReadText(Path("traffic")),
            "QDev0 ioctl=0x22003E dir=0 req=0x0F value=0x3C00 index=0x0000 len=0 -> ok\n"
            "QDev0 ioctl=0x22003E dir=0 req=0x0D value=0x0000 index=0x8300 len=1 -> ok\n");

  // A killed run leaves its endpoint behind; the next start replaces it and sees the write.
  ASSERT_TRUE(StartInBackground(args)) << ReadText(Path("err"));
  Signal("KILL");
  WaitForExit();
  EXPECT_TRUE(fs::exists(dir.path() + "/QDev0"));
  ASSERT_TRUE(StartInBackground(args)) << ReadText(Path("err"));
  {
    TestClient client("QDev0");
    ASSERT_EQ(client.Run(0x3C00).error, 0u);  // a programmed application was running again
    EXPECT_EQ(client.Read(0x83000000, 1).data, std::vector<uint8_t>{0xAB});
  }
  Signal("TERM");
  EXPECT_EQ(WaitForExit(), 0);
}

TEST_F(CommandTest, PowerLossEndsTheRunWithStatusThree) {
  TempDeviceDir dir;
  WriteText(Path("loss.json"),
            R"({"modules":[{"faults":[{"action":"powerLoss","request":"deviceInfo"}]}]})");
  ASSERT_TRUE(StartInBackground("--scenario " + Path("loss.json") + " --device-dir " + dir.path()))
      << ReadText(Path("err"));
  TestClient client("QDev0");
  EXPECT_EQ(client.Request(IOCTL_GET_DEVICE_INFO, {}, std::vector<uint8_t>(80)).transferred, 80u);
  EXPECT_EQ(WaitForExit(), 3);
  EXPECT_NE(ReadText(Path("out")).find("r4690-sim: power lost\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.path() + "/QDev0"));
}

}  // namespace
