// Fuzz target: the simulator's scenario loader on any text. ParseScenario must always answer, with
// no exception leaving it; a refusal is one line of text with no control character in it (what it
// echoes of the file is escaped) and leaves the scenario as it was; every text number it accepts
// is "0x" followed by hexadecimal digits alone; and a scenario it accepts passes its own
// validation and builds modules that power up and answer on their devices.
//
// Input: the scenario file's text.
#include <nlohmann/json.hpp>

#include <initializer_list>
#include <regex>

#include "sim/embedded_images.h"
#include "sim/rack.h"
#include "sim/scenario.h"
#include "sim/scenario_json.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// The keys whose values are numbers, which may be written as texts: "0x" and one or more
// hexadecimal digits, nothing else. A request may be named by its kind instead.
void CheckNumberTexts(const nlohmann::json& object, std::initializer_list<const char*> keys) {
  static const std::regex kStrictHex("0[xX][0-9a-fA-F]+");
  for (const char* key : keys) {
    if (!object.is_object() || !object.contains(key) || !object.at(key).is_string()) continue;
    const std::string& text = object.at(key).get_ref<const std::string&>();
    const bool hexPrefix = text.size() >= 2 && text[0] == '0' && (text[1] | 0x20) == 'x';
    FUZZ_CHECK(std::regex_match(text, kStrictHex) || (!hexPrefix && std::string(key) == "request"));
  }
}

// The modules of an accepted scenario, powered up: every device of a module without faults
// answers its device information, and no answer is longer than the buffer.
void CheckModules(const sim::Scenario& scenario) {
  static const sim::EmbeddedImages images = sim::LookupEmbeddedImages();
  constexpr size_t kMostModulesBuilt = 4;  // enough for every path, few enough to stay fast
  if (scenario.modules.size() > kMostModulesBuilt) return;
  sim::Rack rack;
  std::string error;
  FUZZ_CHECK(rack.Build(scenario, images, &error));
  rack.PowerUp();
  size_t names = 0;
  for (const sim::ModuleConfig& m : scenario.modules)
    names += m.naming == sim::Naming::kBoth ? 2 : 1;
  const auto devices = rack.Devices();
  FUZZ_CHECK(devices.size() == names);
  for (const auto& [device, slot] : devices) {
    const bool faulty =
        std::any_of(scenario.modules.begin(), scenario.modules.end(),
                    [s = slot](const auto& m) { return m.slot == s && !m.faults.empty(); });
    const sim::Reply reply = rack.Serve(device, IOCTL_GET_DEVICE_INFO, {},
                                        std::vector<uint8_t>(driver_contract::kDeviceInfoSize));
    FUZZ_CHECK((reply.answered || faulty) && reply.data.size() <= driver_contract::kDeviceInfoSize);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  sim::Scenario scenario;
  scenario.modules.clear();  // what a refusal must leave alone
  std::string error;
  // An exception that leaves it ends the run through std::terminate: a crash, kept as a finding.
  const bool accepted = sim::ParseScenario(text, &scenario, &error);
  FUZZ_CHECK(accepted || (fuzz::IsOneLineOfText(error) && scenario.modules.empty()));
  if (!accepted) return 0;
  FUZZ_CHECK(sim::ValidateScenario(scenario, &error));
  CheckModules(scenario);
  // The numbers it accepted.
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.contains("modules")) return 0;
  for (const nlohmann::json& m : j["modules"]) {
    CheckNumberTexts(m, {"slot", "typeCode", "usbSpeed", "temperatureGrade"});
    if (!m.is_object() || !m.contains("faults")) continue;
    for (const nlohmann::json& f : m["faults"])
      CheckNumberTexts(f, {"request", "address", "nth", "bytes"});
  }
  return 0;
}
