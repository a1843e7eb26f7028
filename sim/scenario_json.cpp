// The JSON form of a scenario. Every key is optional; a key that isn't known, or a value of the
// wrong type or range, is an error that names the key.
#include "sim/scenario_json.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <initializer_list>
#include <set>
#include <utility>

#include "contract/driver_contract.h"

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
// the bound is checked while the text is parsed, before anything walks the document recursively.
constexpr int kMaxNesting = 32;

// The parse stopped at a value nested deeper than kMaxNesting.
struct TooDeep {};

std::string Path(const std::string& where, const std::string& key) {
  return where.empty() ? key : where + "." + key;
}

std::string GetText(const json& value, const std::string& path) {
  if (!value.is_string()) Fail(path, "must be a text");
  return value.get<std::string>();
}

// Every object may also hold a "comment", which must be a text.
void CheckKeys(const json& object, const std::string& where, const std::set<std::string>& known) {
  if (!object.is_object()) {
    if (where.empty()) throw BadScenario{"must be a JSON object"};
    Fail(where, "must be an object");
  }
  for (const auto& item : object.items()) {
    if (item.key() == "comment") {
      GetText(item.value(), Path(where, item.key()));
    } else if (known.count(item.key()) == 0) {
      throw BadScenario{"unknown key " + Path(where, item.key())};
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
    if (s.size() < 3 || s.size() > 18 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) {
      Fail(path, range + " or a \"0x\" hexadecimal text");
    }
    char* end = nullptr;
    n = std::strtoull(s.c_str() + 2, &end, 16);
    if (*end != '\0') Fail(path, "\"" + s + "\" is not a hexadecimal number");
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

// One of a fixed set of texts, mapped to its value.
template <typename T>
T GetChoice(const json& value, const std::string& path,
            std::initializer_list<std::pair<const char*, T>> choices) {
  std::string list;
  for (const auto& c : choices) list += (list.empty() ? "" : ", ") + std::string(c.first);
  if (!value.is_string()) Fail(path, "must be one of " + list);
  const std::string s = value.get<std::string>();
  for (const auto& c : choices) {
    if (s == c.first) return c.second;
  }
  Fail(path, "unknown value \"" + s + "\" (one of " + list + ")");
}

uint32_t GetRequest(const json& value, const std::string& path) {
  namespace dc = driver_contract;
  static const std::pair<const char*, uint32_t> kNames[] = {
      {"modelName", dc::kRequestModuleName},
      {"usbSpeed", dc::kRequestUsbSpeed},
      {"read", dc::kRequestRead},
      {"write", dc::kRequestWrite},
      {"run", dc::kRequestRun},
      {"reloadPld", dc::kRequestReloadPld},
      {"verifyPld", dc::kRequestVerifyPld},
      {"deviceInfo", kDeviceInfoRequest},
  };
  if (value.is_string()) {
    const std::string s = value.get<std::string>();
    for (const auto& n : kNames) {
      if (s == n.first) return n.second;
    }
    if (s.rfind("0x", 0) != 0 && s.rfind("0X", 0) != 0) {
      Fail(path, "unknown request \"" + s +
                     "\" (a request code, or one of modelName, usbSpeed, read, write, run, "
                     "reloadPld, verifyPld, deviceInfo)");
    }
  }
  return static_cast<uint32_t>(GetUnsigned(value, path, 0xFFFF));
}

Fault ParseFault(const json& j, const std::string& where) {
  CheckKeys(j, where, {"action", "request", "address", "nth", "bytes"});
  if (!j.contains("action")) Fail(where, "a fault needs an action");
  Fault f;
  f.action = GetChoice<FaultAction>(j["action"], Path(where, "action"),
                                    {{"fail", FaultAction::kFail},
                                     {"noAnswer", FaultAction::kNoAnswer},
                                     {"short", FaultAction::kShort},
                                     {"powerLoss", FaultAction::kPowerLoss}});
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
  return f;
}

ModuleConfig ParseModule(const json& j, const std::string& where) {
  CheckKeys(
      j, where,
      {"slot", "naming", "typeCode", "modelName", "usbSpeed", "revision", "name", "serialNumber",
       "aliases", "application", "applicationVersion", "bootLoaderVersion", "temperatureGrade",
       "bootFlash", "otherPldVersion", "otherPldText", "pldAtPowerUp", "faults"});
  ModuleConfig m;
  auto has = [&j](const char* key) { return j.contains(key); };
  auto at = [&](const char* key) -> const json& { return j[key]; };
  auto path = [&where](const char* key) { return Path(where, key); };
  if (has("slot")) m.slot = static_cast<uint16_t>(GetUnsigned(at("slot"), path("slot"), 0xFFFF));
  if (has("naming")) {
    m.naming = GetChoice<Naming>(
        at("naming"), path("naming"),
        {{"QDev", Naming::kQDev}, {"QDevUsb", Naming::kQDevUsb}, {"both", Naming::kBoth}});
  }
  if (has("typeCode")) {
    m.typeCode = static_cast<uint32_t>(GetUnsigned(at("typeCode"), path("typeCode"), 0xFFFFFFFF));
  }
  if (has("modelName")) m.modelName = GetText(at("modelName"), path("modelName"));
  if (has("usbSpeed")) {
    m.usbSpeed = static_cast<uint8_t>(GetUnsigned(at("usbSpeed"), path("usbSpeed"), 255));
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
    m.application = GetChoice<ApplicationKind>(at("application"), path("application"),
                                               {{"embedded", ApplicationKind::kEmbedded},
                                                {"none", ApplicationKind::kNone},
                                                {"standin", ApplicationKind::kStandIn}});
    if (has("applicationVersion") && m.application != ApplicationKind::kStandIn) {
      Fail(path("applicationVersion"), "needs application \"standin\"");
    }
  }
  if (has("bootLoaderVersion")) {
    m.bootLoaderVersion = GetText(at("bootLoaderVersion"), path("bootLoaderVersion"));
  }
  if (has("temperatureGrade")) {
    m.temperatureGrade =
        static_cast<uint8_t>(GetUnsigned(at("temperatureGrade"), path("temperatureGrade"), 255));
  }
  if (has("bootFlash")) {
    m.bootFlash = GetChoice<BootFlashKind>(at("bootFlash"), path("bootFlash"),
                                           {{"grade", BootFlashKind::kGradeImage},
                                            {"commercial", BootFlashKind::kCommercialImage},
                                            {"industrial", BootFlashKind::kIndustrialImage},
                                            {"other", BootFlashKind::kOtherImage},
                                            {"erased", BootFlashKind::kErased},
                                            {"badHeader", BootFlashKind::kBadHeader},
                                            {"badImageChecksum", BootFlashKind::kBadImageChecksum},
                                            {"badSync", BootFlashKind::kBadSync}});
  }
  if (has("otherPldVersion")) {
    m.otherPldVersion = GetText(at("otherPldVersion"), path("otherPldVersion"));
  }
  if (has("otherPldText")) m.otherPldText = GetText(at("otherPldText"), path("otherPldText"));
  if (has("pldAtPowerUp")) {
    m.configurePldAtPowerUp = GetChoice<bool>(at("pldAtPowerUp"), path("pldAtPowerUp"),
                                              {{"configure", true}, {"unconfigured", false}});
  }
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
  json j;
  try {
    j = json::parse(text, [](int depth, json::parse_event_t, json&) {
      if (depth > kMaxNesting) throw TooDeep{};
      return true;
    });
  } catch (const TooDeep&) {
    *error = "scenario: nested deeper than " + std::to_string(kMaxNesting) + " levels";
    return false;
  } catch (const json::parse_error& e) {
    size_t line = 1, column = 1;
    for (size_t i = 0; i + 1 < e.byte && i < text.size(); ++i) {
      if (text[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    *error = "scenario: malformed JSON at line " + std::to_string(line) + ", column " +
             std::to_string(column);
    return false;
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
