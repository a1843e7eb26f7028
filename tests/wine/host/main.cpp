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

#include "platform/win32.h"
#include "sim/simulator.h"
#include "tests/wine/host/driver_service.h"

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "stand-in-host: %s\n", message.c_str());
  return 125;
}

}  // namespace

int main(int argc, char** argv) {
  std::string scenario, commandLine, error;
  sim::SimulatorOptions options;  // the pipes where the driver looks: the default
  int i = 1;
  for (; i < argc && std::string(argv[i]) != "--"; ++i) {
    const std::string arg = argv[i];
    std::string* value = arg == "--scenario"    ? &scenario
                         : arg == "--traffic"   ? &options.trafficFile
                         : arg == "--state-dir" ? &options.stateDir
                                                : nullptr;
    if (arg == "--fresh" || arg == "--no-faults") {
      (arg == "--fresh" ? options.fresh : options.noFaults) = true;
    } else if (value != nullptr && i + 1 < argc) {
      *value = argv[++i];
    } else {
      scenario.clear();
      break;
    }
  }
  // A command line that CommandLineToArgv splits back into the words (none of ours holds a quote).
  for (++i; i < argc; ++i)
    commandLine += std::string(commandLine.empty() ? "" : " ") + '"' + argv[i] + '"';
  if (scenario.empty() || commandLine.empty()) {
    return Fail(
        "usage: stand-in-host --scenario FILE [--traffic FILE] [--state-dir DIR [--fresh]] "
        "[--no-faults] -- PROGRAM [ARGUMENT...]");
  }

  std::ifstream file(scenario, std::ios::binary);
  std::stringstream json;
  json << file.rdbuf();
  if (!file) return Fail("cannot read " + scenario);
  sim::Simulator simulator;
  if (!simulator.LoadScenario(json.str(), &error)) return Fail(scenario + ": " + error);
  // The pipes exist from here on: the driver's DriverEntry opens them.
  if (!simulator.Start(options, &error)) return Fail(error);
  stand_in::DriverService driver;
  if (!driver.Start(simulator.DeviceNames(), &error)) return Fail(error);

  // The program, with this process's standard handles.
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  const bool ran = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &process);
  if (!ran)
    error = "cannot start " + commandLine + " (error " + std::to_string(GetLastError()) + ")";
  DWORD exitCode = 0;
  if (ran) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }

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
