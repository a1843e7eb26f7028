// The bench: simulator starts, power cycles and utility runs.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "contract/driver_contract.h"
#include "sim/testing/traffic_parse.h"
#include "tests/recovery/recovery.h"

namespace recovery {

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::string UtilityRun::LastLine() const {
  std::string text = console;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text.substr(text.find_last_of('\n') + 1);  // npos + 1 is 0
}

size_t UtilityRun::Writes() const {
  size_t writes = 0;
  for (const std::string& line : traffic) {
    sim::TrafficEntry entry;
    writes +=
        sim::ParseTrafficLine(line, &entry) && entry.request.code == driver_contract::kRequestWrite;
  }
  return writes;
}

std::string UtilityRun::Describe() const {
  using End = qdev_test::ChildResult::End;
  std::string text =
      child.end == End::kExited ? "exit " + std::to_string(child.status) + ", '" + LastLine() + "'"
      : child.end == End::kSignalled ? "killed by signal " + std::to_string(child.status)
      : child.end == End::kTimedOut
          ? "hang (killed after " + std::to_string(child.elapsedMs) + " ms)"
          : "not started (errno " + std::to_string(child.status) + ")";
  if (!errors.empty()) text += ", standard error: " + errors.substr(0, errors.find('\n'));
  return text;
}

Bench::Bench(const SuiteSettings& settings, std::string folder,
             const std::vector<sim::ModuleConfig>& modules)
    : settings_(settings), folder_(std::move(folder)) {
  for (size_t i = 0; i < modules.size(); ++i) {
    sim::Scenario scenario;
    scenario.modules = {modules[i]};
    slots_.push_back(modules[i].slot);
    simulators_.push_back(std::make_unique<sim::Simulator>(scenario));
    options_.emplace_back();
    options_.back().deviceDir = folder_ + "/dev";
    options_.back().stateDir = folder_ + "/state" + std::to_string(i);
    options_.back().fresh = true;
  }
}

Bench::~Bench() {
  for (auto& s : simulators_) s->Stop();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

bool Bench::Start(std::string* error) {
  std::error_code failed;
  std::filesystem::create_directories(folder_, failed);
  if (failed) {
    *error = "cannot create " + folder_ + ": " + failed.message();
    return false;
  }
  for (size_t i = 0; i < simulators_.size(); ++i) {
    if (!simulators_[i]->Start(options_[i], error)) return false;
  }
  return true;
}

bool Bench::PowerCycleWithoutFaults(std::string* error) {
  for (size_t i = 0; i < simulators_.size(); ++i) {
    simulators_[i]->Stop();
    simulators_[i]->SetFaults(slots_[i], {});
    options_[i].fresh = false;
    if (!simulators_[i]->Start(options_[i], error)) return false;
  }
  return true;
}

UtilityRun Bench::Run(uint32_t waitScale, const std::vector<std::string>& arguments) {
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

std::vector<uint8_t> Bench::McuFlash(size_t module) const {
  return simulators_[module]->McuFlash(slots_[module]);
}

std::vector<uint8_t> Bench::BootFlash(size_t module) const {
  return simulators_[module]->BootFlash(slots_[module]);
}

}  // namespace recovery
