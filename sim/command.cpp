// The r4690-sim command: options, scenario, endpoints, ready line, and a clean stop.
#include "sim/command.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "contract/driver_contract.h"
#include "platform/stop_signals.h"
#include "r4690_version.h"
#include "sim/scenario_json.h"
#include "sim/simulator.h"
#include "sim/user_text.h"

namespace sim {

namespace dc = driver_contract;

namespace {

// Set by the thread that reads the stop signals; where they cannot be read so, by a signal
// handler, and the run then looks at it every kStopCheckMs. Lock-free, so a handler may set it.
std::atomic<int> stopRequested{0};
static_assert(std::atomic<int>::is_always_lock_free);
constexpr int kStopCheckMs = 100;

extern "C" void OnStopSignal(int) {
  stopRequested = 1;
}

// The options that set one scenario key in every module.
struct ModuleOption {
  const char* option;  // on the command line
  const char* key;     // in a scenario's module
  const char* what;    // for the help; the allowed values follow from the key
};
constexpr ModuleOption kModuleOptions[] = {
    {"--slot", "slot", "slot of the module (one-module scenarios)"},
    {"--naming", "naming", "device names"},
    {"--revision", "revision", "revision letter, \"\" for none"},
    {"--temperature-grade", "temperatureGrade", "grade byte (0 commercial, 1 industrial)"},
    {"--application", "application", "MCU application at first power-up"},
    {"--application-version", "applicationVersion", "version of a stand-in application"},
    {"--boot-loader-version", "bootLoaderVersion", "boot-loader version text"},
    {"--model-name", "modelName", "model name the module reports, at most 7 bytes"},
    {"--usb-speed", "usbSpeed", "USB speed byte"},
    {"--type-code", "typeCode", "module type code of the device information"},
    {"--boot-flash", "bootFlash", "boot flash at first power-up"},
    {"--pld-at-power-up", "pldAtPowerUp", "whether the PLD configures at power-up"},
    {"--latency-ms", "latencyMs", "ms after which the module answers each request"},
};

constexpr char kNumberSyntax[] = "decimal, or 0x and hexadecimal digits";

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : ", ") + w;
  return text;
}

// The help text of a module option: what it sets and the values it takes.
std::string OptionHelp(const ModuleOption& o) {
  ModuleKeyForm form;
  if (!DescribeModuleKey(o.key, &form)) return o.what;
  if (form.number) return std::string(o.what) + ": 0.." + std::to_string(form.max);
  return std::string(o.what) + ": " + Joined(form.choices);
}

// A module option's value as a scenario setting; false with a one-line reason. Numbers are read
// here, in the one syntax of the simulator, and texts go to the scenario as they are.
bool ToSetting(const ModuleOption& o, const std::string& value, ModuleSetting* setting,
               std::string* error) {
  setting->key = o.key;
  setting->text = value;
  ModuleKeyForm form;
  if (!DescribeModuleKey(o.key, &form)) return true;
  if (form.number) {
    uint64_t n = 0;
    if (!ParseNumber(value, form.max, &n)) {
      *error = std::string(o.option) + " must be an integer 0.." + std::to_string(form.max) + " (" +
               kNumberSyntax + ")";
      return false;
    }
    setting->number = n;
    return true;
  }
  if (std::find(form.choices.begin(), form.choices.end(), value) != form.choices.end()) {
    return true;
  }
  const std::string nearest = NearestName(value, form.choices);
  *error = std::string(o.option) + " must be one of " + Joined(form.choices) + ", not \"" +
           Printable(value) + "\"" + (nearest.empty() ? "" : " (did you mean " + nearest + "?)");
  return false;
}

// Scenario files are a few kilobytes; anything this large is not one (or never ends).
constexpr size_t kMaxScenarioBytes = 4 << 20;

enum class ReadResult { kRead, kUnreadable, kTooLarge };

// Reads at most one byte more than a scenario may hold.
ReadResult ReadScenarioFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return ReadResult::kUnreadable;
  std::string buffer(kMaxScenarioBytes + 1, '\0');
  in.read(&buffer[0], static_cast<std::streamsize>(buffer.size()));
  if (in.bad()) return ReadResult::kUnreadable;
  buffer.resize(static_cast<size_t>(in.gcount()));
  if (buffer.size() > kMaxScenarioBytes) return ReadResult::kTooLarge;
  *text = std::move(buffer);
  return ReadResult::kRead;
}

// What the help ends with: the number syntax, the signals and the exit statuses.
std::string HelpFooter() {
  const auto status = [](int code, const char* meaning) {
    return "  " + std::to_string(code) + "  " + meaning + "\n";
  };
  return std::string("\nNumbers: ") + kNumberSyntax +
         ".\n"
         "SIGINT, SIGTERM, SIGHUP and SIGQUIT stop it: it removes its endpoints, prints\n"
         "\"r4690-sim: stopped\" and exits.\n"
         "Exit status:\n" +
         status(kExitStopped, "stopped by a signal") +
         status(kExitBadInput,
                "bad input (options, scenario, state or device folder); nothing served") +
         status(kExitPowerLost, "a power-loss fault fired") +
         status(kExitStateLost,
                "a change could not be saved in the state folder (wins over 0 and 3)");
}

// The lines that say what each module is: its device names, model and revision, where its
// memories came from when that was the state folder, its latency, and the faults it has armed.
void DescribeModules(const Scenario& scenario, const Simulator* simulator, bool noFaults,
                     std::ostream& out) {
  for (const ModuleConfig& m : scenario.modules) {
    out << "r4690-sim: slot " << m.slot << ":";
    if (m.naming != Naming::kQDevUsb) {
      out << " " << dc::kDeviceNamespacePrefix
          << dc::DeviceName(dc::DeviceNaming::kQDev, m.slot).text;
    }
    if (m.naming != Naming::kQDev) {
      out << " " << dc::kDeviceNamespacePrefix
          << dc::DeviceName(dc::DeviceNaming::kQDevUsb, m.slot).text;
    }
    out << " (" << Printable(m.modelName) << ", revision "
        << (m.revision != '\0' ? Printable(std::string(1, m.revision)) : std::string("none"))
        << ")";
    if (simulator != nullptr && simulator->MemoriesFromStateFolder(m.slot)) {
      out << ", memories from the state folder";
    }
    if (m.latencyMs != 0) out << ", latency " << m.latencyMs << " ms";
    if (m.heldOpen) out << ", held open by another program";
    out << "\n";
    if (noFaults) continue;
    for (const Fault& f : m.faults) {
      out << "r4690-sim: slot " << m.slot << ": fault " << DescribeFault(f) << "\n";
    }
  }
}

// Where the modules are, for people and for scripts.
void Announce(const Simulator& simulator, const Scenario& scenario, bool noFaults,
              std::ostream& out) {
  out << "r4690-sim: device folder " << Printable(simulator.DeviceDir()) << "\n";
  DescribeModules(scenario, &simulator, noFaults, out);
  out << "r4690-sim: ready" << std::endl;
}

int Run(int argc, char** argv, std::ostream& out, std::ostream& err) {
  CLI::App app{"r4690-sim: simulated R46-90 modules behind device endpoints"};
  std::string scenarioFile;
  SimulatorOptions options;
  bool check = false, version = false;
  std::string moduleValues[std::size(kModuleOptions)];
  app.add_option("--scenario", scenarioFile, "scenario file (JSON); default: one healthy module")
      ->type_name("FILE");
  app.add_option("--state-dir", options.stateDir, "folder that keeps the modules' memories")
      ->type_name("DIR");
  app.add_option("--device-dir", options.deviceDir,
                 "folder of the device endpoints; default: $QDEV_DEVICE_DIR or /tmp/qdev")
      ->type_name("DIR");
  app.add_option("--traffic", options.trafficFile,
                 "file that receives the traffic record, - for standard output")
      ->type_name("FILE");
  app.add_flag("--fresh", options.fresh, "ignore memories saved in the state folder");
  app.add_flag("--no-faults", options.noFaults, "drop the scenario's faults");
  app.add_flag("--check", check,
               "check the scenario and the module options, print the modules, exit");
  app.add_flag("--version", version, "print the version and exit");
  std::vector<CLI::Option*> moduleOptions;
  for (size_t i = 0; i < std::size(kModuleOptions); ++i) {
    ModuleKeyForm form;
    const bool known = DescribeModuleKey(kModuleOptions[i].key, &form);
    moduleOptions.push_back(
        app.add_option(kModuleOptions[i].option, moduleValues[i], OptionHelp(kModuleOptions[i]))
            ->type_name(known && form.number ? "N" : "TEXT"));
  }
  app.footer(HelpFooter());
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {
      out << app.help();
      return kExitStopped;
    }
    // The message may hold an argument's bytes.
    err << "r4690-sim: " << Printable(e.what()) << "\n";
    return kExitBadInput;
  }

  if (version) {
    out << "r4690-sim " << R4690_VERSION_TEXT << "\n";
    return kExitStopped;
  }

  // The record goes to its file or stream; in memory it would only grow, since nothing reads it.
  options.trafficLinesKept = 0;
  if (options.trafficFile == "-") {
    options.trafficFile.clear();
    options.trafficStream = &out;
  }

  std::vector<ModuleSetting> settings;
  for (size_t i = 0; i < std::size(kModuleOptions); ++i) {
    if (moduleOptions[i]->count() == 0) continue;
    ModuleSetting setting;
    std::string error;
    if (!ToSetting(kModuleOptions[i], moduleValues[i], &setting, &error)) {
      err << "r4690-sim: " << error << "\n";
      return kExitBadInput;
    }
    settings.push_back(setting);
  }

  const std::string fileName = Printable(scenarioFile);
  std::string text = "{}";
  if (!scenarioFile.empty()) {
    switch (ReadScenarioFile(scenarioFile, &text)) {
      case ReadResult::kRead:
        break;
      case ReadResult::kUnreadable:
        err << "r4690-sim: cannot read the scenario file " << fileName << "\n";
        return kExitBadInput;
      case ReadResult::kTooLarge:
        err << "r4690-sim: the scenario file " << fileName << " is larger than "
            << (kMaxScenarioBytes >> 20) << " MiB\n";
        return kExitBadInput;
    }
  }
  Scenario scenario;
  std::string error;
  if (!ParseScenario(text, &scenario, &error)) {
    err << "r4690-sim: " << fileName << ": " << error << "\n";
    return kExitBadInput;
  }
  if (app.count("--slot") != 0 && scenario.modules.size() > 1) {
    err << "r4690-sim: --slot needs a scenario with one module\n";
    return kExitBadInput;
  }
  if (!ParseScenario(text, settings, &scenario, &error)) {
    err << "r4690-sim: " << error << "\n";
    return kExitBadInput;
  }
  if (check) {
    DescribeModules(scenario, nullptr, options.noFaults, out);
    out << "r4690-sim: " << (scenarioFile.empty() ? "the default scenario" : fileName)
        << " is a valid scenario of " << scenario.modules.size()
        << (scenario.modules.size() == 1 ? " module" : " modules") << "\n";
    return kExitStopped;
  }

  Simulator simulator(scenario);
  // SIGINT, SIGTERM, SIGHUP and SIGQUIT stop the run; they wake it at once. Made before the
  // simulator starts its threads, which inherit the signal mask.
  stopRequested = 0;
  qdev::StopSignals stopSignals([&simulator](int) {
    stopRequested = 1;
    simulator.Interrupt();
  });
  if (!stopSignals.ok()) {
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(s, OnStopSignal);
  }
  if (!simulator.Start(options, &error)) {
    err << "r4690-sim: " << Printable(error) << "\n";
    return kExitBadInput;
  }
  Announce(simulator, scenario, options.noFaults, out);

  // The first change that cannot be saved is told at once, in one line; the run goes on (its
  // request was refused, and the memories still equal what is saved) but ends with its own status.
  bool stateLost = false;
  auto checkState = [&simulator, &err, &stateLost] {
    const std::string stateError = simulator.TakeStateError();
    if (stateError.empty() || stateLost) return;
    stateLost = true;
    err << "r4690-sim: a change could not be saved and its request was refused: "
        << Printable(stateError) << std::endl;
  };
  int status = kExitStopped;
  while (stopRequested == 0) {
    simulator.WaitForEvent(stopSignals.ok() ? -1 : kStopCheckMs);
    if (simulator.WaitForPowerLoss(0)) {
      out << "r4690-sim: power lost" << std::endl;
      status = kExitPowerLost;
      break;
    }
    checkState();
  }
  simulator.Stop();
  checkState();
  if (status == kExitStopped) out << "r4690-sim: stopped" << std::endl;
  return stateLost ? kExitStateLost : status;
}

}  // namespace

int RunCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
  try {
    return Run(argc, argv, out, err);
  } catch (const std::exception& e) {
    err << "r4690-sim: " << e.what() << "\n";
    return kExitBadInput;
  }
}

}  // namespace sim
