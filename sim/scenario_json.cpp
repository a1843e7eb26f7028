// The JSON form of a scenario. Every key is optional; a key that isn't known, or a value of the
// wrong type or range, is an error that names the key.
#include "sim/scenario_json.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "sim/json_reader.h"
#include "sim/request.h"
#include "sim/user_text.h"

namespace sim {

namespace {

using nlohmann::json;

// A scenario error with its message; caught in ParseScenario and never let out.
struct BadScenario {
  std::string message;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw BadScenario{where + ": " + what};
}

// How deeply arrays and objects may nest. A scenario needs four levels below its top object;
// the bound is checked while the text is read (sim/json_reader.h).
constexpr int kMaxNesting = 32;

// A key's place in the scenario, as refusals name it; the key as it was typed, made printable.
std::string Path(const std::string& where, const std::string& key) {
  return where.empty() ? Printable(key) : where + "." + Printable(key);
}

std::string GetText(const json& value, const std::string& path) {
  if (!value.is_string()) Fail(path, "must be a text");
  return value.get<std::string>();
}

// Every object may also hold a "comment", which must be a text.
// An unknown key close to a known one is most likely that one, misspelt.
void CheckKeys(const json& object, const std::string& where,
               const std::vector<std::string>& known) {
  if (!object.is_object()) {
    if (where.empty()) throw BadScenario{"must be a JSON object"};
    Fail(where, "must be an object");
  }
  for (const auto& item : object.items()) {
    if (item.key() == "comment") {
      GetText(item.value(), Path(where, item.key()));
    } else if (std::find(known.begin(), known.end(), item.key()) == known.end()) {
      const std::string nearest = NearestName(item.key(), known);
      throw BadScenario{"unknown key " + Path(where, item.key()) +
                        (nearest.empty() ? "" : " (did you mean " + nearest + "?)")};
    }
  }
}

// An unsigned integer: a JSON number, or a string of hexadecimal digits after "0x".
uint64_t GetUnsigned(const json& value, const std::string& path, uint64_t max) {
  const std::string range = "must be an integer 0.." + std::to_string(max);
  uint64_t n = 0;
  if (value.is_number_unsigned()) {
    n = value.get<uint64_t>();
  } else if (value.is_number_integer()) {
    Fail(path, range);
  } else if (value.is_string()) {
    const std::string s = value.get<std::string>();
    if (s.size() < 2 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) {
      Fail(path, range + " or a \"0x\" hexadecimal text");
    }
    if (!ParseHexadecimal(s, UINT64_MAX, &n)) {
      Fail(path, "\"" + Printable(s) + "\" is not \"0x\" and hexadecimal digits");
    }
  } else {
    Fail(path, range);
  }
  if (n > max) Fail(path, range);
  return n;
}

bool GetBool(const json& value, const std::string& path) {
  if (!value.is_boolean()) Fail(path, "must be true or false");
  return value.get<bool>();
}

// The texts of the keys that take one of a few, with their values.
template <typename T>
using Choices = std::vector<std::pair<const char*, T>>;

const Choices<Naming> kNamings = {
    {"QDev", Naming::kQDev}, {"QDevUsb", Naming::kQDevUsb}, {"both", Naming::kBoth}};
const Choices<ApplicationKind> kApplications = {{"embedded", ApplicationKind::kEmbedded},
                                                {"none", ApplicationKind::kNone},
                                                {"standin", ApplicationKind::kStandIn}};
const Choices<BootFlashKind> kBootFlashes = {{"grade", BootFlashKind::kGradeImage},
                                             {"commercial", BootFlashKind::kCommercialImage},
                                             {"industrial", BootFlashKind::kIndustrialImage},
                                             {"other", BootFlashKind::kOtherImage},
                                             {"erased", BootFlashKind::kErased},
                                             {"badHeader", BootFlashKind::kBadHeader},
                                             {"badImageChecksum", BootFlashKind::kBadImageChecksum},
                                             {"badSync", BootFlashKind::kBadSync}};
const Choices<bool> kPldAtPowerUp = {{"configure", true}, {"unconfigured", false}};
const Choices<FaultAction> kActions = {{"fail", FaultAction::kFail},
                                       {"noAnswer", FaultAction::kNoAnswer},
                                       {"short", FaultAction::kShort},
                                       {"powerLoss", FaultAction::kPowerLoss},
                                       {"delay", FaultAction::kDelay}};

// The largest values of the numeric keys.
constexpr uint64_t kMaxSlot = 0xFFFF;
constexpr uint64_t kMaxTypeCode = 0xFFFFFFFF;
constexpr uint64_t kMaxByte = 0xFF;  // usbSpeed, temperatureGrade

template <typename T>
std::vector<std::string> Texts(const Choices<T>& choices) {
  std::vector<std::string> texts;
  for (const auto& c : choices) texts.push_back(c.first);
  return texts;
}

// One of a fixed set of texts, mapped to its value.
template <typename T>
T GetChoice(const json& value, const std::string& path, const Choices<T>& choices) {
  std::string list;
  for (const auto& c : choices) list += (list.empty() ? "" : ", ") + std::string(c.first);
  if (!value.is_string()) Fail(path, "must be one of " + list);
  const std::string s = value.get<std::string>();
  for (const auto& c : choices) {
    if (s == c.first) return c.second;
  }
  Fail(path, "unknown value \"" + Printable(s) + "\" (one of " + list + ")");
}

// A request code, or the name of a request kind.
uint32_t GetRequest(const json& value, const std::string& path) {
  if (value.is_string()) {
    const std::string s = value.get<std::string>();
    if (const RequestKind* kind = FindRequestKind(s)) return kind->code;
    if (s.rfind("0x", 0) != 0 && s.rfind("0X", 0) != 0) {
      std::string names;
      for (const RequestKind& kind : RequestKinds()) {
        names += (names.empty() ? "" : ", ") + std::string(kind.name);
      }
      Fail(path,
           "unknown request \"" + Printable(s) + "\" (a request code, or one of " + names + ")");
    }
  }
  return static_cast<uint32_t>(GetUnsigned(value, path, 0xFFFF));
}

Fault ParseFault(const json& j, const std::string& where) {
  CheckKeys(j, where, {"action", "request", "address", "nth", "bytes", "ms"});
  if (!j.contains("action")) Fail(where, "a fault needs an action");
  Fault f;
  f.action = GetChoice(j["action"], Path(where, "action"), kActions);
  if (j.contains("request")) f.request = GetRequest(j["request"], Path(where, "request"));
  if (j.contains("address")) {
    f.address =
        static_cast<uint32_t>(GetUnsigned(j["address"], Path(where, "address"), 0xFFFFFFFF));
  }
  if (j.contains("nth")) {
    f.nth = static_cast<uint32_t>(GetUnsigned(j["nth"], Path(where, "nth"), 0xFFFFFFFF));
    if (f.nth == 0) Fail(Path(where, "nth"), "counts from 1");
  }
  if (j.contains("bytes")) {
    if (f.action != FaultAction::kShort)
      Fail(Path(where, "bytes"), "only a short answer has bytes");
    f.bytes = static_cast<uint32_t>(GetUnsigned(j["bytes"], Path(where, "bytes"), 0xFFFFFFFF));
  }
  if (j.contains("ms")) {
    if (f.action != FaultAction::kDelay) Fail(Path(where, "ms"), "only a delay has ms");
    f.delayMs = static_cast<uint32_t>(GetUnsigned(j["ms"], Path(where, "ms"), kMaxDelayMs));
  } else if (f.action == FaultAction::kDelay) {
    Fail(where, "a delay needs its ms");
  }
  return f;
}

ModuleConfig ParseModule(const json& j, const std::string& where) {
  // clang-format off
  static const std::vector<std::string> kKeys = {
      "slot", "naming", "typeCode", "modelName", "usbSpeed", "revision", "name", "serialNumber",
      "aliases", "application", "applicationVersion", "bootLoaderVersion", "temperatureGrade",
      "bootFlash", "otherPldVersion", "otherPldText", "pldAtPowerUp", "latencyMs", "heldOpen",
      "faults"};
  // clang-format on
  CheckKeys(j, where, kKeys);
  ModuleConfig m;
  auto has = [&j](const char* key) { return j.contains(key); };
  auto at = [&](const char* key) -> const json& { return j[key]; };
  auto path = [&where](const char* key) { return Path(where, key); };
  if (has("slot")) {
    m.slot = static_cast<uint16_t>(GetUnsigned(at("slot"), path("slot"), kMaxSlot));
  }
  if (has("naming")) m.naming = GetChoice(at("naming"), path("naming"), kNamings);
  if (has("typeCode")) {
    m.typeCode = static_cast<uint32_t>(GetUnsigned(at("typeCode"), path("typeCode"), kMaxTypeCode));
  }
  if (has("modelName")) m.modelName = GetText(at("modelName"), path("modelName"));
  if (has("usbSpeed")) {
    m.usbSpeed = static_cast<uint8_t>(GetUnsigned(at("usbSpeed"), path("usbSpeed"), kMaxByte));
  }
  if (has("revision")) {
    const std::string r = GetText(at("revision"), path("revision"));
    if (r.size() > 1) Fail(path("revision"), "must be one character (or empty for none)");
    m.revision = r.empty() ? '\0' : r[0];
  }
  if (has("name")) m.name = GetText(at("name"), path("name"));
  if (has("serialNumber")) m.serialNumber = GetText(at("serialNumber"), path("serialNumber"));
  if (has("aliases")) m.aliases = GetBool(at("aliases"), path("aliases"));
  if (has("applicationVersion")) {
    m.applicationVersion = GetText(at("applicationVersion"), path("applicationVersion"));
    m.application = ApplicationKind::kStandIn;
  }
  if (has("application")) {
    m.application = GetChoice(at("application"), path("application"), kApplications);
    if (has("applicationVersion") && m.application != ApplicationKind::kStandIn) {
      Fail(path("applicationVersion"), "needs application \"standin\"");
    }
  }
  if (has("bootLoaderVersion")) {
    m.bootLoaderVersion = GetText(at("bootLoaderVersion"), path("bootLoaderVersion"));
  }
  if (has("temperatureGrade")) {
    m.temperatureGrade = static_cast<uint8_t>(
        GetUnsigned(at("temperatureGrade"), path("temperatureGrade"), kMaxByte));
  }
  if (has("bootFlash")) {
    m.bootFlash = GetChoice(at("bootFlash"), path("bootFlash"), kBootFlashes);
  }
  if (has("otherPldVersion")) {
    m.otherPldVersion = GetText(at("otherPldVersion"), path("otherPldVersion"));
  }
  if (has("otherPldText")) m.otherPldText = GetText(at("otherPldText"), path("otherPldText"));
  if (has("pldAtPowerUp")) {
    m.configurePldAtPowerUp = GetChoice(at("pldAtPowerUp"), path("pldAtPowerUp"), kPldAtPowerUp);
  }
  if (has("latencyMs")) {
    m.latencyMs =
        static_cast<uint32_t>(GetUnsigned(at("latencyMs"), path("latencyMs"), kMaxDelayMs));
  }
  if (has("heldOpen")) m.heldOpen = GetBool(at("heldOpen"), path("heldOpen"));
  if (has("faults")) {
    const json& faults = at("faults");
    if (!faults.is_array()) Fail(path("faults"), "must be a list");
    for (size_t i = 0; i < faults.size(); ++i) {
      m.faults.push_back(ParseFault(faults[i], where + ".faults[" + std::to_string(i) + "]"));
    }
  }
  return m;
}

Scenario ParseTop(const json& j) {
  CheckKeys(j, "", {"modules"});
  Scenario s;
  if (!j.contains("modules")) return s;
  const json& modules = j["modules"];
  if (!modules.is_array()) Fail("modules", "must be a list");
  s.modules.clear();
  for (size_t i = 0; i < modules.size(); ++i) {
    s.modules.push_back(ParseModule(modules[i], "modules[" + std::to_string(i) + "]"));
  }
  return s;
}

}  // namespace

bool ParseScenario(const std::string& text, Scenario* scenario, std::string* error) {
  return ParseScenario(text, {}, scenario, error);
}

bool ParseScenario(const std::string& text, const std::vector<ModuleSetting>& settings,
                   Scenario* scenario, std::string* error) {
  json j;
  if (!ReadJson(text, kMaxNesting, &j, error)) {
    *error = "scenario: " + *error;
    return false;
  }
  // Settings go into every module that the text gives as an object (one module when it gives
  // none); anything else fails below as it would without them.
  if (!settings.empty() && j.is_object()) {
    if (!j.contains("modules")) j["modules"] = json::array({json::object()});
    for (json& module : j["modules"]) {
      if (!module.is_object()) continue;
      for (const ModuleSetting& s : settings) {
        module[s.key] = s.number ? json(*s.number) : json(s.text);
      }
    }
  }
  Scenario parsed;
  try {
    parsed = ParseTop(j);
  } catch (const BadScenario& e) {
    *error = "scenario: " + e.message;
    return false;
  }
  if (!ValidateScenario(parsed, error)) return false;
  *scenario = parsed;
  return true;
}

}  // namespace sim

namespace sim {

bool DescribeModuleKey(const std::string& key, ModuleKeyForm* form) {
  struct Row {
    const char* key;
    uint64_t max;
    std::vector<std::string> choices;
  };
  static const std::vector<Row> rows = {
      {"slot", kMaxSlot, {}},
      {"typeCode", kMaxTypeCode, {}},
      {"usbSpeed", kMaxByte, {}},
      {"temperatureGrade", kMaxByte, {}},
      {"latencyMs", kMaxDelayMs, {}},
      {"naming", 0, Texts(kNamings)},
      {"application", 0, Texts(kApplications)},
      {"bootFlash", 0, Texts(kBootFlashes)},
      {"pldAtPowerUp", 0, Texts(kPldAtPowerUp)},
  };
  for (const Row& row : rows) {
    if (key != row.key) continue;
    form->number = row.choices.empty();
    form->max = row.max;
    form->choices = row.choices;
    return true;
  }
  return false;
}

std::string DescribeFault(const Fault& f) {
  std::string text;
  for (const auto& c : kActions) {
    if (c.second == f.action) text = c.first;
  }
  char hex[16];
  if (f.action == FaultAction::kDelay) text += " ms=" + std::to_string(f.delayMs);
  if (f.bytes) text += " bytes=" + std::to_string(*f.bytes);
  if (f.request) {
    const RequestKind* kind = FindRequestKind(*f.request);
    std::snprintf(hex, sizeof hex, "0x%02X", *f.request);
    text += std::string(" request=") + (kind != nullptr ? kind->name : hex);
  }
  if (f.address) {
    std::snprintf(hex, sizeof hex, "0x%08X", *f.address);
    text += std::string(" address=") + hex;
  }
  if (f.nth != 0) text += " nth=" + std::to_string(f.nth);
  return text;
}

}  // namespace sim
