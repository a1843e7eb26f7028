// The r4690-sim command, in its steps: the options, the scenario, the stop signals and the
// serving, with the ready line and a clean stop.
#include "sim/command.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "contract/driver_contract.h"
#include "contract/module_addresses.h"
#include "platform/stop_signals.h"
#include "r4690_version.h"
#include "sim/memory_map.h"
#include "sim/module_content.h"
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

enum class ReadResult { kRead, kUnreadable, kNotAFile, kTooLarge };

// Reads at most one byte more than a scenario may hold. Anything but a regular file is refused
// before it is opened: a FIFO would block the open for ever, and a device never ends.
ReadResult ReadScenarioFile(const std::string& path, std::string* text) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    return ReadResult::kNotAFile;
  }
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
         status(kExitStopped, "stopped by a signal, or --check, --help or --version answered") +
         status(kExitBadInput,
                "bad input (options, scenario, state or device folder); nothing served") +
         status(kExitPowerLost, "a power-loss fault fired") +
         status(kExitStateLost,
                "a change could not be saved in the state folder (wins over 0 and 3)");
}

// The revision a module reports: the byte of its module description, which saved memories may
// have brought, or before a start the scenario's.
char Revision(const ModuleConfig& m, const Simulator* simulator) {
  std::vector<uint8_t> byte;
  if (simulator != nullptr &&
      simulator->ReadMemory(m.slot, SEL_MCU_FLASH + kModuleDescriptionOffset + layout::kRevision, 1,
                            &byte)) {
    return static_cast<char>(byte.at(0));
  }
  return m.revision;
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
    const char revision = Revision(m, simulator);
    out << " (" << Printable(m.modelName) << ", revision "
        << (revision != '\0' ? Printable(std::string(1, revision)) : std::string("none")) << ")";
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

// What the command line asks for.
struct Invocation {
  std::string scenarioFile;
  SimulatorOptions options;
  bool check = false;
  bool slotGiven = false;
  std::vector<ModuleSetting> settings;  // of the module options given
};

// The refusal of a command line that is not the command's, in one line that points to the help.
// An unknown option gets the nearest known one, as an unknown scenario key does.
std::string CommandLineRefusal(const CLI::App& app, const std::string& problem,
                               const std::vector<std::string>& extras) {
  std::string what = problem;
  if (!extras.empty() && extras[0].rfind('-', 0) == 0) {
    std::vector<std::string> known;
    for (const CLI::Option* o : app.get_options()) known.push_back(o->get_name());
    const std::string word = extras[0].substr(0, extras[0].find('='));
    const std::string nearest = NearestName(word, known);
    what = "unknown option " + word + (nearest.empty() ? "" : " (did you mean " + nearest + "?)");
  } else if (!extras.empty()) {
    what = "unexpected argument " + extras[0];
  }
  // The words may hold an argument's bytes.
  return Printable(what) + "; see r4690-sim --help";
}

// The options. Empty when the run goes on; otherwise the status it ends with, --help and
// --version answered or the command line refused.
std::optional<int> ReadOptions(int argc, char** argv, Invocation* run, std::ostream& out,
                               std::ostream& err) {
  CLI::App app{"r4690-sim: simulated R46-90 modules behind device endpoints"};
  SimulatorOptions& options = run->options;
  bool version = false;
  std::string moduleValues[std::size(kModuleOptions)];
  app.add_option("--scenario", run->scenarioFile,
                 "scenario file (JSON); default: one healthy module")
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
  app.add_flag("--check", run->check,
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
  app.allow_extras();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {
      out << app.help();
      return kExitStopped;
    }
    err << "r4690-sim: " << CommandLineRefusal(app, e.what(), {}) << "\n";
    return kExitBadInput;
  }
  if (!app.remaining().empty()) {
    err << "r4690-sim: " << CommandLineRefusal(app, "", app.remaining()) << "\n";
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
  run->slotGiven = app.count("--slot") != 0;
  for (size_t i = 0; i < std::size(kModuleOptions); ++i) {
    if (moduleOptions[i]->count() == 0) continue;
    ModuleSetting setting;
    std::string error;
    if (!ToSetting(kModuleOptions[i], moduleValues[i], &setting, &error)) {
      err << "r4690-sim: " << error << "\n";
      return kExitBadInput;
    }
    run->settings.push_back(setting);
  }
  return std::nullopt;
}

// The scenario: its file (or the default) with the module options put into every module.
bool ReadScenario(const Invocation& run, Scenario* scenario, std::ostream& err) {
  const std::string fileName = Printable(run.scenarioFile);
  std::string text = "{}";
  if (!run.scenarioFile.empty()) {
    switch (ReadScenarioFile(run.scenarioFile, &text)) {
      case ReadResult::kRead:
        break;
      case ReadResult::kUnreadable:
        err << "r4690-sim: cannot read the scenario file " << fileName << "\n";
        return false;
      case ReadResult::kNotAFile:
        err << "r4690-sim: the scenario file " << fileName << " is not a regular file\n";
        return false;
      case ReadResult::kTooLarge:
        err << "r4690-sim: the scenario file " << fileName << " is larger than "
            << (kMaxScenarioBytes >> 20) << " MiB\n";
        return false;
    }
  }
  std::string error;
  if (!ParseScenario(text, scenario, &error)) {
    err << "r4690-sim: " << fileName << ": " << error << "\n";
    return false;
  }
  if (run.slotGiven && scenario->modules.size() > 1) {
    err << "r4690-sim: --slot needs a scenario with one module\n";
    return false;
  }
  if (!ParseScenario(text, run.settings, scenario, &error)) {
    err << "r4690-sim: " << error << "\n";
    return false;
  }
  return true;
}

// Starts the modules, announces them and serves until a stop signal or a power loss.
int Serve(const Scenario& scenario, const SimulatorOptions& options, std::ostream& out,
          std::ostream& err) {
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
  std::string error;
  if (!simulator.Start(options, &error)) {
    err << "r4690-sim: " << Printable(error) << "\n";
    return kExitBadInput;
  }
  out << "r4690-sim: device folder " << Printable(simulator.DeviceDir()) << "\n";
  DescribeModules(scenario, &simulator, options.noFaults, out);
  out << "r4690-sim: ready" << std::endl;

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

int Run(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Invocation run;
  if (const std::optional<int> status = ReadOptions(argc, argv, &run, out, err)) return *status;
  Scenario scenario;
  if (!ReadScenario(run, &scenario, err)) return kExitBadInput;
  if (run.check) {
    DescribeModules(scenario, nullptr, run.options.noFaults, out);
    out << "r4690-sim: "
        << (run.scenarioFile.empty() ? "the default scenario" : Printable(run.scenarioFile))
        << " is a valid scenario of " << scenario.modules.size()
        << (scenario.modules.size() == 1 ? " module" : " modules") << "\n";
    return kExitStopped;
  }
  return Serve(scenario, run.options, out, err);
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
