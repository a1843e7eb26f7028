// The recovery suite's bench (README.md): simulated modules, each served by a simulator of its own
// in one device folder, so that a power loss takes one module away and leaves the others, with a
// state folder each so that every power cycle goes through the saved memories; the real
// r4690-update runs against them as a child process.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "contract/driver_contract.h"
#include "platform/testing/child_process.h"
#include "sim/scenario.h"
#include "sim/simulator.h"
#include "sim/testing/traffic_parse.h"

namespace recovery {

struct SuiteSettings {
  std::string utility;              // path of r4690-update
  std::string root;                 // a folder per bench is made below it
  uint32_t timeScale = 1000;        // QDEV_TIME_SCALE of every run: a PLD restart's 6 s take 6 ms
  uint32_t timeLimitMs = 30000;     // a run that lasts longer is killed and reported as a hang
  uint32_t noAnswerWaitScale = 10;  // QDEV_WAIT_SCALE of a run whose request is never answered
};

inline std::string ReadFile(const std::string& path) {
  return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

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
  // The console's last line, without its line feed.
  std::string LastLine() const {
    std::string text = console;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.find_last_of('\n') + 1);  // npos + 1 is 0
  }
  size_t Writes() const {
    size_t writes = 0;
    for (const std::string& line : traffic) {
      sim::TrafficEntry e;
      writes += sim::ParseTrafficLine(line, &e) && e.request.code == driver_contract::kRequestWrite;
    }
    return writes;
  }
  // "exit 255, ' PutArray() --> Bad'", "hang (...)", ...
  std::string Describe() const {
    using End = qdev_test::ChildResult::End;
    std::string text = child.end == End::kExited
                           ? "exit " + std::to_string(child.status) + ", '" + LastLine() + "'"
                       : child.end == End::kSignalled
                           ? "killed by signal " + std::to_string(child.status)
                       : child.end == End::kTimedOut
                           ? "hang (killed after " + std::to_string(child.elapsedMs) + " ms)"
                           : "not started (errno " + std::to_string(child.status) + ")";
    if (!errors.empty()) text += ", standard error: " + errors.substr(0, errors.find('\n'));
    return text;
  }
};

class Bench {
 public:
  // `folder` must not exist yet; it holds the device folder, the state folders and the consoles.
  Bench(const SuiteSettings& settings, std::string folder,
        const std::vector<sim::ModuleConfig>& modules)
      : settings_(settings), folder_(std::move(folder)) {
    for (size_t i = 0; i < modules.size(); ++i) {
      slots_.push_back(modules[i].slot);
      simulators_.push_back(std::make_unique<sim::Simulator>(sim::Scenario{{modules[i]}}));
      options_.emplace_back();
      options_.back().deviceDir = folder_ + "/dev";
      options_.back().stateDir = folder_ + "/state" + std::to_string(i);
      options_.back().fresh = true;
    }
  }
  ~Bench() {  // stops the simulators and removes the folder
    for (auto& s : simulators_) s->Stop();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // Powers the modules up as configured, faults included.
  bool Start(std::string* error) {
    std::error_code failed;
    if (std::filesystem::create_directories(folder_, failed), failed) {
      *error = "cannot create " + folder_ + ": " + failed.message();
      return false;
    }
    for (size_t i = 0; i < simulators_.size(); ++i)
      if (!simulators_[i]->Start(options_[i], error)) return false;
    return true;
  }
  // Stop, drop the faults, start again from the state folders: the memories are kept.
  bool PowerCycleWithoutFaults(std::string* error) {
    for (size_t i = 0; i < simulators_.size(); ++i) {
      simulators_[i]->Stop();
      simulators_[i]->SetFaults(slots_[i], {});
      options_[i].fresh = false;
      if (!simulators_[i]->Start(options_[i], error)) return false;
    }
    return true;
  }
  // Runs the utility once with `arguments`, its timed waits shortened by waitScale (1: full).
  UtilityRun Run(uint32_t waitScale, const std::vector<std::string>& arguments = {}) {
    const std::string base = folder_ + "/run" + std::to_string(++runs_);
    qdev_test::ChildOptions child;
    child.argv = {settings_.utility};
    child.argv.insert(child.argv.end(), arguments.begin(), arguments.end());
    child.environment = {"QDEV_DEVICE_DIR=" + folder_ + "/dev",
                         "QDEV_TIME_SCALE=" + std::to_string(settings_.timeScale),
                         "QDEV_WAIT_SCALE=" + std::to_string(waitScale)};
    child.stdoutPath = base + ".out";
    child.stderrPath = base + ".err";
    child.timeLimitMs = settings_.timeLimitMs;
    for (auto& s : simulators_) s->ClearTraffic();
    UtilityRun run;
    run.child = qdev_test::RunChild(child);
    run.console = ReadFile(child.stdoutPath);
    run.errors = ReadFile(child.stderrPath);
    run.traffic = simulators_[0]->Traffic();
    return run;
  }

  std::vector<uint8_t> McuFlash(size_t i = 0) const { return simulators_[i]->McuFlash(slots_[i]); }
  std::vector<uint8_t> BootFlash(size_t i = 0) const {
    return simulators_[i]->BootFlash(slots_[i]);
  }

 private:
  const SuiteSettings& settings_;
  std::string folder_;
  std::vector<uint16_t> slots_;
  std::vector<std::unique_ptr<sim::Simulator>> simulators_;
  std::vector<sim::SimulatorOptions> options_;
  int runs_ = 0;
};

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
