// r4690-recovery: interrupts the update of each of the suite's modules at every request and proves
// that the utility repairs what it left (README.md).
//
//   r4690-recovery UTILITY [--module TEXT | --alone | --all-at-once [--every N]]
//
// UTILITY is the r4690-update to run; --module runs only the modules whose name contains TEXT,
// --alone the points of every module alone, --all-at-once only the points of a bench of three
// modules updated at once (with --every N, every N-th of them). The points run on as many workers
// as there are cores. Exit status 0 when every point passed, 1 otherwise.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "tests/recovery/recovery.h"

namespace recovery {

namespace {

// An application older than its revision's image and a PLD older than 3.0.7: both images written.
sim::ModuleConfig NeedsBoth(char revision, const char* applicationVersion) {
  sim::ModuleConfig m;
  m.revision = revision;
  m.application = sim::ApplicationKind::kStandIn;
  m.applicationVersion = applicationVersion;
  m.bootFlash = sim::BootFlashKind::kOtherImage;
  return m;
}

struct ModuleResult {
  RecoveryModule module;
  CleanUpdate clean;
  std::vector<Point> points;
  std::vector<Verdict> verdicts;  // one per point
};

// A line per module, then every point that went wrong and every dead end that the sequence's
// rules leave; true when every clean update worked and every point passed.
bool PrintReport(const std::vector<ModuleResult>& results) {
  bool ok = true;
  for (const ModuleResult& m : results) {
    std::printf("%s: %zu requests, %zu points %s\n", m.module.name.c_str(), m.clean.requests.size(),
                m.points.size(), m.clean.problem.c_str());
    ok = ok && m.clean.problem.empty();
    for (size_t i = 0; i < m.points.size(); ++i) {
      const Verdict& v = m.verdicts[i];
      if (!v.wrong.empty() || !v.deadEnd.empty()) {
        std::printf("  %s | %s | %s%s\n", m.points[i].label.c_str(), v.request.c_str(),
                    v.wrong.empty() ? "a dead end that the rules leave: " : "WRONG: ",
                    (v.wrong.empty() ? v.deadEnd : v.wrong).c_str());
      }
      ok = ok && v.wrong.empty();
    }
  }
  return ok;
}

}  // namespace

std::vector<RecoveryModule> RecoveryModules() {
  std::vector<RecoveryModule> modules;
  modules.push_back({"revision C, needs both images", NeedsBoth('C', "3.1")});
  // Revisions A and B answer no 0x91 addresses: each description read falls back to 0x83.
  modules.push_back({"revision B, boot loader 3.1, needs both", NeedsBoth('B', "2.4")});
  sim::ModuleConfig industrial;  // an up-to-date application, the commercial PLD
  industrial.temperatureGrade = 1;
  industrial.bootFlash = sim::BootFlashKind::kCommercialImage;
  modules.push_back({"grade 1 with a commercial PLD", industrial});
  // Revision A's PLD verification sends no request.
  modules.push_back({"revision A, needs both images", NeedsBoth('A', "1.7")});
  sim::ModuleConfig erased;  // up-to-date PLD
  erased.application = sim::ApplicationKind::kNone;
  modules.push_back({"erased application", erased});
  sim::ModuleConfig later = NeedsBoth('C', "3.1");  // found after five empty slots
  later.slot = 5;
  later.usbSpeed = 0;
  modules.push_back({"slot 5, full speed, needs both images", later});
  return modules;
}

}  // namespace recovery

int main(int argc, char** argv) {
  using namespace recovery;
  SuiteSettings settings;
  std::string only;
  bool allAtOnceOnly = false, alone = false;
  size_t every = 1;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--module" && i + 1 < argc) {
      only = argv[++i];
    } else if (arg == "--every" && i + 1 < argc) {
      every = static_cast<size_t>(std::max(1, std::atoi(argv[++i])));
    } else if (arg == "--all-at-once" || arg == "--alone") {
      (arg == "--alone" ? alone : allAtOnceOnly) = true;
    } else {
      argc = 0;
    }
  }
  if (argc < 2) {
    std::fprintf(
        stderr,
        "usage: r4690-recovery UTILITY [--module TEXT | --alone | --all-at-once [--every N]]\n");
    return 2;
  }
  settings.utility = argv[1];
  const unsigned workers = std::max(1u, std::thread::hardware_concurrency());
  // Short, so that the device endpoints' socket paths fit.
  char name[32];
  std::snprintf(name, sizeof name, "r4690-rec-%08x", std::random_device()());
  settings.root = (std::filesystem::temp_directory_path() / name).string();

  std::vector<ModuleResult> results;
  for (RecoveryModule& m : RecoveryModules()) {
    if (m.name.find(only) == std::string::npos) continue;
    if (allAtOnceOnly && results.size() == 3) break;
    results.push_back({std::move(m), {}, {}, {}});
  }
  const auto folder = [&](size_t module, const std::string& what) {
    return settings.root + "/m" + std::to_string(module) + "-" + what;
  };
  RunInParallel(results.size(), workers, [&](size_t m) {
    ModuleResult& r = results[m];
    r.clean = RunCleanUpdate(settings, r.module, folder(m, "clean"));
    if (r.clean.problem.empty() && !allAtOnceOnly) r.points = PointsOf(r.clean);
    r.verdicts.resize(r.points.size());
  });
  std::vector<std::pair<size_t, size_t>> jobs;  // (module, point)
  for (size_t m = 0; m < results.size(); ++m) {
    for (size_t p = 0; p < results[m].points.size(); ++p) jobs.emplace_back(m, p);
  }
  RunInParallel(jobs.size(), workers, [&](size_t j) {
    ModuleResult& r = results[jobs[j].first];
    r.verdicts[jobs[j].second] = RunPoint(settings, r.module, r.clean, r.points[jobs[j].second],
                                          folder(jobs[j].first, std::to_string(jobs[j].second)));
  });
  bool ok = PrintReport(results);

  // The first three modules on one bench, updated at once, when the whole suite runs.
  if (only.empty() && !alone) {
    std::vector<RecoveryModule> three;
    std::vector<const CleanUpdate*> clean;
    for (size_t m = 0; m < 3 && m < results.size(); ++m) {
      three.push_back(results[m].module);
      clean.push_back(&results[m].clean);
    }
    size_t points = 0;
    const std::vector<std::string> wrong =
        RunAllAtOncePoints(settings, three, clean, workers, every, &points);
    std::printf("all at once (three modules, --all): %zu points, %zu went wrong\n", points,
                wrong.size());
    for (const std::string& line : wrong) std::printf("  %s\n", line.c_str());
    ok = ok && wrong.empty() && points != 0;
  }
  std::error_code ignored;
  std::filesystem::remove_all(settings.root, ignored);
  return ok ? 0 : 1;
}
