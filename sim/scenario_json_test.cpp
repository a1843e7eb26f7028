// Reading scenario files: every refusal is one line that says where, and echoes the user's bytes
// escaped; numbers are decimal JSON numbers or "0x" and hexadecimal digits, up to the key's largest
// value. That a refusal is one line without control characters, and that no looser hexadecimal
// text is accepted, is the scenario fuzz target's to check on any text.
#include "sim/scenario_json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ScenarioJson, RefusalsSayWhereAndNumbersAreDecimalOrHexadecimal) {
  const auto nested = [](int levels) {
    return R"({"comment":)" + std::string(levels, '[') + std::string(levels, ']') + "}";
  };
  const std::string requests =
      " (a request code, or one of modelName, usbSpeed, read, write, run, reloadPld, verifyPld, "
      "deviceInfo)";
  const struct {
    std::string text;
    std::string error;  // empty: accepted, with this type code
    uint32_t typeCode = 0;
  } rows[] = {
      {R"({"modules":[{"typeCode":32}]})", "", 32},
      {R"({"modules":[{"typeCode":"0x20"}]})", "", 32},
      {R"({"modules":[{"typeCode":"0X1f"}]})", "", 31},
      {R"({"modules":[{"typeCode":"0x0000000000000000ffffffff"}]})", "", 0xFFFFFFFF},
      {"{x", "malformed JSON at line 1, column 2"},
      {"[]", "must be a JSON object"},
      {R"({"modules":[{"slot":70000}]})", "modules[0].slot: must be an integer 0..65535"},
      {R"({"modules":[{"naming":"qdev"}]})",
       "modules[0].naming: unknown value \"qdev\" (one of QDev, QDevUsb, both)"},
      {R"({"modules":[{},{}]})", "modules[1].slot 0 is taken by an earlier module"},
      {R"({"modules":[{"faults":[{"request":"read"}]}]})",
       "modules[0].faults[0]: a fault needs an action"},
      {R"({"modules":[{"faults":[{"action":"fail","request":"erase"}]}]})",
       "modules[0].faults[0].request: unknown request \"erase\"" + requests},
      {R"({"modules":[{"faults":[{"action":"fail","comment":{}}]}]})",
       "modules[0].faults[0].comment: must be a text"},
      {nested(32), "comment: must be a text"},
      {nested(33), "nested deeper than 32 levels at line 1, column 44"},
      {nested(100000), "nested deeper than 32 levels at line 1, column 44"},
      // a key one or two edits from a known one is most likely that one
      {R"({"modules":[{"faults":[{"action":"fail","nht":1}]}]})",
       "unknown key modules[0].faults[0].nht (did you mean nth?)"},
      {R"({"modules":[{"sl":1}]})", "unknown key modules[0].sl"},
      {"{\n  \"modules\": [\n    {\"slot\": 1e400}]}", "number out of range at line 3, column 14"},
      {"{\"modules\":[{\"faults\":[{\"action\":\"fail\",\"request\":\"r\\u00e9ad\"}]}]}",
       "modules[0].faults[0].request: unknown request \"r\\xC3\\xA9ad\"" + requests},
      {R"({"modules":[{"typeCode":"0x100000000"}]})",
       "modules[0].typeCode: must be an integer 0..4294967295"},
  };
  for (const auto& row : rows) {
    sim::Scenario scenario;
    std::string error;
    EXPECT_EQ(sim::ParseScenario(row.text, &scenario, &error), row.error.empty()) << row.text;
    EXPECT_EQ(error, row.error.empty() ? "" : "scenario: " + row.error) << row.text;
    EXPECT_EQ(row.error.empty() ? scenario.modules[0].typeCode : 0u, row.typeCode) << row.text;
  }
}

}  // namespace
