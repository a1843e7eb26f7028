// Reads a scenario from its JSON form (sim/README.md lists every key). Unknown keys, values of
// the wrong type or out of range, and malformed JSON are refused with one line that names the
// key, so that a typo in a scenario file never passes unnoticed.
#pragma once

#include <string>

#include "sim/scenario.h"

namespace sim {

// Parses and validates; on failure *scenario is unchanged and *error holds one line.
bool ParseScenario(const std::string& json, Scenario* scenario, std::string* error);

}  // namespace sim
