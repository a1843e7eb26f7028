// The simulator as a whole and the r4690-sim command over it. The shipped scenarios load, and a
// stop does not wait for an answer that is held back. The command as scripts use it: bad input
// gives one line and status 1 with no device published and nothing written that a live simulator
// keeps; a good start announces its devices and the ready line, serves, and removes its endpoints
// when it stops on SIGTERM, SIGINT, SIGHUP or SIGQUIT (status 0) or on a power loss (status 3); a
// change that cannot be saved gives status 4. The table of requests in sim/README.md is the
// code's. What the simulated module answers through the platform's device I/O is what the
// end-to-end cases pin.
#include "sim/simulator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "contract/driver_contract.h"
#include "platform/testing/posix/test_endpoint.h"
#include "platform/win32.h"
#include "r4690_version.h"
#include "sim/command.h"
#include "sim/request.h"

namespace {

namespace fs = std::filesystem;

// One synchronous request through the platform's Win32 subset on a device ("QDev0"), opened for
// it and closed after it (so a request that is never answered blocks): device information, or
// with a vendor header {direction, request, value, index} whose output buffer is `data`. The
// GetLastError of a failed open or request, 0 on success.
DWORD Request(const std::string& device, std::vector<uint8_t> data, std::vector<uint16_t> h = {}) {
  std::vector<uint8_t> input(h.empty() ? 0 : driver_contract::kVendorRequestSize);
  if (!h.empty()) driver_contract::EncodeVendorRequest({h[0], h[1], h[2], h[3]}, input.data());
  const HANDLE handle = CreateFileA(("\\\\.\\" + device).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD transferred = 0, error = 0;
  if (handle == INVALID_HANDLE_VALUE ||
      !DeviceIoControl(handle, h.empty() ? IOCTL_GET_DEVICE_INFO : IOCTL_VENDOR_REQUEST,
                       input.data(), static_cast<DWORD>(input.size()), data.data(),
                       static_cast<DWORD>(data.size()), &transferred, nullptr)) {
    error = GetLastError();
  }
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  return error;
}

std::string ReadFile(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

// A device folder for the simulator, and the r4690-sim command run in the background with its
// files beside the device endpoints.
class SimulatorTest : public ::testing::Test {
 protected:
  ~SimulatorTest() override { Signal("KILL"); }  // a command left running

  std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
  std::string Read(const std::string& name) const { return ReadFile(Path(name)); }
  // The text with each @ replaced by the device folder and a slash.
  std::string Expand(std::string text) const {
    for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, Path(""));
    return text;
  }
  void Write(const std::string& name, const std::string& s) { std::ofstream(Path(name)) << s; }

  // Starts the command in the background and waits up to ten seconds for its ready line or its
  // end (its exit status then lands in the file rc). Its pid is written before it runs.
  bool Start(const std::string& args) {
    for (const char* file : {"rc", "out", "pid"}) fs::remove(Path(file));
    const std::string script = "(sh -c 'echo $$ >" + Path("pid") + "; exec " R4690_SIM_COMMAND " " +
                               args + "' >" + Path("out") + " 2>" + Path("err") +
                               " </dev/null; echo $? >" + Path("rc") + ") &";
    EXPECT_EQ(std::system(script.c_str()), 0);
    for (int i = 0; i < 400 && !Ended() && !Ready(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    pid_ = Ended() ? "" : std::to_string(std::atoi(Read("pid").c_str()));
    return Ready();
  }
  bool Ready() const { return Read("out").find("r4690-sim: ready\n") != std::string::npos; }
  bool Ended() const { return !Read("rc").empty(); }
  int ExitStatus() {
    for (int i = 0; i < 400 && !Ended(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    pid_.clear();
    return Ended() ? std::atoi(Read("rc").c_str()) : -1;
  }
  void Signal(const std::string& name) {
    EXPECT_TRUE(pid_.empty() || std::system(("kill -" + name + " " + pid_).c_str()) == 0);
  }

  qdev_test::TempDeviceDir dir_;
  std::string pid_;
};

// Runs that end at once, and publish no device: the answers (--version, --help, --check: status
// 0, nothing on standard error) and the refusals of bad input (status 1, one line on standard
// error, nothing on standard output), run in-process. Scenario files' own refusals are
// sim/model_test.cpp's; the syntax of numbers, and that a refusal is one line with the
// user's bytes escaped, the sim_command_line fuzz target's. Here the command's refusals, and how
// a scenario's refusal reaches its line. A refused start writes nothing that a live simulator
// keeps, and releases whatever it claimed.
TEST_F(SimulatorTest, AnswersAndRefusalsEndAtOnceWithoutPublishingADevice) {
  Write("faults.json",
        R"({"modules":[{"latencyMs":40,"faults":[{"action":"delay","ms":3000,"request":"write",
            "address":"0x83000000"},{"action":"powerLoss","request":"0x55","nth":2}]}]})");
  Write("typo.json", R"({"modules":[{"revison":"C"}]})");
  Write("two.json", R"({"modules":[{},{"slot":1}]})");
  Write("file", "");
  ASSERT_EQ(std::system(("cd " + dir_.path() + " && mkdir fifo-state damaged && mkfifo fifo " +
                         "fifo-state/slot0-mcu-flash.bin")
                            .c_str()),
            0);
  Write("big.json", "{}" + std::string(5 << 20, ' '));  // too large, and valid JSON all the same
  Write("damaged/slot0-mcu-flash.bin", "short");
  // Another simulator serves QDev5 of this device folder from a state folder whose boot flash is
  // not the scenario's any more, and keeps a traffic file.
  sim::Simulator holder;
  sim::SimulatorOptions held;
  held.stateDir = Path("locked");
  held.trafficFile = Path("held-traffic");
  std::string error;
  ASSERT_TRUE(holder.LoadScenario(R"({"modules":[{"slot":5}]})", &error)) << error;
  ASSERT_TRUE(holder.Start(held, &error)) << error;
  ASSERT_EQ(Request("QDev5", {}, {0, 0x0F, 0x3C00, 0}), 0u);
  ASSERT_EQ(Request("QDev5", {1, 2, 3, 4}, {0, 0x0D, 0x0000, 0x9000}), 0u);
  const auto filesIn = [this] {  // every file of the device folder with a hash of its contents
    std::map<std::string, size_t> files;
    for (const auto& file : fs::recursive_directory_iterator(dir_.path()))
      if (file.is_regular_file())
        files[file.path()] = std::hash<std::string>()(ReadFile(file.path()));
    return files;
  };
  const auto files = filesIn();
  const std::string valid = "r4690-sim: @faults.json is a valid scenario of 1 module\n";
  const struct {
    std::string args;      // split at spaces; @ stands for the device folder and a slash
    std::string err;       // all of standard error but "r4690-sim: "
    std::string out = "";  // all of standard output; of --help's, a part
  } rows[] = {
      {"--version", "", std::string("r4690-sim ") + R4690_VERSION_TEXT + "\n"},
      {"--help", "", "  4  a change could not be saved in the state folder (wins over 0 and 3)\n"},
      {"--check --slot 3 --scenario @faults.json", "",
       "r4690-sim: slot 3: \\\\.\\QDev3 (R46-90, revision C), latency 40 ms\n"
       "r4690-sim: slot 3: fault delay ms=3000 request=write address=0x83000000\n"
       "r4690-sim: slot 3: fault powerLoss request=0x55 nth=2\n" +
           valid},
      {"--check --no-faults --naming both --slot 010 --latency-ms 0x1F --scenario @faults.json", "",
       "r4690-sim: slot 10: \\\\.\\QDev10 \\\\.\\QDevUsb10 (R46-90, revision C), latency 31 ms\n" +
           valid},
      {"--check", "",
       "r4690-sim: slot 0: \\\\.\\QDev0 (R46-90, revision C)\n"
       "r4690-sim: the default scenario is a valid scenario of 1 module\n"},
      {"--scenaro x.json",
       "unknown option --scenaro (did you mean --scenario?); see r4690-sim --help"},
      {"--scenario /nonexistent/s.json", "cannot read the scenario file /nonexistent/s.json"},
      {"--scenario @fifo", "the scenario file @fifo is not a regular file"},
      {"--scenario @big.json", "the scenario file @big.json is larger than 4 MiB"},
      {"--scenario @typo.json",
       "@typo.json: scenario: unknown key modules[0].revison (did you mean revision?)"},
      {"--slot 1 --scenario @two.json", "--slot needs a scenario with one module"},
      {"--slot 999999",
       "--slot must be an integer 0..65535 (decimal, or 0x and hexadecimal digits)"},
      {"--check --naming qdev",
       "--naming must be one of QDev, QDevUsb, both, not \"qdev\" (did you mean QDev?)"},
      {"--state-dir @file/state", "cannot use the state folder @file/state: Not a directory"},
      {"--state-dir @fifo-state",
       "state file @fifo-state/slot0-mcu-flash.bin is not a regular file"},
      {"--state-dir @locked --fresh", "the state folder @locked is in use by another simulator"},
      {"--state-dir @damaged", "state file @damaged/slot0-mcu-flash.bin has 5 bytes, not 16384"},
      {"--traffic /nonexistent/t.txt", "cannot write the traffic file /nonexistent/t.txt"},
      {"--device-dir @file/dev", "cannot create device folder \"@file/dev\": Not a directory"},
      {"--slot 5 --fresh --state-dir @other --traffic @held-traffic",
       "device \"QDev5\" is already served at \"@QDev5\""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args);
    std::vector<std::string> words{"r4690-sim"};
    std::istringstream split(Expand(row.args));
    for (std::string word; std::getline(split, word, ' ');) words.push_back(word);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    std::ostringstream out, err;
    EXPECT_EQ(sim::RunCommand(static_cast<int>(argv.size()), argv.data(), out, err),
              row.err.empty() ? sim::kExitStopped : sim::kExitBadInput);
    const bool part = row.args == "--help" && out.str().find(row.out) != std::string::npos;
    EXPECT_EQ(part ? row.out : out.str(), Expand(row.out));
    EXPECT_EQ(err.str(), row.err.empty() ? "" : "r4690-sim: " + Expand(row.err) + "\n");
    EXPECT_FALSE(fs::exists(Path("QDev0")));
    EXPECT_EQ(filesIn(), files);
  }
  EXPECT_EQ(Request("QDev5", std::vector<uint8_t>(80)), 0u);
}

// A change that cannot be saved, in a file cut short while the simulator serves, ends the
// command's run with status 4 and one line that names the file. The refused request and the
// memory it leaves are sim/model_test.cpp's.
TEST_F(SimulatorTest, ChangeThatCannotBeSavedIsRefusedAndEndsTheRunWithStatusFour) {
  const std::string file = Path("state/slot0-boot-flash.bin");
  ASSERT_TRUE(Start("--state-dir " + Path("state"))) << Read("err");
  ASSERT_EQ(Request("QDev0", {}, {0, 0x0F, 0x3C00, 0}), 0u);
  fs::resize_file(file, 5);
  EXPECT_EQ(Request("QDev0", std::vector<uint8_t>(16), {0, 0x0D, 0x1000, 0x9000}),
            ERROR_GEN_FAILURE);
  Signal("TERM");
  EXPECT_EQ(ExitStatus(), sim::kExitStateLost);
  EXPECT_EQ(Read("err"),
            "r4690-sim: a change could not be saved and its request was refused: state "
            "file " +
                file + " has 5 bytes, not 262144\n");
}

// A good start announces what each module holds (its revision from the state folder's memories
// when they are used, whatever the options say) and which faults are armed, serves, and on each
// of the four stop signals ends cleanly: status 0, the last line, no endpoint left; a power loss
// ends it with status 3. --traffic - puts the time-stamped record on standard output after the
// banner.
TEST_F(SimulatorTest, AnnouncesTheModulesServesAndEndsCleanlyOnAStopSignalOrAPowerLoss) {
  Write("loss.json", R"({"modules":[{"faults":[{"action":"powerLoss","request":"deviceInfo"}]}]})");
  Write("two.json", R"({"modules":[{"naming":"both"},{"slot":3,"naming":"QDevUsb",
                        "modelName":"P310","revision":""}]})");
  Write("fault.json", R"({"modules":[{"faults":[{"action":"fail","request":"verifyPld"}]}]})");
  const std::string common = "--scenario @fault.json --state-dir @state";
  const std::string folder = "r4690-sim: device folder " + dir_.path() + "\n";
  const std::string names = folder + "r4690-sim: slot 0: \\\\.\\QDev0 (R46-90, revision C)";
  const std::string fault = "r4690-sim: slot 0: fault fail request=verifyPld\n";
  const std::string saved = names + ", memories from the state folder\n" + fault;
  const struct {
    std::string args;
    std::string banner;  // without the ready line
    const char* signal;  // that stops it; none: the request's power loss ends it
  } rows[] = {
      {"--scenario @loss.json", names + "\nr4690-sim: slot 0: fault powerLoss request=deviceInfo\n",
       nullptr},
      {"--scenario @two.json",
       folder + "r4690-sim: slot 0: \\\\.\\QDev0 \\\\.\\QDevUsb0 (R46-90, revision C)\n"
                "r4690-sim: slot 3: \\\\.\\QDevUsb3 (P310, revision none)\n",
       "INT"},
      {common, names + "\n" + fault, "HUP"},
      {common + " --no-faults --fresh", names + "\n", "QUIT"},
      {common + " --revision B --traffic -", saved, "TERM"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args);
    ASSERT_TRUE(Start(Expand(row.args))) << Read("err");
    EXPECT_EQ(Read("out"), row.banner + "r4690-sim: ready\n");
    EXPECT_EQ(Request("QDev0", std::vector<uint8_t>(80)), 0u);
    if (row.signal != nullptr) Signal(row.signal);
    EXPECT_EQ(ExitStatus(), row.signal != nullptr ? sim::kExitStopped : sim::kExitPowerLost);
    EXPECT_EQ(Read("out").substr(Read("out").rfind("r4690-sim:")),
              row.signal != nullptr ? "r4690-sim: stopped\n" : "r4690-sim: power lost\n");
    EXPECT_FALSE(fs::exists(Path("QDev0")));
  }
  // The run with --traffic - : its request between the banner and the stop, behind its time
  // stamp, a column 13 characters wide.
  const std::string out = Read("out");
  const size_t line =
      out.find("QDev0 ioctl=0x22005E deviceInfo len=80 -> ok\nr4690-sim: stopped\n");
  ASSERT_NE(line, std::string::npos) << out;
  EXPECT_EQ(out.find("r4690-sim: ready\n[ "), line - 30) << out;
  EXPECT_EQ(out.compare(line - 5, 5, " ms] "), 0) << out;
}

TEST(Simulator, ShippedScenariosLoad) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(R4690_SIM_SCENARIO_DIR)) {
    sim::Simulator simulator;
    std::string error;
    EXPECT_TRUE(simulator.LoadScenario(ReadFile(entry.path().string()), &error))
        << entry.path() << ": " << error;
    ++count;
  }
  EXPECT_GE(count, 7);  // the seven of the README at least
}

// A stop takes the device away without waiting for an answer that is held back. (That a delay is
// shortened by the wait scale as the clients' time-outs are is what the end-to-end cases
// delay_inside_timeout and delay_past_timeout show.)
TEST_F(SimulatorTest, StopsWithoutWaitingForAHeldBackAnswer) {
  sim::Simulator simulator;
  std::string error;
  ASSERT_TRUE(simulator.LoadScenario(
      R"({"modules":[{"faults":[{"action":"delay","request":"usbSpeed","ms":600000}]}]})", &error))
      << error;
  std::atomic<bool> arrived{false};
  ASSERT_TRUE(simulator.SetRequestObserver(
      [&arrived](const std::string&, const qdev::DeviceRequest&) { arrived = true; }));
  ASSERT_TRUE(simulator.Start(dir_.path(), &error)) << error;

  DWORD held = 0;
  std::thread client([&held] { held = Request("QDev0", {0}, {1, 0x06, 0, 0}); });
  while (!arrived) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto stop = std::chrono::steady_clock::now();
  simulator.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - stop, std::chrono::seconds(5));
  client.join();
  EXPECT_NE(held, 0u);
  EXPECT_EQ(simulator.Traffic().back(),
            "QDev0 ioctl=0x22003E dir=1 req=0x06 usbSpeed value=0x0000 index=0x0000 len=1 -> ok "
            "after 600000 ms");
}

// A kind's row of the README's table, but for its first column (the request's name in words).
std::string RowEnd(const sim::RequestKind& kind) {
  const bool info = kind.code == sim::kDeviceInfoRequest;
  char code[8];
  std::snprintf(code, sizeof code, "0x%02X", kind.code);
  const std::string length =
      std::to_string(kind.minLength) + (kind.maxLength == UINT32_MAX ? std::string(" or more")
                                        : kind.maxLength != kind.minLength
                                            ? ".." + std::to_string(kind.maxLength)
                                            : "");
  const char* address = kind.address == sim::AddressForm::kIndexValue      ? "`Index:Value`"
                        : kind.address == sim::AddressForm::kMcuFlashValue ? "0x8300`Value`"
                                                                           : "none";
  return " | " + std::string(info ? "`IOCTL_GET_DEVICE_INFO`" : code) + " | `" + kind.name +
         "` | " + (info ? "no header" : std::to_string(kind.direction)) + " | " + length + " | " +
         (kind.whileApplicationRuns ? "answered" : "refused") + " | " + address + " |\n";
}

// The README's section on requests has a row for each kind and no other.
TEST(SimulatorReadme, TableOfRequestsIsTheCodes) {
  const std::string readme = ReadFile(R4690_SIM_README);
  const size_t start = readme.find("\n## Requests\n");
  ASSERT_NE(start, std::string::npos) << R4690_SIM_README;
  const std::string section = readme.substr(start, readme.find("\n## ", start + 1) - start);
  size_t rows = 0;
  for (size_t at = section.find("\n| "); at != std::string::npos; at = section.find("\n| ", at + 1))
    ++rows;
  EXPECT_EQ(rows, sim::RequestKinds().size() + 1);  // and the heading
  for (const sim::RequestKind& kind : sim::RequestKinds()) {
    EXPECT_NE(section.find(RowEnd(kind)), std::string::npos) << "no row ending" << RowEnd(kind);
  }
}

}  // namespace
