// The r4690-sim command: starts the modules of a scenario file and/or options on their device
// endpoints, says where they are, prints "r4690-sim: ready" and serves until SIGINT, SIGTERM,
// SIGHUP or SIGQUIT (or a simulated power loss), then removes its endpoints. sim/README.md
// describes the options.
#pragma once

#include <ostream>

namespace sim {

// Exit status of the command.
constexpr int kExitStopped = 0;    // stopped by a signal, endpoints removed
constexpr int kExitBadInput = 1;   // options, scenario, state or device folder refused
constexpr int kExitPowerLost = 3;  // a power-loss fault fired
// A change could not be saved in the state folder (its request was refused); wins over 0 and 3.
constexpr int kExitStateLost = 4;

int RunCommand(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace sim
