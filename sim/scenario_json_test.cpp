// Scenario files: what each key sets, one clear line for each kind of mistake, and the scenarios
// that ship in sim/scenarios/.
#include "sim/scenario_json.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

namespace {

using sim::ModuleConfig;
using sim::Scenario;

TEST(ScenarioJson, KeysSetTheirItems) {
  struct Row {
    const char* json;
    std::function<bool(const Scenario&)> holds;
  };
  auto first = [](std::function<bool(const ModuleConfig&)> f) {
    return [f](const Scenario& s) { return s.modules.size() == 1 && f(s.modules[0]); };
  };
  const Row rows[] = {
      {"{}", first([](const ModuleConfig& m) {
         return m.slot == 0 && m.naming == sim::Naming::kQDev && m.typeCode == 32 &&
                m.modelName == "R46-90" && m.usbSpeed == 1 && m.revision == 'C' &&
                sim::AliasesEnabled(m) && m.bootLoaderVersion == "3.1" && m.faults.empty();
       })},
      {R"({"modules":[{}]})", first([](const ModuleConfig& m) { return m.slot == 0; })},
      {R"({"modules":[{"slot":5,"naming":"both","typeCode":"0x27","modelName":"P310",
          "usbSpeed":0,"revision":"B","temperatureGrade":1}]})",
       first([](const ModuleConfig& m) {
         return m.slot == 5 && m.naming == sim::Naming::kBoth && m.typeCode == 0x27 &&
                m.modelName == "P310" && m.usbSpeed == 0 && m.revision == 'B' &&
                !sim::AliasesEnabled(m) && m.temperatureGrade == 1;
       })},
      {R"({"modules":[{"revision":"","aliases":false}]})",
       first([](const ModuleConfig& m) { return m.revision == '\0' && !sim::AliasesEnabled(m); })},
      {R"({"modules":[{"applicationVersion":"3.1"}]})", first([](const ModuleConfig& m) {
         return m.application == sim::ApplicationKind::kStandIn && m.applicationVersion == "3.1";
       })},
      {R"({"modules":[{"application":"none","bootFlash":"badSync","pldAtPowerUp":"unconfigured"}]})",
       first([](const ModuleConfig& m) {
         return m.application == sim::ApplicationKind::kNone &&
                m.bootFlash == sim::BootFlashKind::kBadSync && !m.configurePldAtPowerUp;
       })},
      {R"({"modules":[{"faults":[{"action":"short","request":"read","address":"0x91003000",
          "nth":2,"bytes":3},{"action":"powerLoss","request":13},
          {"action":"fail","request":"deviceInfo","comment":"open fails"}]}]})",
       first([](const ModuleConfig& m) {
         return m.faults.size() == 3 && m.faults[0].action == sim::FaultAction::kShort &&
                m.faults[0].request == 0x0Eu && m.faults[0].address == 0x91003000u &&
                m.faults[0].nth == 2 && m.faults[0].bytes == 3u &&
                m.faults[1].action == sim::FaultAction::kPowerLoss &&
                m.faults[1].request == 0x0Du && !m.faults[1].address && m.faults[1].nth == 0 &&
                m.faults[2].request == sim::kDeviceInfoRequest;
       })},
      {R"({"modules":[{"slot":0},{"slot":1,"naming":"QDevUsb"}]})",
       [](const Scenario& s) { return s.modules.size() == 2 && s.modules[1].slot == 1; }},
  };
  for (const Row& row : rows) {
    Scenario s;
    s.modules.clear();
    std::string error;
    ASSERT_TRUE(sim::ParseScenario(row.json, &s, &error)) << row.json << "\n" << error;
    EXPECT_TRUE(row.holds(s)) << row.json;
  }
}

TEST(ScenarioJson, MistakesGiveOneLineNamingTheKey) {
  struct Row {
    const char* json;
    const char* error;
  };
  const Row rows[] = {
      {"{\n \"modules\": [\n  {,}", "scenario: malformed JSON at line 3, column 4"},
      {"[]", "scenario: must be a JSON object"},
      {R"({"module":[]})", "scenario: unknown key module"},
      {R"({"modules":[{"revison":"C"}]})", "scenario: unknown key modules[0].revison"},
      {R"({"modules":{}})", "scenario: modules: must be a list"},
      {R"({"modules":[]})", "scenario: no modules"},
      {R"({"modules":[{"slot":-1}]})", "scenario: modules[0].slot: must be an integer 0..65535"},
      {R"({"modules":[{"slot":70000}]})", "scenario: modules[0].slot: must be an integer 0..65535"},
      {R"({"modules":[{"typeCode":"0x2G"}]})",
       "scenario: modules[0].typeCode: \"0x2G\" is not a hexadecimal number"},
      {R"({"modules":[{"revision":"CC"}]})",
       "scenario: modules[0].revision: must be one character (or empty for none)"},
      {R"({"modules":[{"modelName":"R46-90-X"}]})",
       "scenario: modules[0].modelName is longer than 7 bytes"},
      {R"({"modules":[{"naming":"qdev"}]})",
       "scenario: modules[0].naming: unknown value \"qdev\" (one of QDev, QDevUsb, both)"},
      {R"({"modules":[{"aliases":"yes"}]})", "scenario: modules[0].aliases: must be true or false"},
      {R"({"modules":[{"application":"embedded","applicationVersion":"3.1"}]})",
       "scenario: modules[0].applicationVersion: needs application \"standin\""},
      {R"({"modules":[{},{}]})", "scenario: modules[1].slot 0 is taken by an earlier module"},
      {R"({"modules":[{"faults":[{"request":"read"}]}]})",
       "scenario: modules[0].faults[0]: a fault needs an action"},
      {R"({"modules":[{"faults":[{"action":"fail","nth":0}]}]})",
       "scenario: modules[0].faults[0].nth: counts from 1"},
      {R"({"modules":[{"faults":[{"action":"fail","bytes":2}]}]})",
       "scenario: modules[0].faults[0].bytes: only a short answer has bytes"},
      {R"({"modules":[{"faults":[{"action":"fail","request":"erase"}]}]})",
       "scenario: modules[0].faults[0].request: unknown request \"erase\" (a request code, or "
       "one of modelName, usbSpeed, read, write, run, reloadPld, verifyPld, deviceInfo)"},
  };
  for (const Row& row : rows) {
    Scenario s;
    s.modules[0].slot = 77;
    std::string error;
    EXPECT_FALSE(sim::ParseScenario(row.json, &s, &error)) << row.json;
    EXPECT_EQ(error, row.error) << row.json;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_EQ(s.modules.at(0).slot, 77) << "a refused scenario leaves the old one alone";
  }
}

TEST(ScenarioJson, ShippedScenariosParse) {
  const std::vector<std::string> required = {"up-to-date",
                                             "needs-both",
                                             "no-application",
                                             "boot-loader-2x",
                                             "pld-unconfigured-valid-container",
                                             "industrial-with-commercial-pld",
                                             "demo"};
  std::set<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(R4690_SIM_SCENARIO_DIR)) {
    if (entry.path().extension() != ".json") continue;
    std::ifstream in(entry.path());
    std::stringstream text;
    text << in.rdbuf();
    Scenario s;
    std::string error;
    EXPECT_TRUE(sim::ParseScenario(text.str(), &s, &error)) << entry.path() << ": " << error;
    found.insert(entry.path().stem().string());
  }
  for (const std::string& name : required) EXPECT_EQ(found.count(name), 1u) << name;
}

}  // namespace
