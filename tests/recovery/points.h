// The suite's points for one module, and what running each of them shows. A module's clean update
// comes first: its requests say where an update can be interrupted, and its memories are what
// every interrupted update must come back to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "tests/recovery/bench.h"
#include "tests/recovery/modules.h"
#include "tests/recovery/sequence_rules.h"

namespace recovery {

// Where the suite's benches live, how the utility runs, and how long a time-out lasts where a
// point waits for one.
struct SuiteSettings {
  BenchSettings bench;
  std::string root;                 // a folder per bench is made below it
  uint32_t noAnswerWaitScale = 10;  // QDEV_WAIT_SCALE of a run whose request is never answered
  bool keep = false;                // keep the folders of failed points
};

struct CleanUpdate {
  std::string problem;                // empty when the clean update is usable
  std::vector<std::string> traffic;   // its requests, one traffic line each
  std::vector<RequestSite> requests;  // the same requests as the sequence sees them
  std::vector<uint8_t> mcuFlash;      // the memories it leaves
  std::vector<uint8_t> bootFlash;
};

// Runs the clean update on a fresh module, then once more after a power cycle, which must write
// nothing and change nothing.
CleanUpdate RunCleanUpdate(const SuiteSettings& settings, const RecoveryModule& module,
                           const std::string& folder);

// The requests of a traffic record as the sequence sees them; false at a line that is no request.
bool SitesOf(const std::vector<std::string>& traffic, std::vector<RequestSite>* sites);

struct Point {
  sim::Fault fault;   // the one fault of the faulted run
  size_t request;     // the clean update's request that it hits (0-based)
  std::string label;  // "power lost after 17", "unanswered 0x0E #9 (last)"
};

// Power lost after each request of the clean update; then every request kind that it sends, each
// failed, unanswered and answered short, at its first and at its last request of the kind.
std::vector<Point> PointsOf(const CleanUpdate& clean);

struct Verdict {
  bool passed = false;     // the point went as the sequence's rules say: recovered, or a dead end
                           // that the rules cannot see
  bool recovered = false;  // the module ended with the clean update's memories (and, after a
                           // power loss, a last run that wrote nothing)
  std::string deadEnd;     // a dead end that the sequence's rules leave, and why; empty if none
  std::string request;     // the faulted request and its step
  std::string expected;
  std::string seen;
  uint32_t ms = 0;  // real time of the point
  int runs = 0;     // of the utility
};

Verdict RunPoint(const SuiteSettings& settings, const RecoveryModule& module,
                 const CleanUpdate& clean, const Point& point, const std::string& folder);

}  // namespace recovery
