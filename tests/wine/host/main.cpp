// stand-in-host: runs one program against simulated R46-90 modules behind the kernel-driver
// stand-in, all in one Windows session (under Wine the driver lives only as long as the session).
//
//   stand-in-host --scenario FILE [--traffic FILE] [--state-dir DIR [--fresh]] [--no-faults]
//                 -- PROGRAM [ARGUMENT...]
//
// The options mean what they mean to the r4690-sim command: a state folder keeps the modules'
// memories from one run to the next (a power cycle), --fresh starts from the scenario anyway and
// --no-faults drops the scenario's faults.
//
// It builds the scenario's modules (the Linux simulator's model and scenario format), serves each
// device on its pipe, starts the driver stand-in (qdev_stand_in.sys beside this executable) for
// those devices, runs PROGRAM with this process's standard handles, takes the devices away again
// and exits with PROGRAM's exit code. It prints nothing on standard output; its own failures are
// one line "stand-in-host: ..." on standard error and exit code 125.
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "sim/embedded_images.h"
#include "sim/rack.h"
#include "sim/scenario_json.h"
#include "tests/wine/host/driver_service.h"
#include "tests/wine/host/pipe_endpoint.h"
#include "tests/wine/stand_in_names.h"

namespace {

constexpr int kHostFailure = 125;
constexpr DWORD kConnectTimeoutMs = 10000;

int Fail(const std::string& message) {
  std::fprintf(stderr, "stand-in-host: %s\n", message.c_str());
  return kHostFailure;
}

struct Options {
  std::string scenario;
  std::string traffic;
  std::string stateDir;
  bool fresh = false;
  bool noFaults = false;
  std::vector<std::string> program;
};

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") break;
    if (arg == "--fresh" || arg == "--no-faults") {
      (arg == "--fresh" ? options->fresh : options->noFaults) = true;
    } else if ((arg == "--scenario" || arg == "--traffic" || arg == "--state-dir") &&
               i + 1 < argc) {
      const std::string value = argv[++i];
      if (arg == "--scenario") options->scenario = value;
      if (arg == "--traffic") options->traffic = value;
      if (arg == "--state-dir") options->stateDir = value;
    } else {
      *error = "unknown or incomplete option " + arg;
      return false;
    }
  }
  for (++i; i < argc; ++i) options->program.push_back(argv[i]);
  if (options->scenario.empty() || options->program.empty()) {
    *error =
        "usage: stand-in-host --scenario FILE [--traffic FILE] [--state-dir DIR [--fresh]] "
        "[--no-faults] -- PROGRAM [ARGUMENT...]";
    return false;
  }
  return true;
}

// A command line that CommandLineToArgv splits back into `words` (none of ours holds a quote).
std::string CommandLine(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    line += '"' + word + '"';
  }
  return line;
}

bool RunProgram(const std::vector<std::string>& program, DWORD* exitCode, std::string* error) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  std::string line = CommandLine(program);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    *error = "cannot start " + program[0] + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) return Fail(error);

  std::ifstream file(options.scenario, std::ios::binary);
  std::stringstream json;
  json << file.rdbuf();
  if (!file) return Fail("cannot read " + options.scenario);
  sim::Scenario scenario;
  if (!sim::ParseScenario(json.str(), &scenario, &error)) {
    return Fail(options.scenario + ": " + error);
  }
  if (options.noFaults) {
    for (sim::ModuleConfig& module : scenario.modules) module.faults.clear();
  }
  sim::Rack rack;
  if (!rack.Build(scenario, sim::LookupEmbeddedImages(), &error)) return Fail(error);
  // Every check before anything is written, as the simulator command does.
  sim::StateStore store;
  std::vector<sim::SavedMemories> saved;
  if (!options.stateDir.empty() && (!store.Open(options.stateDir, &error) ||
                                    !rack.ReadStore(store, options.fresh, &saved, &error))) {
    return Fail(error);
  }
  if (!options.traffic.empty() && !rack.traffic().OpenFile(options.traffic, &error)) {
    return Fail(error);
  }
  if (!options.stateDir.empty() && !rack.AttachStore(store, saved, &error)) return Fail(error);
  rack.PowerUp();

  // The pipes must exist before the driver starts: its DriverEntry opens them.
  const HANDLE powerGone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (powerGone == nullptr) return Fail("cannot create an event");
  std::vector<std::string> devices;
  std::vector<std::unique_ptr<stand_in::PipeEndpoint>> endpoints;
  for (const auto& device : rack.Devices()) {
    devices.push_back(device.first);
    endpoints.push_back(std::make_unique<stand_in::PipeEndpoint>(&rack, device.first, powerGone));
    if (!endpoints.back()->Create(&error)) return Fail(error);
    endpoints.back()->Start();
  }

  stand_in::DriverService driver;
  if (!driver.Install(stand_in::DriverPathBesideExecutable(), devices, &error) ||
      !driver.Start(&error))
    return Fail(error);
  for (auto& endpoint : endpoints) {
    if (!endpoint->WaitConnected(kConnectTimeoutMs)) return Fail("the driver did not connect");
  }

  DWORD exitCode = 0;
  const bool ran = RunProgram(options.program, &exitCode, &error);

  // The model goes first, so that the driver's readers end; then the driver unloads.
  bool garbled = false;
  for (auto& endpoint : endpoints) {
    endpoint->Stop();
    garbled = garbled || endpoint->ProtocolError();
  }
  driver.Stop();
  CloseHandle(powerGone);
  if (!ran) return Fail(error);
  if (garbled) return Fail("the driver sent a frame that is not a request");
  error = rack.TakeStoreError();
  if (!error.empty()) return Fail(error);
  std::fflush(stdout);
  return static_cast<int>(exitCode);
}
