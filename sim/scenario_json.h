// Reads a scenario from its JSON form (sim/README.md lists every key). Unknown keys, values of
// the wrong type or out of range, and malformed JSON are refused with one line that names the
// key, so that a typo in a scenario file never passes unnoticed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/scenario.h"

namespace sim {

// Parses and validates; on failure *scenario is unchanged and *error holds one line.
bool ParseScenario(const std::string& json, Scenario* scenario, std::string* error);

// A module key given beside the scenario text (the command's options): a number or a text.
struct ModuleSetting {
  std::string key;                 // "slot", "naming", ...
  std::optional<uint64_t> number;  // set: the key's value is this number
  std::string text;                // otherwise this text
};
// The same with `settings` put into every module first, as if the text held them.
bool ParseScenario(const std::string& json, const std::vector<ModuleSetting>& settings,
                   Scenario* scenario, std::string* error);

// What a module key takes, for a help text or a command line: a number 0..max, or one of
// `choices`. False for keys that take a text, a truth value or a list.
struct ModuleKeyForm {
  bool number = false;
  uint64_t max = 0;
  std::vector<std::string> choices;
};
bool DescribeModuleKey(const std::string& key, ModuleKeyForm* form);

// A fault in the words of its keys, for people: "powerLoss request=write address=0x90000000
// nth=10", "delay ms=3000 request=read", "fail".
std::string DescribeFault(const Fault& fault);

}  // namespace sim
