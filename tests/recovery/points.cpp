// The clean update, the points built from it, and the run of each point, alone or with --all.
#include <algorithm>
#include <cstdio>
#include <map>

#include "contract/driver_contract.h"
#include "contract/module_addresses.h"
#include "modlib/records.h"
#include "sim/testing/traffic_parse.h"
#include "tests/recovery/recovery.h"

namespace recovery {

namespace {

namespace dc = driver_contract;
using sim::FaultAction;

constexpr uint32_t kMemorySelector = 0xFF000000;
constexpr int kRunsAfterPowerLoss = 2;  // the utility's runs that may repair a module

bool Completed(const UtilityRun& run) {
  return run.EndedWith(0) && run.LastLine() == kSuccessLine;
}

// Ended on its own, as a run of the utility must whatever the module does.
bool EndedNormally(const UtilityRun& run) {
  return run.EndedWith(0) || run.EndedWith(255);
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
  sim::Outcome outcome = sim::Outcome::kRefused;
  if (point.fault.action == FaultAction::kNoAnswer) outcome = sim::Outcome::kNoAnswer;
  if (point.fault.action == FaultAction::kShort) {
    outcome = planned.request.length == 0 ? sim::Outcome::kOk : sim::Outcome::kShort;
  }
  seen.outcome = planned.outcome = outcome;
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
      (site.address & kMemorySelector) != SEL_MCU_FLASH) {
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
  const uint32_t chunk = site.address & ~kMemorySelector;
  *gapStart = chunk + point.fault.bytes.value_or(site.size - 1);
  *gapEnd = chunk + site.size;
  return true;
}

bool SitesOf(const std::vector<std::string>& traffic, std::vector<RequestSite>* sites) {
  bool opening = true;  // the open ends with its RunMcuApplication to the boot loader
  bool pldWritten = false;
  for (const std::string& line : traffic) {
    sim::TrafficEntry e;
    if (!sim::ParseTrafficLine(line, &e) || e.request.code == sim::kNoRequest) return false;
    const uint32_t address = e.request.address.value_or(0);
    sites->push_back({e.request.code, address, e.request.length, opening, pldWritten});
    opening = opening && e.request.code != dc::kRequestRun;
    pldWritten = pldWritten || (e.request.code == dc::kRequestWrite &&
                                (address & kMemorySelector) == SEL_BOOT_FLASH);
  }
  return true;
}

}  // namespace

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
  if (!SitesOf(clean.traffic, &clean.requests)) return fail("a traffic line is no request");
  for (size_t i = 0; i < clean.requests.size(); ++i) {
    if (StepOf(clean.requests[i]).empty()) return fail("no rule for " + clean.traffic[i]);
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
    Point p{{}, k, "power lost after " + std::to_string(k + 1) + " of " + std::to_string(n)};
    p.fault.action = FaultAction::kPowerLoss;
    p.fault.nth = static_cast<uint32_t>(k + 1);
    points.push_back(p);
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
      Point p{{}, k, word + std::string(nth == 1 ? "first" : "last") + " of its kind"};
      p.fault.action = action;
      p.fault.request = kind;
      p.fault.nth = nth;
      points.push_back(p);
    }
  }
  return points;
}

Verdict RunPoint(const SuiteSettings& settings, const RecoveryModule& module,
                 const CleanUpdate& clean, const Point& point, const std::string& folder) {
  const RequestSite& site = clean.requests[point.request];
  Verdict v;
  v.request = "#" + std::to_string(point.request + 1) + " " + clean.traffic[point.request] + " (" +
              StepOf(site) + ")";
  sim::ModuleConfig config = module.config;
  config.faults = {point.fault};
  Bench bench(settings, folder, {config});
  std::string seen, error;
  const auto wrong = [&](const std::string& expected, const std::string& more) {
    v.wrong = "expected " + expected + " | seen " + seen + more;
    return v;
  };
  if (!bench.Start(&error)) return wrong("a start", error);
  const bool waits = point.fault.action == FaultAction::kNoAnswer;
  const UtilityRun faulted = bench.Run(waits ? settings.noAnswerWaitScale : 1);
  seen = "run 1: " + faulted.Describe();

  if (point.fault.action == FaultAction::kPowerLoss) {
    // A power cycle, then runs until one completes without writing anything.
    if (!EndedNormally(faulted)) return wrong("an exit", "");
    if (!FaultLanded(faulted, clean, point)) return wrong("power lost after the request", "");
    if (!bench.PowerCycleWithoutFaults(&error)) return wrong("a power cycle", error);
    for (int i = 2; i < 2 + kRunsAfterPowerLoss; ++i) {
      const UtilityRun run = bench.Run(1);
      seen += "; run " + std::to_string(i) + ": " + Seen(run);
      if (!EndedNormally(run)) break;
      if (Completed(run) && run.Writes() == 0) {
        return Changed(bench, {&clean}).empty() ? v : wrong("recovery", Changed(bench, {&clean}));
      }
    }
    return wrong("recovery within " + std::to_string(kRunsAfterPowerLoss) + " runs", "");
  }

  // A single fault: the run ends as the table says; after a power cycle one run recovers.
  Ending ending;
  if (!ExpectedEnding(site, point.fault.action, &ending)) return wrong("a rule", "");
  const std::string expected =
      "exit " + std::to_string(ending.exitStatus) + ", '" + ending.lastLine + "', then ";
  if (!FaultLanded(faulted, clean, point)) return wrong(expected, " (the fault did not land)");
  const bool asExpected =
      faulted.EndedWith(ending.exitStatus) && faulted.LastLine() == ending.lastLine;
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

std::vector<std::string> RunAllAtOncePoints(const SuiteSettings& settings,
                                            const std::vector<RecoveryModule>& modules,
                                            const std::vector<const CleanUpdate*>& clean,
                                            unsigned workers, size_t every, size_t* points) {
  // The modules in slots 0, 1, 2..., the power of the first lost after its request k (0: never).
  const auto configs = [&](size_t k) {
    std::vector<sim::ModuleConfig> configs;
    for (size_t i = 0; i < modules.size(); ++i) {
      configs.push_back(modules[i].config);
      configs.back().slot = static_cast<uint16_t>(i);
    }
    if (k != 0) {
      configs[0].faults = {sim::Fault{}};
      configs[0].faults[0].action = FaultAction::kPowerLoss;
      configs[0].faults[0].nth = static_cast<uint32_t>(k);
    }
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
    if (!wrong[p].empty()) {
      wrong[p] = "power of the first lost after its request " + std::to_string(k) + ": " + wrong[p];
    }
  });
  wrong.erase(std::remove(wrong.begin(), wrong.end(), ""), wrong.end());
  return wrong;
}

}  // namespace recovery
