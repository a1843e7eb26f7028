// Reading scenario files: every refusal is one line that says where, and echoes the user's bytes
// escaped; numbers are decimal JSON numbers or "0x" and hexadecimal digits, nothing looser.
#include "sim/scenario_json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The one line with which a text is refused; reading a scenario never throws.
std::string Refusal(const std::string& text) {
  sim::Scenario scenario;
  std::string error;
  bool accepted = true;
  EXPECT_NO_THROW(accepted = sim::ParseScenario(text, &scenario, &error)) << text;
  EXPECT_FALSE(accepted) << text;
  return error;
}

TEST(ScenarioJson, RefusalsAreOneLineThatSaysWhere) {
  const auto nested = [](int levels) {
    return R"({"comment":)" + std::string(levels, '[') + std::string(levels, ']') + "}";
  };
  const struct {
    std::string text;
    std::string error;
  } rows[] = {
      {"{x", "scenario: malformed JSON at line 1, column 2"},
      {"[]", "scenario: must be a JSON object"},
      {R"({"modules":[{"slot":70000}]})", "scenario: modules[0].slot: must be an integer 0..65535"},
      {R"({"modules":[{"naming":"qdev"}]})",
       "scenario: modules[0].naming: unknown value \"qdev\" (one of QDev, QDevUsb, both)"},
      {R"({"modules":[{},{}]})", "scenario: modules[1].slot 0 is taken by an earlier module"},
      {R"({"modules":[{"faults":[{"request":"read"}]}]})",
       "scenario: modules[0].faults[0]: a fault needs an action"},
      {R"({"modules":[{"faults":[{"action":"fail","request":"erase"}]}]})",
       "scenario: modules[0].faults[0].request: unknown request \"erase\" (a request code, or "
       "one of modelName, usbSpeed, read, write, run, reloadPld, verifyPld, deviceInfo)"},
      {R"({"comment":5})", "scenario: comment: must be a text"},
      {R"({"modules":[{"faults":[{"action":"fail","comment":{}}]}]})",
       "scenario: modules[0].faults[0].comment: must be a text"},
      {nested(32), "scenario: comment: must be a text"},
      {nested(33), "scenario: nested deeper than 32 levels at line 1, column 44"},
      {"{\"comment\":\"[{\\\"\",\n\"x\":" + std::string(40, '['),
       "scenario: nested deeper than 32 levels at line 2, column 37"},
      {nested(100000), "scenario: nested deeper than 32 levels at line 1, column 44"},
      // a key one or two edits from a known one is most likely that one
      {R"({"modules":[{"revison":"C"}]})",
       "scenario: unknown key modules[0].revison (did you mean revision?)"},
      {R"({"modules":[{"Slot":1}]})", "scenario: unknown key modules[0].Slot (did you mean slot?)"},
      {R"({"modules":[{"faults":[{"action":"fail","nht":1}]}]})",
       "scenario: unknown key modules[0].faults[0].nht (did you mean nth?)"},
      {R"({"module":[]})", "scenario: unknown key module (did you mean modules?)"},
      {R"({"modules":[{"sl":1}]})", "scenario: unknown key modules[0].sl"},
      {"{\n  \"modules\": [\n    {\"slot\": 1e400}]}",
       "scenario: number out of range at line 3, column 14"},
      {R"({"modules":[{"typeCode":-1e999}]})",
       "scenario: number out of range at line 1, column 25"},
      {"1e400", "scenario: number out of range at line 1, column 1"},
      {R"({"a\nb":1})", "scenario: unknown key a\\nb"},
      {"{\"modules\":[{\"naming\":\"Q\\u0007\\\\\"}]}",
       "scenario: modules[0].naming: unknown value \"Q\\x07\\\\\" (one of QDev, QDevUsb, both)"},
      {"{\"modules\":[{\"faults\":[{\"action\":\"fail\",\"request\":\"r\\u00e9ad\"}]}]}",
       "scenario: modules[0].faults[0].request: unknown request \"r\\xC3\\xA9ad\" (a request "
       "code, or one of modelName, usbSpeed, read, write, run, reloadPld, verifyPld, deviceInfo)"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Refusal(row.text), row.error) << row.text;
  }
}

// A "0x" text is "0x" and hexadecimal digits, up to the key's largest value.
TEST(ScenarioJson, HexadecimalTextsAreStrict) {
  const struct {
    const char* value;
    bool accepted;
    uint32_t typeCode;
  } rows[] = {
      {"\"0x20\"", true, 0x20},
      {"\"0X1f\"", true, 0x1F},
      {"\"0x00000000000000000000ffffffff\"", true, 0xFFFFFFFF},
      {"32", true, 32},
      {"\"0x0x20\"", false, 0},
      {"\"0x 5\"", false, 0},
      {"\"0x+20\"", false, 0},
      {"\"0x-0\"", false, 0},
      {"\"0x\"", false, 0},
      {"\"0x20 \"", false, 0},
      {"\" 0x20\"", false, 0},
      {"\"32\"", false, 0},
      {"\"0x100000000\"", false, 0},
      {"\"0x10000000000000000\"", false, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    sim::Scenario scenario;
    std::string error;
    EXPECT_EQ(sim::ParseScenario(std::string(R"({"modules":[{"typeCode":)") + row.value + "}]}",
                                 &scenario, &error),
              row.accepted)
        << error;
    if (row.accepted) {
      EXPECT_EQ(scenario.modules[0].typeCode, row.typeCode);
    }
  }
}

}  // namespace
