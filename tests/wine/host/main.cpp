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
// It starts the scenario's modules in sim::Simulator, the simulator that r4690-sim runs, whose
// endpoints on Windows are the pipes the driver opens; starts the driver stand-in
// (qdev_stand_in.sys beside this executable) for those devices; runs PROGRAM with this process's
// standard handles; takes the devices away again and exits with PROGRAM's exit code. It prints
// nothing on standard output; its own failures, a change that could not be saved in the state
// folder among them, are one line "stand-in-host: ..." on standard error and exit code 125.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "sim/simulator.h"
#include "tests/wine/host/driver_service.h"

namespace {

constexpr int kHostFailure = 125;

int Fail(const std::string& message) {
  std::fprintf(stderr, "stand-in-host: %s\n", message.c_str());
  return kHostFailure;
}

struct Options {
  std::string scenario;
  sim::SimulatorOptions simulator;  // the pipes where the driver looks: the default
  std::vector<std::string> program;
};

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") break;
    if (arg == "--fresh" || arg == "--no-faults") {
      (arg == "--fresh" ? options->simulator.fresh : options->simulator.noFaults) = true;
    } else if ((arg == "--scenario" || arg == "--traffic" || arg == "--state-dir") &&
               i + 1 < argc) {
      const std::string value = argv[++i];
      if (arg == "--scenario") options->scenario = value;
      if (arg == "--traffic") options->simulator.trafficFile = value;
      if (arg == "--state-dir") options->simulator.stateDir = value;
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
  sim::Simulator simulator;
  if (!simulator.LoadScenario(json.str(), &error)) return Fail(options.scenario + ": " + error);
  // The pipes exist from here on: the driver's DriverEntry opens them.
  if (!simulator.Start(options.simulator, &error)) return Fail(error);

  stand_in::DriverService driver;
  if (!driver.Install(stand_in::DriverPathBesideExecutable(), simulator.DeviceNames(), &error) ||
      !driver.Start(&error))
    return Fail(error);

  DWORD exitCode = 0;
  const bool ran = RunProgram(options.program, &exitCode, &error);

  // The modules go first, so that the driver's readers end; then the driver unloads.
  simulator.Stop();
  driver.Stop();
  if (!ran) return Fail(error);
  error = simulator.TakeStateError();
  if (!error.empty())
    return Fail("a change could not be saved and its request was refused: " + error);
  std::fflush(stdout);
  return static_cast<int>(exitCode);
}
