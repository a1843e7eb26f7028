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

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>

#include "contract/module_addresses.h"
#include "platform/stop_signals.h"
#include "platform/win32.h"
#include "sim/command.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;

std::string gSandbox;  // the target's own folder

// The output stream of a run: keeps the text, and once the run announces that it is ready calls
// `whileServing` and stops the run as Ctrl-C would in the program: a SIGINT sent to the thread
// that reads the command's stop signals.
struct StoppingOutput final : std::stringbuf {
  std::function<void()> whileServing;
  bool stopped = false;
  int sync() override {
    if (stopped || str().find("r4690-sim: ready\n") == std::string::npos) return 0;
    stopped = true;
    if (whileServing) whileServing();
    // A serving command has a thread that reads its stop signals.
    std::error_code ec;
    long tid = 0;
    for (const fs::directory_entry& task : fs::directory_iterator("/proc/self/task", ec)) {
      std::string name;
      std::getline(std::ifstream(task.path() / "comm"), name);
      if (name == qdev::kStopSignalsThreadName) tid = std::stol(task.path().filename().string());
    }
    FUZZ_CHECK(tid != 0 && syscall(SYS_tgkill, getpid(), tid, SIGINT) == 0);
    return 0;
  }
};

struct Run {
  int status = 0;
  std::string out, err;
};

Run RunCommand(std::vector<std::string> args, std::function<void()> whileServing = nullptr) {
  std::error_code ec;
  fs::remove_all(gSandbox + "/state-dir", ec);
  fs::remove(gSandbox + "/traffic", ec);
  args.insert(args.begin(), "r4690-sim");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The command keeps its stop signals blocked when it ends (or, where it cannot read them from a
  // thread, handles them itself); libFuzzer's own handling of them comes back afterwards.
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  struct sigaction old[2];
  for (int i : {0, 1}) sigaction(i == 0 ? SIGINT : SIGTERM, nullptr, &old[i]);
  StoppingOutput outBuffer;
  outBuffer.whileServing = std::move(whileServing);
  std::ostream out(&outBuffer);
  std::ostringstream err;
  const int status = sim::RunCommand(static_cast<int>(args.size()), argv.data(), out, err);
  for (int i : {0, 1}) sigaction(i == 0 ? SIGINT : SIGTERM, &old[i], nullptr);
  pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  return {status, outBuffer.str(), err.str()};
}

// A number written as the command's options are to take it: decimal digits, or "0x" and
// hexadecimal digits; and a decimal one that fits the largest value of any option.
const std::regex kOptionNumber("[0-9]+|0[xX][0-9a-fA-F]+"), kDecimal("[0-9]{1,10}");

// The value of an option that appears once, as "--name value" or "--name=value".
std::optional<std::string> OptionValue(const std::vector<std::string>& args,
                                       const std::string& name) {
  std::optional<std::string> value;
  for (size_t i = 0; i < args.size(); ++i) {
    const bool spaced = args[i] == name && i + 1 < args.size();
    if (!spaced && args[i].rfind(name + "=", 0) != 0) continue;
    if (value) return std::nullopt;
    value = spaced ? args[i + 1] : args[i].substr(name.size() + 1);
  }
  return value;
}

namespace dc = driver_contract;

// The value of a number in either syntax (base 16 takes the "0x").
uint64_t NumberOf(const std::string& text) {
  return std::stoull(text, nullptr, text.find_first_of("xX") != std::string::npos ? 16 : 10);
}

// What the module in slot 0 reports, through the platform's device calls, of the value that an
// option other than --slot gives it; -1 for an answer of another length.
int64_t Reported(const std::string& option) {
  const std::string path =
      std::string(dc::kDeviceNamespacePrefix) + dc::DeviceName(dc::DeviceNaming::kQDev, 0).text;
  HANDLE device = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
  FUZZ_CHECK(device != INVALID_HANDLE_VALUE);
  // The answer to a request: a vendor request to the module's direction when `length` is 0, else
  // to the host; the device information when `request` is 0. Empty when the request fails.
  const auto ask = [device](uint16_t request, uint32_t address, size_t length) {
    std::vector<uint8_t> input, output(length);
    if (request != 0)
      input = fuzz::VendorHeader(length != 0 ? dc::kDirectionToHost : dc::kDirectionToModule,
                                 request, address);
    DWORD n = 0;
    const BOOL ok = DeviceIoControl(
        device, request != 0 ? IOCTL_VENDOR_REQUEST : IOCTL_GET_DEVICE_INFO, input.data(),
        static_cast<DWORD>(input.size()), output.data(), static_cast<DWORD>(length), &n, nullptr);
    return output.resize(ok ? n : 0), output;
  };
  const bool info = option == "--type-code", speed = option == "--usb-speed";
  if (!info && !speed) ask(dc::kRequestRun, module_addresses::kBootLoaderEntry, 0);
  const std::vector<uint8_t> answer = info    ? ask(0, 0, dc::kDeviceInfoSize)
                                      : speed ? ask(dc::kRequestUsbSpeed, 0, 1)
                                              : ask(dc::kRequestRead, SEL_MODULE_TG_DATA, 1);
  CloseHandle(device);
  if (info)
    return answer.size() == dc::kDeviceInfoSize ? int64_t{dc::ModuleTypeCodeOf(answer.data())} : -1;
  return answer.size() == 1 ? answer[0] : -1;
}

// Each numeric option and its largest value.
const std::pair<std::string, uint64_t> kNumericOptions[] = {
    {"--slot", 0xFFFF}, {"--temperature-grade", 0xFF}, {"--usb-speed", 0xFF}, {"--type-code", ~0u}};

// Whether a served run announces the slot that --slot names, as a number in the one syntax.
bool AnnouncesSlot(const std::vector<std::string>& args, const Run& run) {
  const std::optional<std::string> slot = OptionValue(args, "--slot");
  return !slot || (std::regex_match(*slot, kOptionNumber) &&
                   run.out.find("r4690-sim: slot " + std::to_string(NumberOf(*slot)) + ":") !=
                       std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/r4690-fuzz-sim-XXXXXX";
  FUZZ_CHECK(mkdtemp(folder) != nullptr);
  gSandbox = folder;
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(gSandbox, ec);
  });
  setenv("QDEV_DEVICE_DIR", (gSandbox + "/device-dir").c_str(), 1);
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
  if (scenario) std::ofstream(gSandbox + "/scenario", std::ios::binary) << *scenario;
  // The options that name files and folders take ones in the sandbox instead.
  for (const char* name : {"--scenario", "--state-dir", "--device-dir", "--traffic"}) {
    const std::string path = gSandbox + "/" + (name + 2);
    for (size_t i = 0; i < args.size(); ++i) {
      if (args[i] == name && i + 1 < args.size()) args[i + 1] = path;
      if (args[i].rfind(std::string(name) + "=", 0) == 0) args[i] = name + ("=" + path);
    }
  }
  if (scenario) args.insert(args.end(), {"--scenario", gSandbox + "/scenario"});

  const Run run = RunCommand(args);
  FUZZ_CHECK(run.status == sim::kExitStopped || run.status == sim::kExitBadInput ||
             run.status == sim::kExitPowerLost || run.status == sim::kExitStateLost);
  if (run.status == sim::kExitBadInput) {
    FUZZ_CHECK(run.err.rfind("r4690-sim: ", 0) == 0 && run.err.back() == '\n' &&
               fuzz::IsOneLineOfText(run.err.substr(0, run.err.size() - 1)));
    // With nothing but the scenario to refuse, the refusal names its file.
    FUZZ_CHECK(args.size() != 2 || !scenario ||
               run.err.find(gSandbox + "/scenario") != std::string::npos);
  }
  // A served run took every number in the one syntax, and announces the slot it names.
  const bool served = run.out.find("r4690-sim: ready\n") != std::string::npos;
  FUZZ_CHECK(!served || AnnouncesSlot(args, run));
  for (const auto& [name, max] : kNumericOptions) {
    const std::optional<std::string> text = OptionValue(args, name);
    FUZZ_CHECK(!served || !text || std::regex_match(*text, kOptionNumber));
    // A decimal value in range, alone, is accepted, and the module has that value.
    if (!text || !std::regex_match(*text, kDecimal) || NumberOf(*text) > max) continue;
    const std::vector<std::string> alone = {name, *text};
    int64_t reported = static_cast<int64_t>(NumberOf(*text));
    const Run aloneRun = RunCommand(alone, [&, n = name] {
      if (n != "--slot") reported = Reported(n);
    });
    FUZZ_CHECK(aloneRun.status == sim::kExitStopped && AnnouncesSlot(alone, aloneRun) &&
               reported == static_cast<int64_t>(NumberOf(*text)));
  }
  return 0;
}
