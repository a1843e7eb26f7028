// Reading traffic lines back, for the suites that compare what a run sent with what another run
// sent (the recovery suite, the state-folder fuzz target) and for the simulator's own tests.
#pragma once

#include <string>

#include "sim/traffic.h"

namespace sim {

// Reads back a line that FormatTrafficLine wrote, with or without its time stamp, into the
// request decoded as the simulator decodes it; false for any other line, a power-loss line among
// them.
bool ParseTrafficLine(const std::string& line, TrafficEntry* entry);

}  // namespace sim
