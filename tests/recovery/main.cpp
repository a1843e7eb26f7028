// r4690-recovery: interrupts the update of each of the suite's modules at every request and proves
// that the utility repairs what it left (README.md).
//
//   r4690-recovery UTILITY [--jobs N] [--module TEXT | --all-at-once] [--every N] [--keep]
//
// UTILITY is the r4690-update to run; --jobs sets the number of workers (default: the cores),
// --module runs only the modules whose name contains TEXT, --all-at-once only the points of a
// bench of three modules updated at once, --every N every N-th point of each module and of the
// bench (from the first), --keep leaves the folders of failed points in the temporary folder.
// Exit status 0 when every point passed, 1 otherwise.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "tests/recovery/all_at_once.h"
#include "tests/recovery/modules.h"
#include "tests/recovery/points.h"
#include "tests/recovery/report.h"
#include "tests/recovery/work_pool.h"

int main(int argc, char** argv) {
  using namespace recovery;
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: r4690-recovery UTILITY [--jobs N] [--module TEXT | --all-at-once] "
                 "[--every N] [--keep]\n");
    return 2;
  }
  SuiteSettings settings;
  settings.bench.utility = argv[1];
  unsigned workers = std::thread::hardware_concurrency();
  std::string only;
  bool allAtOnceOnly = false;
  size_t every = 1;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--jobs") == 0 && i + 1 < argc) {
      workers = static_cast<unsigned>(std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--module") == 0 && i + 1 < argc) {
      only = argv[++i];
    } else if (std::strcmp(argv[i], "--every") == 0 && i + 1 < argc) {
      every = static_cast<size_t>(std::max(1, std::atoi(argv[++i])));
    } else if (std::strcmp(argv[i], "--all-at-once") == 0) {
      allAtOnceOnly = true;
    } else if (std::strcmp(argv[i], "--keep") == 0) {
      settings.keep = true;
    } else {
      std::fprintf(stderr, "r4690-recovery: unknown argument %s\n", argv[i]);
      return 2;
    }
  }
  if (workers == 0) workers = 1;

  // Short, so that the device endpoints' socket paths fit.
  char name[32];
  std::snprintf(name, sizeof name, "r4690-rec-%08x", std::random_device()());
  settings.root = (std::filesystem::temp_directory_path() / name).string();

  std::vector<ModuleResult> results;
  std::vector<RecoveryModule> modules;
  for (RecoveryModule& m : RecoveryModules()) {
    if (m.name.find(only) == std::string::npos) continue;
    if (allAtOnceOnly && modules.size() == 3) break;
    results.push_back({m.name, {}, {}, {}});
    modules.push_back(std::move(m));
  }
  const auto start = std::chrono::steady_clock::now();
  const auto folder = [&](size_t module, const std::string& what) {
    return settings.root + "/m" + std::to_string(module) + "-" + what;
  };

  RunInParallel(modules.size(), workers, [&](size_t m) {
    results[m].clean = RunCleanUpdate(settings, modules[m], folder(m, "clean"));
    if (results[m].clean.problem.empty() && !allAtOnceOnly) {
      const std::vector<Point> all = PointsOf(results[m].clean);
      for (size_t p = 0; p < all.size(); p += every) results[m].points.push_back(all[p]);
      results[m].verdicts.resize(results[m].points.size());
    }
  });
  std::vector<std::pair<size_t, size_t>> jobs;  // (module, point)
  for (size_t m = 0; m < results.size(); ++m) {
    for (size_t p = 0; p < results[m].points.size(); ++p) jobs.emplace_back(m, p);
  }
  RunInParallel(jobs.size(), workers, [&](size_t j) {
    const auto [m, p] = jobs[j];
    results[m].verdicts[p] = RunPoint(settings, modules[m], results[m].clean, results[m].points[p],
                                      folder(m, std::to_string(p)));
  });

  // The first three modules on one bench, updated at once, when the whole suite runs.
  std::vector<std::string> allAtOnce;
  size_t allAtOncePoints = 0;
  if (only.empty() && modules.size() >= 3) {
    std::vector<const CleanUpdate*> clean;
    for (size_t m = 0; m < 3; ++m) clean.push_back(&results[m].clean);
    const std::vector<RecoveryModule> three(modules.begin(), modules.begin() + 3);
    allAtOnce = RunAllAtOncePoints(settings, three, clean, workers, every, &allAtOncePoints);
  }

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  bool ok = PrintReport(stdout, results, workers, seconds);
  if (only.empty()) {
    std::printf("\nall at once (three modules, --all): %zu points, %zu went wrong\n",
                allAtOncePoints, allAtOnce.size());
    for (const std::string& line : allAtOnce) std::printf("  %s\n", line.c_str());
    ok = ok && allAtOnce.empty() && allAtOncePoints != 0;
  }
  std::error_code ignored;
  if (!settings.keep) std::filesystem::remove_all(settings.root, ignored);
  return ok ? 0 : 1;
}
