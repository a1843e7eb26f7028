// The r4690-sim command: options, scenario, endpoints, ready line, and a clean stop.
#include "sim/command.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <atomic>
#include <csignal>
#include <exception>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "contract/driver_contract.h"
#include "platform/stop_signals.h"
#include "sim/scenario_json.h"
#include "sim/simulator.h"

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

// Options that set one scenario key in every module.
struct Overrides {
  std::optional<unsigned> slot;
  std::optional<std::string> naming;
  std::optional<std::string> revision;
  std::optional<unsigned> temperatureGrade;
  std::optional<std::string> application;
  std::optional<std::string> applicationVersion;
  std::optional<std::string> bootLoaderVersion;
  std::optional<std::string> modelName;
  std::optional<unsigned> usbSpeed;
  std::optional<std::string> typeCode;
  std::optional<std::string> bootFlash;
  std::optional<std::string> pldAtPowerUp;
};

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

// The scenario text with the overrides applied to every module. The text has been parsed once
// already, so it is an object here.
std::string ApplyOverrides(const std::string& text, const Overrides& o) {
  nlohmann::json j = nlohmann::json::parse(text);
  if (!j.contains("modules")) j["modules"] = nlohmann::json::array({nlohmann::json::object()});
  for (auto& m : j["modules"]) {
    if (o.slot) m["slot"] = *o.slot;
    if (o.naming) m["naming"] = *o.naming;
    if (o.revision) m["revision"] = *o.revision;
    if (o.temperatureGrade) m["temperatureGrade"] = *o.temperatureGrade;
    if (o.application) m["application"] = *o.application;
    if (o.applicationVersion) m["applicationVersion"] = *o.applicationVersion;
    if (o.bootLoaderVersion) m["bootLoaderVersion"] = *o.bootLoaderVersion;
    if (o.modelName) m["modelName"] = *o.modelName;
    if (o.usbSpeed) m["usbSpeed"] = *o.usbSpeed;
    if (o.typeCode) {
      // A decimal option becomes a number; anything else goes as text ("0x20", or an error).
      const std::string& t = *o.typeCode;
      const bool decimal =
          !t.empty() && t.size() <= 10 && t.find_first_not_of("0123456789") == std::string::npos;
      if (decimal) {
        m["typeCode"] = std::stoull(t);
      } else {
        m["typeCode"] = t;
      }
    }
    if (o.bootFlash) m["bootFlash"] = *o.bootFlash;
    if (o.pldAtPowerUp) m["pldAtPowerUp"] = *o.pldAtPowerUp;
  }
  return j.dump();
}

// Where the modules are, for people and for scripts.
void Announce(const Simulator& simulator, const Scenario& scenario, std::ostream& out) {
  out << "r4690-sim: device folder " << simulator.DeviceDir() << "\n";
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
    out << " (" << m.modelName << ", revision "
        << (m.revision != '\0' ? std::string(1, m.revision) : std::string("none")) << ")\n";
  }
  out << "r4690-sim: ready" << std::endl;
}

int Run(int argc, char** argv, std::ostream& out, std::ostream& err) {
  CLI::App app{"r4690-sim: simulated R46-90 modules behind device endpoints"};
  std::string scenarioFile;
  SimulatorOptions options;
  Overrides o;
  app.add_option("--scenario", scenarioFile, "scenario file (JSON); default: one healthy module");
  app.add_option("--state-dir", options.stateDir, "folder that keeps the modules' memories");
  app.add_option("--device-dir", options.deviceDir,
                 "folder of the device endpoints; default: $QDEV_DEVICE_DIR or /tmp/qdev");
  app.add_option("--traffic", options.trafficFile, "file that receives the traffic record");
  app.add_flag("--fresh", options.fresh, "ignore memories saved in the state folder");
  app.add_flag("--no-faults", options.noFaults, "drop the scenario's faults");
  app.add_option("--slot", o.slot, "slot of the module (one-module scenarios)");
  app.add_option("--naming", o.naming, "QDev, QDevUsb or both");
  app.add_option("--revision", o.revision, "revision letter");
  app.add_option("--temperature-grade", o.temperatureGrade, "grade byte (0 commercial)");
  app.add_option("--application", o.application, "embedded, none or standin");
  app.add_option("--application-version", o.applicationVersion, "version of a stand-in");
  app.add_option("--boot-loader-version", o.bootLoaderVersion, "boot-loader version text");
  app.add_option("--model-name", o.modelName, "model name the module reports");
  app.add_option("--usb-speed", o.usbSpeed, "USB speed byte");
  app.add_option("--type-code", o.typeCode, "module type code (decimal or 0x hexadecimal)");
  app.add_option("--boot-flash", o.bootFlash, "boot flash contents at first power-up");
  app.add_option("--pld-at-power-up", o.pldAtPowerUp, "configure or unconfigured");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {
      out << app.help();
      return kExitStopped;
    }
    err << "r4690-sim: " << e.what() << "\n";
    return kExitBadInput;
  }

  std::string text = "{}";
  if (!scenarioFile.empty()) {
    switch (ReadScenarioFile(scenarioFile, &text)) {
      case ReadResult::kRead:
        break;
      case ReadResult::kUnreadable:
        err << "r4690-sim: cannot read the scenario file " << scenarioFile << "\n";
        return kExitBadInput;
      case ReadResult::kTooLarge:
        err << "r4690-sim: the scenario file " << scenarioFile << " is larger than "
            << (kMaxScenarioBytes >> 20) << " MiB\n";
        return kExitBadInput;
    }
  }
  Scenario scenario;
  std::string error;
  if (!ParseScenario(text, &scenario, &error)) {
    err << "r4690-sim: " << scenarioFile << ": " << error << "\n";
    return kExitBadInput;
  }
  if (o.slot && scenario.modules.size() > 1) {
    err << "r4690-sim: --slot needs a scenario with one module\n";
    return kExitBadInput;
  }
  if (!ParseScenario(ApplyOverrides(text, o), &scenario, &error)) {
    err << "r4690-sim: " << error << "\n";
    return kExitBadInput;
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
    err << "r4690-sim: " << error << "\n";
    return kExitBadInput;
  }
  Announce(simulator, scenario, out);

  // The first change that cannot be saved is told at once, in one line; the run goes on (its
  // request was refused, and the memories still equal what is saved) but ends with its own status.
  bool stateLost = false;
  auto checkState = [&simulator, &err, &stateLost] {
    const std::string stateError = simulator.TakeStateError();
    if (stateError.empty() || stateLost) return;
    stateLost = true;
    err << "r4690-sim: a change could not be saved and its request was refused: " << stateError
        << std::endl;
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
