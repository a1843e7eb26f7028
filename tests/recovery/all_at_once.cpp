// A bench of three modules, one simulator each, and the points of --all on it.
#include "tests/recovery/all_at_once.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "tests/recovery/work_pool.h"

namespace recovery {

namespace {

class ThreeModules {
 public:
  ThreeModules(const SuiteSettings& settings, const std::vector<RecoveryModule>& modules,
               std::string folder)
      : settings_(settings), folder_(std::move(folder)) {
    for (size_t i = 0; i < modules.size(); ++i) {
      sim::Scenario scenario;
      scenario.modules = {modules[i].config};
      scenario.modules[0].slot = static_cast<uint16_t>(i);
      simulators_.push_back(std::make_unique<sim::Simulator>(scenario));
      options_.emplace_back();
      options_.back().deviceDir = folder_ + "/dev";
      options_.back().stateDir = folder_ + "/state" + std::to_string(i);
      options_.back().fresh = true;
    }
  }
  ~ThreeModules() {
    for (auto& s : simulators_) s->Stop();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // Powers every module up from its state folder, the first with these faults.
  bool Start(const std::vector<sim::Fault>& faults, std::string* error) {
    for (size_t i = 0; i < simulators_.size(); ++i) {
      simulators_[i]->Stop();
      simulators_[i]->SetFaults(static_cast<uint16_t>(i),
                                i == 0 ? faults : std::vector<sim::Fault>{});
      if (!simulators_[i]->Start(options_[i], error)) return false;
      options_[i].fresh = false;
    }
    return true;
  }

  // Runs --all; its exit status, or -2 when it did not end on its own.
  int RunAll() {
    qdev_test::ChildOptions child;
    child.argv = {settings_.bench.utility, "--all"};
    child.environment = {"QDEV_DEVICE_DIR=" + folder_ + "/dev",
                         "QDEV_TIME_SCALE=" + std::to_string(settings_.bench.timeScale)};
    child.stdoutPath = folder_ + "/out" + std::to_string(++runs_);
    child.stderrPath = child.stdoutPath + ".err";
    child.timeLimitMs = settings_.bench.timeLimitMs;
    for (auto& s : simulators_) s->ClearTraffic();
    const qdev_test::ChildResult result = qdev_test::RunChild(child);
    std::ifstream errors(child.stderrPath);
    if (result.end != qdev_test::ChildResult::End::kExited ||
        errors.peek() != std::ifstream::traits_type::eof()) {
      return -2;
    }
    return result.status;
  }

  size_t Requests(size_t module) const { return simulators_[module]->Traffic().size(); }

  // Whether module i holds what its clean update left.
  bool Clean(size_t i, const CleanUpdate& clean) const {
    const auto slot = static_cast<uint16_t>(i);
    return simulators_[i]->McuFlash(slot) == clean.mcuFlash &&
           simulators_[i]->BootFlash(slot) == clean.bootFlash;
  }

 private:
  const SuiteSettings& settings_;
  std::string folder_;
  std::vector<std::unique_ptr<sim::Simulator>> simulators_;
  std::vector<sim::SimulatorOptions> options_;
  int runs_ = 0;
};

// One point: the first module's power lost after its request k; "" when it recovered.
std::string RunPoint(const SuiteSettings& settings, const std::vector<RecoveryModule>& modules,
                     const std::vector<const CleanUpdate*>& clean, size_t k,
                     const std::string& folder) {
  const std::string at = "power of the first lost after its request " + std::to_string(k) + ": ";
  ThreeModules bench(settings, modules, folder);
  sim::Fault loss;
  loss.action = sim::FaultAction::kPowerLoss;
  loss.nth = static_cast<uint32_t>(k);
  std::string error;
  if (!bench.Start({loss}, &error)) return at + error;
  if (bench.RunAll() == -2) return at + "the first --all did not end, or said something on stderr";
  for (size_t i = 1; i < modules.size(); ++i) {
    if (!bench.Clean(i, *clean[i])) return at + "module " + std::to_string(i) + " was changed";
  }
  if (!bench.Start({}, &error)) return at + error;
  const int status = bench.RunAll();
  if (status != 0) return at + "the second --all ended with " + std::to_string(status);
  for (size_t i = 0; i < modules.size(); ++i) {
    if (!bench.Clean(i, *clean[i])) return at + "module " + std::to_string(i) + " is not clean";
  }
  return "";
}

}  // namespace

std::vector<std::string> RunAllAtOncePoints(const SuiteSettings& settings,
                                            const std::vector<RecoveryModule>& modules,
                                            const std::vector<const CleanUpdate*>& clean,
                                            unsigned workers, size_t every, size_t* points) {
  *points = 0;
  // The clean --all: how many requests the first module gets in it.
  size_t requests = 0;
  {
    ThreeModules bench(settings, modules, settings.root + "/all-clean");
    std::string error;
    if (!bench.Start({}, &error)) return {"the clean --all: " + error};
    const int status = bench.RunAll();
    for (size_t i = 0; i < modules.size(); ++i) {
      if (status != 0 || !bench.Clean(i, *clean[i])) {
        return {"the clean --all ended with " + std::to_string(status) + ", or left module " +
                std::to_string(i) + " otherwise than its clean update"};
      }
    }
    requests = bench.Requests(0);
  }
  *points = (requests + every - 1) / every;
  std::vector<std::string> wrong(*points);
  RunInParallel(*points, workers, [&](size_t p) {
    const size_t k = p * every + 1;
    wrong[p] = RunPoint(settings, modules, clean, k, settings.root + "/all-" + std::to_string(k));
  });
  std::vector<std::string> failures;
  for (std::string& w : wrong) {
    if (!w.empty()) failures.push_back(std::move(w));
  }
  return failures;
}

}  // namespace recovery
