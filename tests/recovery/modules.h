// The modules whose updates the recovery suite interrupts: each needs at least one image, so that
// an interruption can leave it half written.
#pragma once

#include <string>
#include <vector>

#include "sim/scenario.h"

namespace recovery {

struct RecoveryModule {
  std::string name;          // for the report
  sim::ModuleConfig config;  // without faults; the suite adds its own
};

std::vector<RecoveryModule> RecoveryModules();

}  // namespace recovery
