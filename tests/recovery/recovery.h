// The recovery suite (README.md): benches of simulated modules, the clean update of each module,
// the points where an update is interrupted and the run of each point.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/child_process.h"
#include "sim/scenario.h"
#include "sim/simulator.h"

namespace recovery {

// The table of sequence_rules.cpp. How a run of the utility ends when one of its requests goes
// wrong, written from the rules of the update sequence (README.md; sequence_rules.cpp)): which step
// each request belongs to, keyed by its request code, its address and where in the run it is sent,
// and the step's failure message (named from the utility's list of messages). The suite compares
// every faulted run with this table; nothing in it is taken from a run. One request of a run, as
// the fault plan and the sequence see it.
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

struct SuiteSettings {
  std::string utility;              // path of r4690-update
  std::string root;                 // a folder per bench is made below it
  uint32_t timeScale = 1000;        // QDEV_TIME_SCALE of every run: a PLD restart's 6 s take 6 ms
  uint32_t timeLimitMs = 30000;     // a run that lasts longer is killed and reported as a hang
  uint32_t noAnswerWaitScale = 10;  // QDEV_WAIT_SCALE of a run whose request is never answered
};

struct RecoveryModule {
  std::string name;          // for the report
  sim::ModuleConfig config;  // without faults; the suite adds its own
};

// Each needs at least one image, so that an interruption can leave it half written.
std::vector<RecoveryModule> RecoveryModules();

// One run of the utility and what the first module's simulator saw of it.
struct UtilityRun {
  qdev_test::ChildResult child;
  std::string console, errors;       // standard output and standard error
  std::vector<std::string> traffic;  // this run's traffic record

  // On its own, with nothing on standard error (and with this status).
  bool Exited() const {
    return child.end == qdev_test::ChildResult::End::kExited && errors.empty();
  }
  bool EndedWith(int status) const { return Exited() && child.status == status; }
  std::string LastLine() const;  // of the console, without its line feed
  size_t Writes() const;         // write requests in the traffic
  std::string Describe() const;  // "exit 255, ' PutArray() --> Bad'", "hang (...)", ...
};

// Modules each served by a simulator of its own in one device folder, so that a power loss takes
// one module away and leaves the others, with a state folder each so that every power cycle goes
// through the saved memories; the real r4690-update runs against them as a child process.
class Bench {
 public:
  // `folder` must not exist yet; it holds the device folder, the state folders and the consoles.
  Bench(const SuiteSettings& settings, std::string folder,
        const std::vector<sim::ModuleConfig>& modules);
  ~Bench();  // stops the simulators and removes the folder unless kept
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  bool Start(std::string* error);  // powers the modules up as configured, faults included
  // Stop, drop the faults, start again from the state folders: the memories are kept.
  bool PowerCycleWithoutFaults(std::string* error);
  // Runs the utility once with `arguments`, its timed waits shortened by waitScale (1: full).
  UtilityRun Run(uint32_t waitScale, const std::vector<std::string>& arguments = {});

  std::vector<uint8_t> McuFlash(size_t module = 0) const;
  std::vector<uint8_t> BootFlash(size_t module = 0) const;

 private:
  const SuiteSettings& settings_;
  std::string folder_;
  std::vector<uint16_t> slots_;
  std::vector<std::unique_ptr<sim::Simulator>> simulators_;
  std::vector<sim::SimulatorOptions> options_;
  int runs_ = 0;
};

struct CleanUpdate {
  std::string problem;                       // empty when the clean update is usable
  std::vector<std::string> traffic;          // its requests, one traffic line each
  std::vector<RequestSite> requests;         // the same requests as the sequence sees them
  std::vector<uint8_t> mcuFlash, bootFlash;  // the memories it leaves
};

// Runs the clean update on a fresh module, then once more after a power cycle, which must write
// nothing and change nothing.
CleanUpdate RunCleanUpdate(const SuiteSettings& settings, const RecoveryModule& module,
                           const std::string& folder);

struct Point {
  sim::Fault fault;   // the one fault of the faulted run
  size_t request;     // the clean update's request that it hits (0-based)
  std::string label;  // "power lost after 17 of 40", "unanswered last of its kind"
};

// Power lost after each request of the clean update; then every request kind that it sends, each
// failed, unanswered and answered short, at its first and at its last request of the kind.
std::vector<Point> PointsOf(const CleanUpdate& clean);

// A point that passed went as the sequence's rules say: it recovered, or it left the dead end that
// the rules cannot see.
struct Verdict {
  std::string request;  // the faulted request and its step
  std::string wrong;    // empty when the point passed: "expected ... | seen ..."
  std::string deadEnd;  // the dead end that the sequence's rules leave, and why; empty if none
};

Verdict RunPoint(const SuiteSettings& settings, const RecoveryModule& module,
                 const CleanUpdate& clean, const Point& point, const std::string& folder);

// The first three modules on one bench, updated together by --all: the power of the first is lost
// after each of its requests in turn (every `every`-th only). The other two must end that run as
// their clean updates leave them; after a power cycle one more --all must leave all three so and
// end with exit code 0. A line for each point that went wrong; `points` is how many were run.
std::vector<std::string> RunAllAtOncePoints(const SuiteSettings& settings,
                                            const std::vector<RecoveryModule>& modules,
                                            const std::vector<const CleanUpdate*>& clean,
                                            unsigned workers, size_t every, size_t* points);

// Runs job(0) to job(count - 1), each once, on `workers` threads (at least one).
inline void RunInParallel(size_t count, unsigned workers, const std::function<void(size_t)>& job) {
  std::atomic<size_t> next{0};
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < (workers == 0 ? 1 : workers); ++i) {
    threads.emplace_back([&] {
      for (size_t k = next++; k < count; k = next++) job(k);
    });
  }
  for (std::thread& t : threads) t.join();
}

}  // namespace recovery
