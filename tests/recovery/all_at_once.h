// The suite's points for a bench of three modules updated at once (r4690-update --all), each
// module served by a simulator of its own in one device folder, so that a power loss takes one
// module away and leaves the others: the power of the first is lost after each of its requests in
// turn. The other two must end that run as their clean updates leave them, and after a power cycle
// one more --all must leave all three so and end with exit code 0.
#pragma once

#include <string>
#include <vector>

#include "tests/recovery/points.h"

namespace recovery {

// The modules and their clean updates, three of each; every `every`-th point only (1: all).
// Returns a line for each point that went wrong (or why the points could not be run); `points`
// is how many were run.
std::vector<std::string> RunAllAtOncePoints(const SuiteSettings& settings,
                                            const std::vector<RecoveryModule>& modules,
                                            const std::vector<const CleanUpdate*>& clean,
                                            unsigned workers, size_t every, size_t* points);

}  // namespace recovery
