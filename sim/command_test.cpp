// The r4690-sim command as scripts use it: bad input gives one line and status 1; a good start
// announces its devices and the ready line, serves, and removes its endpoints when it stops on
// SIGTERM, SIGINT, SIGHUP or SIGQUIT (status 0) or on a power loss (status 3); a change that
// cannot be saved gives status 4.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "contract/driver_contract.h"
#include "platform/testing/posix/test_endpoint.h"
#include "r4690_version.h"
#include "sim/testing/device_client.h"
#include "sim/testing/test_images.h"

namespace {

namespace fs = std::filesystem;

class CommandTest : public ::testing::Test {
 protected:
  ~CommandTest() override {
    if (!pid_.empty()) Signal("KILL");
  }

  // Files of the test beside the device endpoints, in the folder that $QDEV_DEVICE_DIR names.
  std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
  std::string Read(const std::string& name) const { return sim_test::ReadFile(Path(name)); }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(Path(name)) << text;
  }

  // Starts the command in the background and waits up to ten seconds for its ready line or its
  // end (its exit status then lands in the file rc). Its pid is written before it runs.
  bool Start(const std::string& args) {
    for (const char* file : {"rc", "out", "pid"}) fs::remove(Path(file));
    const std::string script = "(sh -c 'echo $$ >" + Path("pid") + "; exec " R4690_SIM_COMMAND " " +
                               args + "' >" + Path("out") + " 2>" + Path("err") +
                               " </dev/null; echo $? >" + Path("rc") + ") &";
    EXPECT_EQ(std::system(script.c_str()), 0);
    for (int i = 0; i < 400 && !Ended() && !Ready(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    pid_ = Ended() ? "" : std::to_string(std::atoi(Read("pid").c_str()));
    return Ready();
  }
  bool Ready() const { return Read("out").find("r4690-sim: ready\n") != std::string::npos; }
  bool Ended() const { return !Read("rc").empty(); }
  int ExitStatus() {
    for (int i = 0; i < 400 && !Ended(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    pid_.clear();
    return Ended() ? std::atoi(Read("rc").c_str()) : -1;
  }
  void Signal(const std::string& name) {
    EXPECT_EQ(std::system(("kill -" + name + " " + pid_).c_str()), 0);
  }

  qdev_test::TempDeviceDir dir_;
  std::string pid_;
};

// Scenario files' own refusals are sim/scenario_json_test.cpp's; here the command's, and how a
// scenario's refusal reaches its line.
TEST_F(CommandTest, BadInputGivesOneLineAndFailure) {
  Write("file", "");
  fs::create_directory(Path("state"));
  Write("state/slot0-mcu-flash.bin", "short");
  // Larger than a scenario may be, and valid JSON all the same.
  Write("big.json", "{}" + std::string(5 << 20, ' '));
  const std::string slotRange =
      "--slot must be an integer 0..65535 (decimal, or 0x and hexadecimal digits)";
  struct Row {
    std::string args;
    std::string scenario;  // if any: the file that --scenario names; its path starts the line
    std::string line;      // the whole of stderr but "r4690-sim: "; empty: not compared
  };
  const Row rows[] = {
      {"--bogus", "", "The following argument was not expected: --bogus"},
      // an argument's bytes come back escaped, on one line
      {"\"a\nb\"", "", "The following argument was not expected: a\\nb"},
      {"--scenario /nonexistent/s.json", "", "cannot read the scenario file /nonexistent/s.json"},
      {"", R"({"modules":[{"revison":"C"}]})",
       "scenario: unknown key modules[0].revison (did you mean revision?)"},
      {"--slot 1", R"({"modules":[{},{"slot":1}]})", "--slot needs a scenario with one module"},
      {"--slot 999999", "", slotRange},
      {"--slot -1", "", slotRange},
      {"--slot 0x10000", "", slotRange},
      {"--slot 1e3", "", slotRange},
      {"--type-code 0xZZ", "",
       "--type-code must be an integer 0..4294967295 (decimal, or 0x and hexadecimal digits)"},
      {"--usb-speed 0x+1", "",
       "--usb-speed must be an integer 0..255 (decimal, or 0x and hexadecimal digits)"},
      {"--state-dir " + Path("file") + "/state", "",
       "cannot use the state folder " + Path("file") + "/state: Not a directory"},
      {"--state-dir " + Path("state"), "",
       "state file " + Path("state") + "/slot0-mcu-flash.bin has 5 bytes, not 16384"},
      {"--traffic /nonexistent/t.txt", "", "cannot write the traffic file /nonexistent/t.txt"},
      {"--device-dir " + Path("file") + "/dev", "", ""},
      {"--scenario /dev/zero", "", "the scenario file /dev/zero is larger than 4 MiB"},
      {"--scenario " + Path("big.json"), "",
       "the scenario file " + Path("big.json") + " is larger than 4 MiB"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args + row.scenario.substr(0, 80));
    std::string args = row.args, line = "r4690-sim: " + row.line;
    if (!row.scenario.empty()) {
      Write("s.json", row.scenario);
      args += " --scenario " + Path("s.json");
      if (row.args.empty()) line = "r4690-sim: " + Path("s.json") + ": " + row.line;
    }
    const bool started = Start(args);
    EXPECT_FALSE(started);
    if (started) Signal("KILL");  // so that the next row finds the device folder free
    EXPECT_EQ(ExitStatus(), 1);
    const std::string err = Read("err");
    EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
    EXPECT_EQ(err.rfind("r4690-sim: ", 0), 0u) << err;
    if (!row.line.empty()) {
      EXPECT_EQ(err, line + "\n");
    }
    EXPECT_EQ(Read("out"), "");
  }
}

// Numbers on the command line read as in scenario files: decimal, whatever the leading zeros, or
// 0x and hexadecimal digits.
TEST_F(CommandTest, NumericOptionsAreDecimalOrHexadecimal) {
  const struct {
    const char* args;
    uint16_t slot;
    uint8_t grade;
    uint8_t speed;
  } rows[] = {
      {"--slot 010 --temperature-grade 010 --usb-speed 08", 10, 10, 8},
      {"--slot 0x10 --temperature-grade 0XfF --usb-speed 0x02", 16, 255, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args);
    ASSERT_TRUE(Start(row.args)) << Read("err");
    const std::string device = "QDev" + std::to_string(row.slot);
    EXPECT_NE(Read("out").find("r4690-sim: slot " + std::to_string(row.slot) + ":"),
              std::string::npos)
        << Read("out");
    EXPECT_EQ(sim_test::Vendor(device, 0, 0x0F, 0x3C00, 0, {}).error, 0u);
    EXPECT_EQ(sim_test::Read(device, 0x8C000000, 1).data, std::vector<uint8_t>{row.grade});
    EXPECT_EQ(sim_test::Vendor(device, 1, 0x06, 0, 0, std::vector<uint8_t>(1)).data,
              std::vector<uint8_t>{row.speed});
    Signal("TERM");
    EXPECT_EQ(ExitStatus(), 0);
  }
}

// Each of the four stop signals ends the run cleanly: status 0, the last line, no endpoint left.
TEST_F(CommandTest, AnnouncesItsDevicesServesAndStopsCleanlyOnEachStopSignal) {
  Write("two.json",
        R"({"modules":[{"naming":"both"},{"slot":3,"naming":"QDevUsb","modelName":"P310",
            "revision":""}]})");
  for (const char* signal : {"TERM", "INT", "HUP", "QUIT"}) {
    SCOPED_TRACE(signal);
    ASSERT_TRUE(Start("--scenario " + Path("two.json"))) << Read("err");
    EXPECT_EQ(Read("out"),
              "r4690-sim: device folder " + dir_.path() +
                  "\n"
                  "r4690-sim: slot 0: \\\\.\\QDev0 \\\\.\\QDevUsb0 (R46-90, revision C)\n"
                  "r4690-sim: slot 3: \\\\.\\QDevUsb3 (P310, revision none)\n"
                  "r4690-sim: ready\n");
    EXPECT_EQ(sim_test::Vendor("QDevUsb3", 1, 0x0B, 0, 0, std::vector<uint8_t>(7)).data,
              (std::vector<uint8_t>{'P', '3', '1', '0', 0, 0, 0}));
    for (const char* device : {"QDev0", "QDevUsb0", "QDevUsb3"}) {
      EXPECT_TRUE(fs::exists(Path(device))) << device;
    }
    Signal(signal);
    EXPECT_EQ(ExitStatus(), 0);
    EXPECT_EQ(Read("out").substr(Read("out").rfind("r4690-sim:")), "r4690-sim: stopped\n");
    for (const char* device : {"QDev0", "QDevUsb0", "QDevUsb3"}) {
      EXPECT_FALSE(fs::exists(Path(device))) << device;
    }
  }
}

TEST_F(CommandTest, PowerLossEndsTheRunWithStatusThree) {
  Write("loss.json", R"({"modules":[{"faults":[{"action":"powerLoss","request":"deviceInfo"}]}]})");
  ASSERT_TRUE(Start("--scenario " + Path("loss.json"))) << Read("err");
  EXPECT_EQ(
      sim_test::Request("QDev0", IOCTL_GET_DEVICE_INFO, {}, std::vector<uint8_t>(80)).transferred,
      80u);
  EXPECT_EQ(ExitStatus(), 3);
  EXPECT_NE(Read("out").find("r4690-sim: power lost\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path("QDev0")));
}

// A change that cannot be saved ends the command's run with status 4 and one line that names the
// file. The refused request and the memory it leaves are sim/rack_test.cpp's.
TEST_F(CommandTest, ChangeThatCannotBeSavedIsRefusedAndEndsTheRunWithStatusFour) {
  ASSERT_TRUE(Start("--state-dir " + Path("state"))) << Read("err");
  ASSERT_EQ(sim_test::Vendor("QDev0", 0, 0x0F, 0x3C00, 0, {}).error, 0u);
  const std::string file = Path("state/slot0-boot-flash.bin");
  fs::remove(file);
  fs::create_directory(file);  // a superuser cannot write there either
  EXPECT_EQ(sim_test::Vendor("QDev0", 0, 0x0D, 0x1000, 0x9000, std::vector<uint8_t>(16)).error,
            31u);  // ERROR_GEN_FAILURE
  Signal("TERM");
  EXPECT_EQ(ExitStatus(), 4);
  const std::string err = Read("err");
  EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
  EXPECT_EQ(err.rfind("r4690-sim: a change could not be saved and its request was refused: ", 0),
            0u)
      << err;
  EXPECT_NE(err.find(file), std::string::npos) << err;
}

// Answers that end the command at once, with status 0 and without serving anything.
TEST_F(CommandTest, VersionHelpAndCheckAnswerWithoutServing) {
  Write("faults.json",
        R"({"modules":[{"latencyMs":40,"faults":[{"action":"delay","ms":3000,"request":"write",
            "address":"0x83000000"},{"action":"powerLoss","request":"0x55","nth":2}]}]})");
  const struct {
    std::string args;
    std::vector<std::string> parts;  // of standard output; the first is its whole when exact
    bool exact;
  } rows[] = {
      {"--version", {std::string("r4690-sim ") + R4690_VERSION_TEXT + "\n"}, true},
      {"--help",
       {"--slot N", "0..65535", "--naming TEXT", "QDev, QDevUsb, both", "--latency-ms N",
        "--traffic FILE", "- for standard output", "0x and hexadecimal", "SIGTERM, SIGHUP",
        "  0  stopped by a signal\n", "  1  bad input", "  3  a power-loss fault fired\n",
        "  4  a change could not be saved"},
       false},
      {"--check --slot 3 --scenario " + Path("faults.json"),
       {"r4690-sim: slot 3: \\\\.\\QDev3 (R46-90, revision C), latency 40 ms\n"
        "r4690-sim: slot 3: fault delay ms=3000 request=write address=0x83000000\n"
        "r4690-sim: slot 3: fault powerLoss request=0x55 nth=2\n"
        "r4690-sim: " +
        Path("faults.json") + " is a valid scenario of 1 module\n"},
       true},
      {"--check --no-faults --naming both",
       {"r4690-sim: slot 0: \\\\.\\QDev0 \\\\.\\QDevUsb0 (R46-90, revision C)\n"
        "r4690-sim: the default scenario is a valid scenario of 1 module\n"},
       true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args);
    EXPECT_FALSE(Start(row.args));
    EXPECT_EQ(ExitStatus(), 0);
    const std::string out = Read("out");
    if (row.exact) {
      EXPECT_EQ(out, row.parts[0]);
    }
    for (const std::string& part : row.parts) {
      EXPECT_NE(out.find(part), std::string::npos) << part << " in\n" << out;
    }
    EXPECT_EQ(Read("err"), "");
    EXPECT_FALSE(fs::exists(Path("QDev0")));
  }
  EXPECT_FALSE(Start("--check --naming qdev"));
  EXPECT_EQ(ExitStatus(), 1);
  EXPECT_EQ(Read("err"),
            "r4690-sim: --naming must be one of QDev, QDevUsb, both, not \"qdev\" (did you mean "
            "QDev?)\n");
}

// The ready banner says where the memories came from when it was the state folder, and which
// faults are armed; --traffic - puts the time-stamped record on standard output after it.
TEST_F(CommandTest, BannerTellsSavedMemoriesAndArmedFaultsAndTrafficGoesToStandardOutput) {
  Write("fault.json", R"({"modules":[{"faults":[{"action":"fail","request":"verifyPld"}]}]})");
  const std::string common = "--scenario " + Path("fault.json") + " --state-dir " + Path("state");
  const std::string names = "r4690-sim: device folder " + dir_.path() +
                            "\n"
                            "r4690-sim: slot 0: \\\\.\\QDev0 (R46-90, revision C)";
  const std::string fault = "r4690-sim: slot 0: fault fail request=verifyPld\n";
  const struct {
    std::string args;
    std::string banner;
  } rows[] = {
      {common, names + "\n" + fault + "r4690-sim: ready\n"},
      {common + " --no-faults --fresh", names + "\nr4690-sim: ready\n"},
      {common + " --traffic -",
       names + ", memories from the state folder\n" + fault + "r4690-sim: ready\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args);
    ASSERT_TRUE(Start(row.args)) << Read("err");
    EXPECT_EQ(Read("out"), row.banner);
    EXPECT_EQ(sim_test::Request("QDev0", IOCTL_GET_DEVICE_INFO, {}, std::vector<uint8_t>(80)).error,
              0u);
    Signal("TERM");
    EXPECT_EQ(ExitStatus(), 0);
  }
  // The run with --traffic - : its request between the banner and the stop.
  const std::string out = Read("out");
  EXPECT_EQ(out.find("r4690-sim: ready\n["), out.find("r4690-sim: ready\n"));
  EXPECT_NE(out.find(" ms] QDev0 ioctl=0x22005E deviceInfo len=80 -> ok\nr4690-sim: stopped\n"),
            std::string::npos)
      << out;
}

}  // namespace
