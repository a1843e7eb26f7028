// Fuzz target: the r4690-sim command line, run in-process through sim::RunCommand. A run that
// starts serving is stopped as soon as it has said that it is ready, by a SIGINT sent to the
// command's stop-signal thread (a signal sent to the whole process could reach one of libFuzzer's
// threads instead, which do not block it). Whatever
// the arguments, the command must end with one of its exit statuses; a refusal is one line
// "r4690-sim: ..." of text with no control character in it (what it echoes of the arguments is
// escaped); every number it accepts is written in decimal or as "0x" hexadecimal, and in no other
// syntax; and each numeric option with a decimal value in its range, given alone, is accepted and
// gives the module that value: the slot it announces, or the byte or code that the module then
// reports through the platform's device calls.
//
// Paths never come from the input: the options that name a file or a folder get ones in a
// folder of the target's own, emptied before every run, so that a run touches nothing else.
//
// Input: the arguments, one per line, each cut at its first zero byte as a command line is. A
// line "@scenario" ends them, and what follows it is the text of the scenario file that
// --scenario then names.
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

#include "contract/driver_contract.h"
#include "contract/module_addresses.h"
#include "platform/stop_signals.h"
#include "platform/win32.h"
#include "sim/command.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;

std::string gSandbox;  // the target's own folder

void RemoveSandbox() {
  std::error_code ec;
  fs::remove_all(gSandbox, ec);
}

// Sends SIGINT to the thread that reads the running command's stop signals, as Ctrl-C would reach
// it in the program.
void StopLikeCtrlC() {
  const fs::path tasks = "/proc/self/task";
  std::error_code ec;
  for (const fs::directory_entry& task : fs::directory_iterator(tasks, ec)) {
    std::string name;
    std::getline(std::ifstream(task.path() / "comm"), name);
    if (name != qdev::kStopSignalsThreadName) continue;
    const long tid = std::stol(task.path().filename().string());
    FUZZ_CHECK(syscall(SYS_tgkill, getpid(), tid, SIGINT) == 0);
    return;
  }
  fuzz::CheckFailed("a serving command has a thread that reads its stop signals", __FILE__,
                    __LINE__);
}

// The output stream of a run: keeps the text, and once the run announces that it is ready calls
// `whileServing` and stops the run, as an operator's Ctrl-C would.
class StoppingOutput final : public std::stringbuf {
 public:
  std::function<void()> whileServing;

 protected:
  int sync() override {
    const std::string text = str();
    if (!stopped_ && text.find("r4690-sim: ready\n") != std::string::npos) {
      stopped_ = true;
      if (whileServing) whileServing();
      StopLikeCtrlC();
    }
    return std::stringbuf::sync();
  }

 private:
  bool stopped_ = false;
};

struct Run {
  int status = 0;
  std::string out;
  std::string err;
};

Run RunCommand(std::vector<std::string> args, std::function<void()> whileServing = nullptr) {
  std::error_code ec;
  fs::remove_all(gSandbox + "/state", ec);
  fs::remove(gSandbox + "/traffic", ec);
  args.insert(args.begin(), "r4690-sim");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The command keeps its stop signals blocked when it ends (or, where it cannot read them from a
  // thread, handles them itself); libFuzzer's own handling of them comes back afterwards.
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  struct sigaction oldInt {};
  struct sigaction oldTerm {};
  sigaction(SIGINT, nullptr, &oldInt);
  sigaction(SIGTERM, nullptr, &oldTerm);
  StoppingOutput outBuffer;
  outBuffer.whileServing = std::move(whileServing);
  std::ostream out(&outBuffer);
  std::ostringstream err;
  Run run;
  run.status = sim::RunCommand(static_cast<int>(args.size()), argv.data(), out, err);
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  run.out = outBuffer.str();
  run.err = err.str();
  return run;
}

bool IsRefusalLine(const std::string& err) {
  if (err.rfind("r4690-sim: ", 0) != 0 || err.back() != '\n') return false;
  for (size_t i = 0; i + 1 < err.size(); ++i) {
    const auto c = static_cast<unsigned char>(err[i]);
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

// A number as the command's options are to take it: decimal digits, or "0x" and hexadecimal
// digits; nullopt for any other text or a value beyond 64 bits.
std::optional<uint64_t> OptionNumber(const std::string& text) {
  static const std::regex kDecimal("[0-9]+");
  static const std::regex kHexadecimal("0[xX][0-9a-fA-F]+");
  const bool decimal = std::regex_match(text, kDecimal);
  if (!decimal && !std::regex_match(text, kHexadecimal)) return std::nullopt;
  const std::string digits = decimal ? text : text.substr(2);
  uint64_t value = 0;
  for (char c : digits) {
    const uint64_t digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    const uint64_t base = decimal ? 10 : 16;
    if (value > (UINT64_MAX - digit) / base) return std::nullopt;
    value = value * base + digit;
  }
  return value;
}

// The value of an option that appears once, as "--name value" or "--name=value".
std::optional<std::string> OptionValue(const std::vector<std::string>& args,
                                       const std::string& name) {
  std::optional<std::string> value;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name && i + 1 < args.size()) {
      if (value) return std::nullopt;
      value = args[i + 1];
    } else if (args[i].rfind(name + "=", 0) == 0) {
      if (value) return std::nullopt;
      value = args[i].substr(name.size() + 1);
    }
  }
  return value;
}

// The options that name files and folders take ones in the sandbox instead.
void Confine(std::vector<std::string>* args, bool haveScenario) {
  const std::pair<std::string, std::string> paths[] = {{"--scenario", gSandbox + "/scenario.json"},
                                                       {"--state-dir", gSandbox + "/state"},
                                                       {"--device-dir", gSandbox + "/dev"},
                                                       {"--traffic", gSandbox + "/traffic"}};
  for (size_t i = 0; i < args->size(); ++i) {
    std::string& a = (*args)[i];
    for (const auto& [name, path] : paths) {
      if (a == name && i + 1 < args->size()) {
        (*args)[i + 1] = path;
      } else if (a.rfind(name + "=", 0) == 0) {
        a = name + "=" + path;
      }
    }
  }
  if (haveScenario) {
    args->push_back("--scenario");
    args->push_back(gSandbox + "/scenario.json");
  }
}

namespace dc = driver_contract;

// The answer of the module in slot 0 to one request, through the platform's device calls; empty
// when the request fails.
std::vector<uint8_t> Ask(uint32_t code, std::vector<uint8_t> input, size_t length) {
  const std::string path =
      std::string(dc::kDeviceNamespacePrefix) + dc::DeviceName(dc::DeviceNaming::kQDev, 0).text;
  HANDLE device = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
  FUZZ_CHECK(device != INVALID_HANDLE_VALUE);
  std::vector<uint8_t> output(length);
  DWORD transferred = 0;
  const BOOL ok = DeviceIoControl(device, code, input.data(), static_cast<DWORD>(input.size()),
                                  output.data(), static_cast<DWORD>(length), &transferred, nullptr);
  CloseHandle(device);
  if (!ok) return {};
  output.resize(transferred);
  return output;
}

std::vector<uint8_t> Vendor(uint16_t direction, uint16_t request, uint32_t address, size_t length) {
  std::vector<uint8_t> header(dc::kVendorRequestSize);
  dc::EncodeVendorRequest(
      {direction, request, static_cast<uint16_t>(address), static_cast<uint16_t>(address >> 16)},
      header.data());
  return Ask(IOCTL_VENDOR_REQUEST, header, length);
}

// Each numeric option and how to see its value in the module that it makes (the slot is seen in
// the announcement instead).
struct NumericOption {
  const char* name;
  uint64_t max;
  uint64_t (*reported)();  // null for the slot
};

uint64_t ReportedGrade() {
  Vendor(dc::kDirectionToModule, dc::kRequestRun, module_addresses::kBootLoaderEntry, 0);
  const std::vector<uint8_t> grade =
      Vendor(dc::kDirectionToHost, dc::kRequestRead, SEL_MODULE_TG_DATA, 1);
  FUZZ_CHECK(grade.size() == 1);
  return grade[0];
}

uint64_t ReportedSpeed() {
  const std::vector<uint8_t> speed =
      Vendor(dc::kDirectionToHost, dc::kRequestUsbSpeed, 0, dc::kUsbSpeedLength);
  FUZZ_CHECK(speed.size() == 1);
  return speed[0];
}

uint64_t ReportedTypeCode() {
  const std::vector<uint8_t> info = Ask(IOCTL_GET_DEVICE_INFO, {}, dc::kDeviceInfoSize);
  FUZZ_CHECK(info.size() == dc::kDeviceInfoSize);
  return dc::ModuleTypeCodeOf(info.data());
}

constexpr NumericOption kNumericOptions[] = {{"--slot", 0xFFFF, nullptr},
                                             {"--temperature-grade", 0xFF, ReportedGrade},
                                             {"--usb-speed", 0xFF, ReportedSpeed},
                                             {"--type-code", 0xFFFFFFFF, ReportedTypeCode}};

// The slot that a served run announces is the one that --slot names.
void CheckAnnouncedSlot(const std::vector<std::string>& args, const Run& run) {
  const std::optional<std::string> slot = OptionValue(args, "--slot");
  if (!slot) return;
  const std::optional<uint64_t> value = OptionNumber(*slot);
  FUZZ_CHECK(value.has_value());
  FUZZ_CHECK(run.out.find("r4690-sim: slot " + std::to_string(*value) + ":") != std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/r4690-fuzz-sim-XXXXXX";
  FUZZ_CHECK(mkdtemp(folder) != nullptr);
  gSandbox = folder;
  std::atexit(RemoveSandbox);
  setenv("QDEV_DEVICE_DIR", (gSandbox + "/dev").c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  std::optional<std::string> scenario;
  std::istringstream lines(input);
  for (std::string line; std::getline(lines, line);) {
    if (line == "@scenario") {
      const auto at = static_cast<size_t>(lines.tellg());
      scenario = at <= input.size() ? input.substr(at) : std::string();
      break;
    }
    // An argument reaches a program as a C string: it ends at its first zero byte.
    args.push_back(line.substr(0, line.find('\0')));
  }
  if (args.size() > 32) return 0;
  if (scenario) std::ofstream(gSandbox + "/scenario.json", std::ios::binary) << *scenario;
  Confine(&args, scenario.has_value());

  const Run run = RunCommand(args);
  FUZZ_CHECK(run.status == sim::kExitStopped || run.status == sim::kExitBadInput ||
             run.status == sim::kExitPowerLost || run.status == sim::kExitStateLost);
  if (run.status == sim::kExitBadInput) {
    FUZZ_CHECK(IsRefusalLine(run.err));
    // With nothing but the scenario to refuse, the refusal names its file.
    if (args.size() == 2 && scenario) {
      FUZZ_CHECK(run.err.find(gSandbox + "/scenario.json") != std::string::npos);
    }
  }
  if (run.out.find("r4690-sim: ready\n") != std::string::npos) {
    // Every number it took is written in the one syntax, and the slot is the one it names.
    for (const NumericOption& option : kNumericOptions) {
      if (const std::optional<std::string> text = OptionValue(args, option.name)) {
        FUZZ_CHECK(OptionNumber(*text).has_value());
      }
    }
    CheckAnnouncedSlot(args, run);
  }

  // A decimal value in range, alone, is accepted, and the module has that value.
  for (const NumericOption& option : kNumericOptions) {
    const std::optional<std::string> text = OptionValue(args, option.name);
    if (!text || text->find_first_not_of("0123456789") != std::string::npos) continue;
    const std::optional<uint64_t> value = OptionNumber(*text);
    if (!value || *value > option.max) continue;
    const std::vector<std::string> alone = {option.name, *text};
    std::optional<uint64_t> reported;
    const Run aloneRun = RunCommand(alone, [&] {
      if (option.reported != nullptr) reported = option.reported();
    });
    FUZZ_CHECK(aloneRun.status == sim::kExitStopped);
    CheckAnnouncedSlot(alone, aloneRun);
    FUZZ_CHECK(option.reported == nullptr || reported == value);
  }
  return 0;
}
