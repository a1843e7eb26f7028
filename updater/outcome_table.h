// The table that ends a run of chosen modules: for each, its slot, serial number, versions before
// and after, and how its update ended.
#pragma once

#include <cstdint>
#include <vector>

#include "updater/console.h"
#include "updater/update_sequence.h"

namespace updater {

struct Outcome {
  uint16_t slot = 0;
  const ModuleRun* run = nullptr;  // its update, or the reading that stopped before it
  bool held = false;               // not updated: another program holds it
  bool unread = false;             // not updated: it could not be read (run tells where)
};

// Whether the module is up to date now: its update succeeded.
bool UpToDate(const Outcome& outcome);

void PrintOutcomes(Console& console, const std::vector<Outcome>& outcomes);

}  // namespace updater
