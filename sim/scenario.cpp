// Limits of a scenario that its types alone don't enforce.
#include "sim/scenario.h"

#include <set>

#include "sim/memory_map.h"
#include "sim/pld.h"

namespace sim {

namespace {

bool FitsIn(const std::string& text, size_t width, const std::string& where, const char* key,
            std::string* error) {
  if (text.size() <= width) return true;
  *error = where + key + " is longer than " + std::to_string(width) + " bytes";
  return false;
}

}  // namespace

bool ValidateScenario(const Scenario& scenario, std::string* error) {
  if (scenario.modules.empty()) {
    *error = "scenario: no modules";
    return false;
  }
  std::set<uint16_t> slots;
  for (size_t i = 0; i < scenario.modules.size(); ++i) {
    const ModuleConfig& m = scenario.modules[i];
    const std::string where = "scenario: modules[" + std::to_string(i) + "].";
    if (!slots.insert(m.slot).second) {
      *error = where + "slot " + std::to_string(m.slot) + " is taken by an earlier module";
      return false;
    }
    if (!FitsIn(m.modelName, 7, where, "modelName", error) ||
        !FitsIn(m.name, 16, where, "name", error) ||
        !FitsIn(m.serialNumber, 36, where, "serialNumber", error) ||
        !FitsIn(m.applicationVersion, 10, where, "applicationVersion", error) ||
        !FitsIn(m.bootLoaderVersion, 10, where, "bootLoaderVersion", error) ||
        !FitsIn(m.otherPldText, kPldTextSize, where, "otherPldText", error) ||
        !FitsIn(OtherPldText(m.otherPldVersion, m.otherPldText), kPldTextSize, where,
                "otherPldVersion", error)) {
      return false;
    }
  }
  return true;
}

}  // namespace sim
