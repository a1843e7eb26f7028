// One module on a bench of its own: the in-process simulator serves it in a device folder of its
// own, with a state folder so that every power cycle goes through the saved memories, and the real
// r4690-update runs against it as a child process with a hard time limit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/testing/child_process.h"
#include "sim/scenario.h"
#include "sim/simulator.h"

namespace recovery {

struct BenchSettings {
  std::string utility;           // path of r4690-update
  uint32_t timeScale = 1000;     // QDEV_TIME_SCALE of every run: a PLD restart's 6 s take 6 ms
  uint32_t timeLimitMs = 30000;  // a run that lasts longer is killed and reported as a hang
};

// One run of the utility and what the simulator saw of it.
struct UtilityRun {
  qdev_test::ChildResult child;
  std::string console;               // standard output
  std::string errors;                // standard error
  std::vector<std::string> traffic;  // the simulator's traffic record of this run alone

  // Exited on its own with this status and nothing on standard error.
  bool EndedWith(int status) const;
  std::string LastLine() const;  // of the console, without its line feed
  size_t Writes() const;         // write requests in the traffic
  // "exit 255, ' PutArray() --> Bad'", "hang (killed after 30000 ms)", and the like.
  std::string Describe() const;
};

class Bench {
 public:
  // `folder` must not exist yet; it holds the device folder, the state folder and the consoles.
  Bench(const BenchSettings& settings, std::string folder, const sim::ModuleConfig& module);
  ~Bench();  // stops the simulator and removes the folder unless kept
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  // Powers the module up as the scenario makes it, faults included.
  bool Start(std::string* error);
  // Stop, drop the faults, start again from the state folder: the memories are kept.
  bool PowerCycleWithoutFaults(std::string* error);
  // Runs the utility once, its timed waits shortened by waitScale (1: full length).
  UtilityRun Run(uint32_t waitScale);

  std::vector<uint8_t> McuFlash() const;
  std::vector<uint8_t> BootFlash() const;
  void Keep() { keep_ = true; }       // leave the folder for a look afterwards
  int Runs() const { return runs_; }  // of the utility so far

 private:
  BenchSettings settings_;
  std::string folder_;
  uint16_t slot_;
  sim::Simulator simulator_;
  sim::SimulatorOptions options_;
  int runs_ = 0;
  bool keep_ = false;
};

}  // namespace recovery
