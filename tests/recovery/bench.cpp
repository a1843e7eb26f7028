// The bench: simulator start, power cycle and utility runs.
#include "tests/recovery/bench.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "contract/driver_contract.h"
#include "sim/testing/traffic_parse.h"

namespace recovery {

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

sim::Scenario ScenarioOf(const sim::ModuleConfig& module) {
  sim::Scenario scenario;
  scenario.modules = {module};
  return scenario;
}

}  // namespace

bool UtilityRun::EndedWith(int status) const {
  return child.end == qdev_test::ChildResult::End::kExited && child.status == status &&
         errors.empty();
}

std::string UtilityRun::LastLine() const {
  std::string text = console;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  const size_t start = text.find_last_of('\n');
  return start == std::string::npos ? text : text.substr(start + 1);
}

size_t UtilityRun::Writes() const {
  size_t writes = 0;
  for (const std::string& line : traffic) {
    sim::TrafficEntry entry;
    if (sim::ParseTrafficLine(line, &entry) &&
        entry.request.code == driver_contract::kRequestWrite) {
      ++writes;
    }
  }
  return writes;
}

std::string UtilityRun::Describe() const {
  using End = qdev_test::ChildResult::End;
  std::string text;
  switch (child.end) {
    case End::kExited:
      text = "exit " + std::to_string(child.status) + ", '" + LastLine() + "'";
      break;
    case End::kSignalled:
      text = "killed by signal " + std::to_string(child.status);
      break;
    case End::kTimedOut:
      text = "hang (killed after " + std::to_string(child.elapsedMs) + " ms)";
      break;
    case End::kNotStarted:
      text = "not started (errno " + std::to_string(child.status) + ")";
      break;
  }
  if (!errors.empty()) text += ", standard error: " + errors.substr(0, errors.find('\n'));
  return text;
}

Bench::Bench(const BenchSettings& settings, std::string folder, const sim::ModuleConfig& module)
    : settings_(settings),
      folder_(std::move(folder)),
      slot_(module.slot),
      simulator_(ScenarioOf(module)) {
  options_.deviceDir = folder_ + "/dev";
  options_.stateDir = folder_ + "/state";
  options_.fresh = true;
}

Bench::~Bench() {
  simulator_.Stop();
  std::error_code ignored;
  if (!keep_) fs::remove_all(folder_, ignored);
}

bool Bench::Start(std::string* error) {
  std::error_code failed;
  fs::create_directories(folder_, failed);
  if (failed) {
    *error = "cannot create " + folder_ + ": " + failed.message();
    return false;
  }
  return simulator_.Start(options_, error);
}

bool Bench::PowerCycleWithoutFaults(std::string* error) {
  simulator_.Stop();
  simulator_.SetFaults(slot_, {});
  options_.fresh = false;
  return simulator_.Start(options_, error);
}

UtilityRun Bench::Run(uint32_t waitScale) {
  const std::string base = folder_ + "/run" + std::to_string(++runs_);
  qdev_test::ChildOptions child;
  child.argv = {settings_.utility};
  child.environment = {"QDEV_DEVICE_DIR=" + options_.deviceDir,
                       "QDEV_TIME_SCALE=" + std::to_string(settings_.timeScale),
                       "QDEV_WAIT_SCALE=" + std::to_string(waitScale)};
  child.stdoutPath = base + ".out";
  child.stderrPath = base + ".err";
  child.timeLimitMs = settings_.timeLimitMs;
  simulator_.ClearTraffic();
  UtilityRun run;
  run.child = qdev_test::RunChild(child);
  run.console = ReadFile(child.stdoutPath);
  run.errors = ReadFile(child.stderrPath);
  run.traffic = simulator_.Traffic();
  return run;
}

std::vector<uint8_t> Bench::McuFlash() const {
  return simulator_.McuFlash(slot_);
}

std::vector<uint8_t> Bench::BootFlash() const {
  return simulator_.BootFlash(slot_);
}

}  // namespace recovery
