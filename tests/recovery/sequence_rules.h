// How a run of the utility ends when one of its requests goes wrong, written from the rules of the
// update sequence (README.md): which step each request belongs to, keyed by its request code, its
// address and where in the run it is sent, and the step's failure message (named from the
// utility's list of messages). The suite compares every faulted run with this table; nothing in it
// is taken from a run.
#pragma once

#include <cstdint>
#include <string>

#include "sim/scenario.h"

namespace recovery {

// One request of a run, as the fault plan and the sequence see it.
struct RequestSite {
  uint32_t request = 0;        // vendor request code, or sim::kDeviceInfoRequest
  uint32_t address = 0;        // reads and writes: Index:Value; runs: 0x8300:Value; else 0
  uint32_t size = 0;           // data bytes asked for
  bool inOpen = false;         // sent while OpenQDevice opens the module
  bool afterPldWrite = false;  // a PLD container was written earlier in the run
};

// How the faulted run ends: exit status 0 with the success message, or 255 with a failure text.
struct Ending {
  int exitStatus = 0;
  std::string lastLine;  // the last line of the console, without its line feed
};

// The sequence's name for the step that sends the request; empty when no rule knows it.
std::string StepOf(const RequestSite& site);

// How the run ends when the request fails, is never answered or is answered short (the action of
// a fault of sim/scenario.h other than a power loss). False when no rule knows the request.
bool ExpectedEnding(const RequestSite& site, sim::FaultAction action, Ending* ending);

// The last line of a run that completes.
extern const std::string kSuccessLine;

}  // namespace recovery
