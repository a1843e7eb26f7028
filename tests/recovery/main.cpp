// r4690-recovery: interrupts the update of each of the suite's modules at every request and proves
// that the utility repairs what it left (README.md).
//
//   r4690-recovery UTILITY [--module TEXT | --alone | --all-at-once] [--every N]
//
// UTILITY is the r4690-update to run; --module runs only the modules whose name contains TEXT,
// --alone the points of every module alone, --all-at-once only the points of a bench of three
// modules updated at once, --every N every N-th point of each module and of the bench (from the
// first). The points run on as many workers as there are cores. Exit status 0 when every point
// passed, 1 otherwise.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>

#include "contract/module_addresses.h"
#include "modlib/records.h"
#include "tests/recovery/recovery.h"
#include "updater/messages.h"

namespace recovery {
namespace {

namespace dc = driver_contract;
namespace addr = module_addresses;
namespace message = updater::message;
using sim::FaultAction;

// One request of a run, as the fault plan and the sequence see it.
struct RequestSite {
  uint32_t request;    // vendor request code, or sim::kDeviceInfoRequest
  uint32_t address;    // reads and writes: Index:Value; runs: 0x8300:Value; else 0
  uint32_t size;       // data bytes asked for
  bool inOpen;         // sent while OpenQDevice opens the module
  bool afterPldWrite;  // a PLD container was written earlier in the run
};

// --- the failure table of the update sequence -------------------------------------------------

// How a run of the utility ends when one of its requests goes wrong, written from the rules of
// the update sequence (README.md): which step each request belongs to, keyed by its request code,
// its address and where in the run it is sent, and the step's failure message (named from the
// utility's list of messages). The suite compares every faulted run with this table; nothing in
// it is taken from a run.

// A message as the last line of a console: without the line feeds around it.
std::string LastLineOf(const char* text) {
  std::string line(text);
  line.erase(0, line.find_first_not_of('\n'));
  return line.substr(0, line.find_last_not_of('\n') + 1);
}

const std::string kSuccessLine = LastLineOf(message::kCompleted);

// Where in the run a row applies.
enum When {
  kOpen,            // while OpenQDevice opens the module
  kAfterOpen,       // anywhere after the open
  kBeforePldWrite,  // after the open, before a PLD container is written
  kAfterPldWrite,   // after a PLD container is written
};

constexpr uint32_t kMemory = 0xFF000000;  // the memory selector of an address

// A row of kOpen matches every request of the open. An address of 0 matches every address; a
// write's matches every address of its memory selector; any other only itself.
struct Row {
  When when;
  uint32_t request;  // request code, or sim::kDeviceInfoRequest
  uint32_t address;
  const char* step;
  const char* failure;  // the message that ends the run when the request fails; null: it goes on
};

// A failed open of the one module makes the slot scan go on to the end: every request of the open
// ends the run with the scan's line. After the open each step ends the run with its own line,
// except where the sequence has a way on: the first read of a description with two addresses
// falls back to the second, the first RunMcuApplication only probes for an application,
// GET_PLD_INFO's failure leads to the container check (or, read after a restart, leaves the version
// at 0), and the PLD's verification while the PLD is examined is a status line.
const Row kRows[] = {
    {kOpen, 0, 0, "OpenQDevice", message::kNoModule},
    {kAfterOpen, dc::kRequestModuleName, 0, "GetModuleName", message::kGetModuleNameBad},
    {kAfterOpen, dc::kRequestUsbSpeed, 0, "GetUsbSpeed", message::kGetUsbSpeedBad},
    {kAfterOpen, dc::kRequestRead, addr::kModuleDescription,
     "GET_MODULE_DESCRIPTION, first address", nullptr},
    {kAfterOpen, dc::kRequestRead, addr::kModuleDescriptionMcu,
     "GET_MODULE_DESCRIPTION, second address", message::kModuleDescriptionBad},
    {kAfterOpen, dc::kRequestRun, addr::kApplicationEntry, "RunMcuApplication, application probe",
     nullptr},
    {kAfterOpen, dc::kRequestRun, addr::kBootLoaderEntry,
     "RunMcuApplication, back to the boot loader", message::kRunMcuApplicationBad},
    {kAfterOpen, dc::kRequestRead, addr::kFirmwareDescription,
     "GET_FIRMWARE_DESCRIPTION, first address", nullptr},
    {kAfterOpen, dc::kRequestRead, addr::kFirmwareDescriptionMcu,
     "GET_FIRMWARE_DESCRIPTION, second address", message::kFirmwareDescriptionBad},
    {kAfterOpen, dc::kRequestRead, addr::kBootLoaderDescription, "GET_BOOT_LOADER_DESCRIPTION",
     message::kBootLoaderDescriptionBad},
    {kAfterOpen, dc::kRequestRead, SEL_PLD_INFO, "GET_PLD_INFO", nullptr},
    {kAfterOpen, dc::kRequestRead, SEL_BOOT_FLASH, "container header read",
     message::kBootFlashReadBad},
    {kAfterOpen, dc::kRequestRead, SEL_MODULE_TG_DATA, "module grade read", message::kGradeReadBad},
    {kAfterOpen, dc::kRequestWrite, SEL_MCU_FLASH, "MCU image write", message::kPutArrayBad},
    {kAfterOpen, dc::kRequestWrite, SEL_BOOT_FLASH, "PLD image write", message::kPutArrayBad},
    {kAfterOpen, dc::kRequestReloadPld, 0, "StartReloadPld", message::kStartReloadPldBad},
    {kBeforePldWrite, dc::kRequestVerifyPld, 0, "VerifyPld while examining the PLD", nullptr},
    {kAfterPldWrite, dc::kRequestVerifyPld, 0, "VerifyPld after the PLD write",
     message::kVerifyPldBad},
};

const Row* Find(const RequestSite& site) {
  for (const Row& row : kRows) {
    if (row.when == kOpen ? !site.inOpen : site.inOpen) continue;
    if (row.when != kOpen && row.when != kAfterOpen &&
        (row.when == kAfterPldWrite) != site.afterPldWrite) {
      continue;
    }
    const uint32_t mask = row.address == 0                   ? 0
                          : row.request == dc::kRequestWrite ? kMemory
                                                             : 0xFFFFFFFF;
    if (row.when == kOpen || (row.request == site.request && (site.address & mask) == row.address))
      return &row;
  }
  return nullptr;
}

// --- the clean update, its points and the run of each point -----------------------------------

struct RecoveryModule {
  std::string name;          // for the report
  sim::ModuleConfig config;  // without faults; the suite adds its own
};

// The clean update on a fresh module; after a power cycle one more run must write nothing and
// change nothing.
struct CleanUpdate {
  std::string problem;                       // empty when the clean update is usable
  std::vector<std::string> traffic;          // its requests, one traffic line each
  std::vector<RequestSite> requests;         // the same requests as the sequence sees them
  std::vector<uint8_t> mcuFlash, bootFlash;  // the memories it leaves
};

// A point that passed went as the sequence's rules say: it recovered, or it left the dead end that
// the rules cannot see.
struct Verdict {
  std::string request;  // the faulted request and its step
  std::string wrong;    // empty when the point passed: "expected ... | seen ..."
  std::string deadEnd;  // the dead end that the sequence's rules leave, and why; empty if none
};

struct Point {
  sim::Fault fault;   // the one fault of the faulted run
  size_t request;     // the clean update's request that it hits (0-based)
  std::string label;  // "power lost after 17 of 40", "unanswered last of its kind"
  Verdict verdict;    // once it has run
};

constexpr int kRunsAfterPowerLoss = 2;  // the utility's runs that may repair a module

bool Completed(const UtilityRun& run) {
  return run.EndedWith(0) && run.LastLine() == kSuccessLine;
}

std::string Seen(const UtilityRun& run) {
  return run.Describe() + ", " + std::to_string(run.Writes()) + " writes";
}

// The memories of the modules from `first` on that differ from what their clean updates leave.
std::string Changed(const Bench& bench, const std::vector<const CleanUpdate*>& clean,
                    size_t first = 0) {
  std::string which;
  for (size_t i = first; i < clean.size(); ++i) {
    if (bench.McuFlash(i) != clean[i]->mcuFlash) which += ", MCU flash " + std::to_string(i);
    if (bench.BootFlash(i) != clean[i]->bootFlash) which += ", boot flash " + std::to_string(i);
  }
  return which;
}

// The faulted run's request at the point's index is the clean update's, with the fault's outcome
// (a power loss: answered as in the clean update, then the power-loss line).
bool FaultLanded(const UtilityRun& run, const CleanUpdate& clean, const Point& point) {
  sim::TrafficEntry seen, planned;
  if (run.traffic.size() <= point.request ||
      !sim::ParseTrafficLine(run.traffic[point.request], &seen) ||
      !sim::ParseTrafficLine(clean.traffic[point.request], &planned)) {
    return false;
  }
  if (point.fault.action == FaultAction::kPowerLoss) {
    return run.traffic[point.request] == clean.traffic[point.request] &&
           run.traffic.size() > point.request + 1 &&
           run.traffic[point.request + 1] == sim::FormatPowerLossLine(planned.request.device);
  }
  const FaultAction action = point.fault.action;
  seen.outcome = planned.outcome = action == FaultAction::kNoAnswer ? sim::Outcome::kNoAnswer
                                   : action != FaultAction::kShort  ? sim::Outcome::kRefused
                                   : planned.request.length == 0    ? sim::Outcome::kOk
                                                                    : sim::Outcome::kShort;
  seen.transferred = planned.transferred = 0;
  return sim::FormatTrafficLine(seen) == sim::FormatTrafficLine(planned);
}

// The one dead end that the sequence's rules leave. A short write into MCU flash stores only the
// first bytes of its chunk; when the firmware description that the next run reads came through
// whole, the rules keep the application as up to date and never write the missing bytes again.
// Then the next run completes without writing, and MCU flash differs from the clean update's in
// exactly the bytes that the short write left out.
bool LeavesUnseenGap(const Bench& bench, const CleanUpdate& clean, const Point& point,
                     uint32_t* gapStart, uint32_t* gapEnd) {
  const RequestSite& site = clean.requests[point.request];
  if (point.fault.action != FaultAction::kShort || site.request != dc::kRequestWrite ||
      (site.address & kMemory) != SEL_MCU_FLASH) {
    return false;
  }
  const std::vector<uint8_t> mcu = bench.McuFlash();
  for (uint32_t description :
       {module_addresses::kFirmwareDescription, module_addresses::kFirmwareDescriptionMcu}) {
    const size_t at = description & 0xFFFF;  // either address's offset in MCU flash
    if (!std::equal(mcu.begin() + at, mcu.begin() + at + sizeof(FirmwareDescription),
                    clean.mcuFlash.begin() + at)) {
      return false;
    }
  }
  const uint32_t chunk = site.address & ~kMemory;
  *gapStart = chunk + point.fault.bytes.value_or(site.size - 1);
  *gapEnd = chunk + site.size;
  return true;
}

CleanUpdate RunCleanUpdate(const SuiteSettings& settings, const RecoveryModule& module,
                           const std::string& folder) {
  CleanUpdate clean;
  const auto fail = [&](const std::string& problem) {
    clean.problem = problem;
    return clean;
  };
  Bench bench(settings, folder, {module.config});
  std::string error;
  if (!bench.Start(&error)) return fail("start: " + error);
  const UtilityRun update = bench.Run(1);
  if (!Completed(update) || update.Writes() == 0) return fail("the clean update: " + Seen(update));
  clean.traffic = update.traffic;
  bool opening = true;  // the open ends with its RunMcuApplication to the boot loader
  bool pldWritten = false;
  for (const std::string& line : clean.traffic) {
    sim::TrafficEntry e;
    if (!sim::ParseTrafficLine(line, &e) || e.request.code == sim::kNoRequest)
      return fail("a traffic line is no request");
    const uint32_t address = e.request.address.value_or(0);
    clean.requests.push_back({e.request.code, address, e.request.length, opening, pldWritten});
    if (Find(clean.requests.back()) == nullptr) return fail("no rule for " + line);
    opening = opening && e.request.code != dc::kRequestRun;
    pldWritten = pldWritten ||
                 (e.request.code == dc::kRequestWrite && (address & kMemory) == SEL_BOOT_FLASH);
  }
  clean.mcuFlash = bench.McuFlash();
  clean.bootFlash = bench.BootFlash();
  if (!bench.PowerCycleWithoutFaults(&error)) return fail("power cycle: " + error);
  const UtilityRun again = bench.Run(1);
  if (!Completed(again) || again.Writes() != 0 || !Changed(bench, {&clean}).empty()) {
    return fail("the run after the clean update: " + Seen(again) + Changed(bench, {&clean}));
  }
  return clean;
}

std::vector<Point> PointsOf(const CleanUpdate& clean) {
  std::vector<Point> points;
  const size_t n = clean.requests.size();
  std::map<uint32_t, uint32_t> ofKind;  // requests of each kind (request code)
  for (size_t k = 0; k < n; ++k) {
    ++ofKind[clean.requests[k].request];
    points.push_back({{FaultAction::kPowerLoss, {}, {}, static_cast<uint32_t>(k + 1), {}, 0},
                      k,
                      "power lost after " + std::to_string(k + 1) + " of " + std::to_string(n),
                      {}});
  }
  // The first and the last request of each kind, each failed, unanswered and answered short.
  std::map<uint32_t, uint32_t> sent;
  for (size_t k = 0; k < n; ++k) {
    const uint32_t kind = clean.requests[k].request;
    const uint32_t nth = ++sent[kind];
    if (nth != 1 && nth != ofKind[kind]) continue;
    for (const auto& [action, word] : {std::pair{FaultAction::kFail, "failed "},
                                       {FaultAction::kNoAnswer, "unanswered "},
                                       {FaultAction::kShort, "short "}}) {
      points.push_back({{action, kind, {}, nth, {}, 0},
                        k,
                        word + std::string(nth == 1 ? "first" : "last") + " of its kind",
                        {}});
    }
  }
  return points;
}

Verdict RunPoint(const SuiteSettings& settings, const RecoveryModule& module,
                 const CleanUpdate& clean, const Point& point, const std::string& folder) {
  const RequestSite& site = clean.requests[point.request];
  const Row& row = *Find(site);  // the clean update has a row for each of its requests
  Verdict v;
  v.request = "#" + std::to_string(point.request + 1) + " " + clean.traffic[point.request] + " (" +
              row.step + ")";
  sim::ModuleConfig config = module.config;
  config.faults = {point.fault};
  Bench bench(settings, folder, {config});
  std::string seen, error;
  const auto wrong = [&](const std::string& expected, const std::string& more) {
    v.wrong = "expected " + expected + " | seen " + seen + more;
    return v;
  };
  if (!bench.Start(&error)) return wrong("a start", error);
  const UtilityRun faulted =
      bench.Run(point.fault.action == FaultAction::kNoAnswer ? settings.noAnswerWaitScale : 1);
  seen = "run 1: " + faulted.Describe();

  if (point.fault.action == FaultAction::kPowerLoss) {
    // A power cycle, then runs until one completes without writing anything.
    // Ended on its own, as a run of the utility must whatever the module does.
    if (!faulted.EndedWith(0) && !faulted.EndedWith(255)) return wrong("an exit", "");
    if (!FaultLanded(faulted, clean, point)) return wrong("power lost after the request", "");
    if (!bench.PowerCycleWithoutFaults(&error)) return wrong("a power cycle", error);
    for (int i = 2; i < 2 + kRunsAfterPowerLoss; ++i) {
      const UtilityRun run = bench.Run(1);
      seen += "; run " + std::to_string(i) + ": " + Seen(run);
      if (!run.EndedWith(0) && !run.EndedWith(255)) break;
      if (Completed(run) && run.Writes() == 0)
        return Changed(bench, {&clean}).empty() ? v : wrong("recovery", Changed(bench, {&clean}));
    }
    return wrong("recovery within " + std::to_string(kRunsAfterPowerLoss) + " runs", "");
  }

  // A single fault: the run ends as the table says; after a power cycle one run recovers.
  // A request without data cannot be answered short: the module answers it as usual.
  const bool fails =
      row.failure != nullptr && (point.fault.action != FaultAction::kShort || site.size != 0);
  const int exitStatus = fails ? 255 : 0;
  const std::string lastLine = fails ? LastLineOf(row.failure) : kSuccessLine;
  const std::string expected = "exit " + std::to_string(exitStatus) + ", '" + lastLine + "', then ";
  if (!FaultLanded(faulted, clean, point)) return wrong(expected, " (the fault did not land)");
  const bool asExpected = faulted.EndedWith(exitStatus) && faulted.LastLine() == lastLine;
  uint32_t gapStart = 0, gapEnd = 0;
  const bool gap = LeavesUnseenGap(bench, clean, point, &gapStart, &gapEnd);
  if (!bench.PowerCycleWithoutFaults(&error)) return wrong(expected, "; power cycle: " + error);
  const UtilityRun after = bench.Run(1);
  seen += "; after a power cycle: " + Seen(after);
  const std::string changed = Changed(bench, {&clean});
  if (gap) {
    // The memories are the clean update's but for the gap, and stay so.
    std::vector<uint8_t> mcu = bench.McuFlash();
    if (mcu.size() == clean.mcuFlash.size() && gapEnd <= mcu.size()) {
      std::copy(clean.mcuFlash.begin() + gapStart, clean.mcuFlash.begin() + gapEnd,
                mcu.begin() + gapStart);
    }
    if (!asExpected || !Completed(after) || after.Writes() != 0 || mcu != clean.mcuFlash ||
        bench.BootFlash() != clean.bootFlash) {
      return wrong(expected + "a run that writes nothing", changed);
    }
    if (changed.empty()) return v;
    char text[160];
    std::snprintf(text, sizeof text,
                  "MCU flash 0x%04X-0x%04X stays unwritten: the firmware description came "
                  "through, so the next run keeps the application",
                  gapStart, gapEnd - 1);
    v.deadEnd = text;
    return v;
  }
  return asExpected && Completed(after) && changed.empty() ? v
                                                           : wrong(expected + "recovery", changed);
}

struct ModuleResult {
  RecoveryModule module;
  CleanUpdate clean;
  std::vector<Point> points;
};

// The first three modules on one bench, updated together by --all: the power of the first is lost
// after each of its requests in turn (every `every`-th only). The other two must end that run as
// their clean updates leave them; after a power cycle one more --all must leave all three so and
// end with exit code 0. A line for each point that went wrong; `points` is how many were run.
std::vector<std::string> RunAllAtOncePoints(const SuiteSettings& settings,
                                            const std::vector<ModuleResult>& results,
                                            unsigned workers, size_t every, size_t* points) {
  std::vector<const CleanUpdate*> clean;
  for (size_t m = 0; m < 3 && m < results.size(); ++m) clean.push_back(&results[m].clean);
  // The modules in slots 0, 1, 2..., the power of the first lost after its request k (0: never).
  const auto configs = [&](size_t k) {
    std::vector<sim::ModuleConfig> configs;
    for (size_t i = 0; i < clean.size(); ++i) {
      configs.push_back(results[i].module.config);
      configs.back().slot = static_cast<uint16_t>(i);
    }
    if (k != 0)
      configs[0].faults = {{FaultAction::kPowerLoss, {}, {}, static_cast<uint32_t>(k), {}, 0}};
    return configs;
  };
  *points = 0;
  size_t requests = 0;  // that the first module gets in a clean --all
  {
    Bench bench(settings, settings.root + "/all-clean", configs(0));
    std::string error;
    if (!bench.Start(&error)) return {"the clean --all: " + error};
    const UtilityRun run = bench.Run(1, {"--all"});
    if (!run.EndedWith(0) || !Changed(bench, clean).empty()) {
      return {"the clean --all: " + run.Describe() + ";" + Changed(bench, clean) +
              " otherwise than its clean update"};
    }
    requests = run.traffic.size();
  }
  *points = (requests + every - 1) / every;
  std::vector<std::string> wrong(*points);
  RunInParallel(*points, workers, [&](size_t p) {
    const size_t k = p * every + 1;
    Bench bench(settings, settings.root + "/all-" + std::to_string(k), configs(k));
    wrong[p] = [&]() -> std::string {
      std::string error;
      if (!bench.Start(&error)) return error;
      const UtilityRun first = bench.Run(1, {"--all"});
      if (!first.Exited()) return "the first --all: " + first.Describe();
      if (!Changed(bench, clean, 1).empty())
        return "the first --all changed" + Changed(bench, clean, 1);
      if (!bench.PowerCycleWithoutFaults(&error)) return error;
      const UtilityRun second = bench.Run(1, {"--all"});
      if (!second.EndedWith(0)) return "the second --all: " + second.Describe();
      if (!Changed(bench, clean).empty())
        return "not clean after the second --all:" + Changed(bench, clean);
      return "";
    }();
    if (!wrong[p].empty())
      wrong[p] = "power of the first lost after its request " + std::to_string(k) + ": " + wrong[p];
  });
  wrong.erase(std::remove(wrong.begin(), wrong.end(), ""), wrong.end());
  return wrong;
}

// An application older than its revision's image and a PLD older than 3.0.7: both images written.
sim::ModuleConfig NeedsBoth(char revision, const char* applicationVersion) {
  sim::ModuleConfig m;
  m.revision = revision;
  m.application = sim::ApplicationKind::kStandIn;
  m.applicationVersion = applicationVersion;
  m.bootFlash = sim::BootFlashKind::kOtherImage;
  return m;
}

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

}  // namespace
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
    std::fputs(
        "usage: r4690-recovery UTILITY [--module TEXT | --alone | --all-at-once] [--every N]\n",
        stderr);
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
    results.push_back({std::move(m), {}, {}});
  }
  const auto folder = [&](size_t module, const std::string& what) {
    return settings.root + "/m" + std::to_string(module) + "-" + what;
  };
  RunInParallel(results.size(), workers, [&](size_t m) {
    ModuleResult& r = results[m];
    r.clean = RunCleanUpdate(settings, r.module, folder(m, "clean"));
    if (!r.clean.problem.empty() || allAtOnceOnly) return;
    const std::vector<Point> all = PointsOf(r.clean);
    for (size_t p = 0; p < all.size(); p += every) r.points.push_back(all[p]);
  });
  std::vector<std::pair<size_t, size_t>> jobs;  // (module, point)
  for (size_t m = 0; m < results.size(); ++m)
    for (size_t p = 0; p < results[m].points.size(); ++p) jobs.emplace_back(m, p);
  RunInParallel(jobs.size(), workers, [&](size_t j) {
    ModuleResult& r = results[jobs[j].first];
    Point& p = r.points[jobs[j].second];
    p.verdict = RunPoint(settings, r.module, r.clean, p,
                         folder(jobs[j].first, std::to_string(jobs[j].second)));
  });
  // A line per module, then every point that went wrong and every dead end that the sequence's
  // rules leave.
  bool ok = true;
  for (const ModuleResult& m : results) {
    std::printf("%s: %zu requests, %zu points %s\n", m.module.name.c_str(), m.clean.requests.size(),
                m.points.size(), m.clean.problem.c_str());
    ok = ok && m.clean.problem.empty();
    for (const Point& p : m.points) {
      const Verdict& v = p.verdict;
      if (!v.wrong.empty() || !v.deadEnd.empty()) {
        std::printf("  %s | %s | %s%s\n", p.label.c_str(), v.request.c_str(),
                    v.wrong.empty() ? "a dead end that the rules leave: " : "WRONG: ",
                    (v.wrong.empty() ? v.deadEnd : v.wrong).c_str());
      }
      ok = ok && v.wrong.empty();
    }
  }

  // The first three modules on one bench, updated at once, when the whole suite runs.
  if (only.empty() && !alone) {
    size_t points = 0;
    const std::vector<std::string> wrong =
        RunAllAtOncePoints(settings, results, workers, every, &points);
    std::printf("all at once (three modules, --all): %zu points, %zu went wrong\n", points,
                wrong.size());
    for (const std::string& line : wrong) std::printf("  %s\n", line.c_str());
    ok = ok && wrong.empty() && points != 0;
  }
  std::error_code ignored;
  std::filesystem::remove_all(settings.root, ignored);
  return ok ? 0 : 1;
}
