// The clean update, the points built from it, and the run of one point.
#include "tests/recovery/points.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>

#include "contract/driver_contract.h"
#include "contract/module_addresses.h"
#include "modlib/records.h"
#include "sim/testing/traffic_parse.h"

namespace recovery {

namespace {

namespace dc = driver_contract;
using sim::FaultAction;

constexpr uint32_t kMemorySelector = 0xFF000000;
constexpr int kRunsAfterPowerLoss = 2;  // the utility's runs that may repair a module

// "#17 req=0x0E 0x91003000+256": a request of the clean update, for the report.
std::string RequestText(const CleanUpdate& clean, size_t index) {
  const RequestSite& s = clean.requests[index];
  char text[96];
  if (s.request == sim::kDeviceInfoRequest) {
    std::snprintf(text, sizeof text, "#%zu device information", index + 1);
  } else if (s.address != 0) {
    std::snprintf(text, sizeof text, "#%zu req=0x%02X 0x%08X+%u", index + 1, s.request, s.address,
                  s.size);
  } else {
    std::snprintf(text, sizeof text, "#%zu req=0x%02X", index + 1, s.request);
  }
  return std::string(text) + " (" + StepOf(s) + ")";
}

std::string EndingText(const Ending& ending) {
  return "exit " + std::to_string(ending.exitStatus) + ", '" + ending.lastLine + "'";
}

// Where two memories first differ, or empty when they are equal.
std::string Difference(const char* memory, const std::vector<uint8_t>& seen,
                       const std::vector<uint8_t>& clean) {
  if (seen == clean) return "";
  size_t at = 0;
  while (at < seen.size() && at < clean.size() && seen[at] == clean[at]) ++at;
  char text[80];
  std::snprintf(text, sizeof text, "%s differs from the clean update's at offset 0x%05zX", memory,
                at);
  return text;
}

std::string MemoryDifference(const Bench& bench, const CleanUpdate& clean) {
  const std::string mcu = Difference("MCU flash", bench.McuFlash(), clean.mcuFlash);
  const std::string boot = Difference("boot flash", bench.BootFlash(), clean.bootFlash);
  return mcu.empty() ? boot : boot.empty() ? mcu : mcu + ", " + boot;
}

// Ended on its own, as a run of the utility must whatever the module does.
bool EndedNormally(const UtilityRun& run) {
  return run.EndedWith(0) || run.EndedWith(255);
}

bool Completed(const UtilityRun& run) {
  return run.EndedWith(0) && run.LastLine() == kSuccessLine;
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

// After a power loss: a power cycle, then runs until one completes without writing anything.
void RecoverFromPowerLoss(Bench& bench, const CleanUpdate& clean, Verdict* v) {
  v->expected = "recovers within " + std::to_string(kRunsAfterPowerLoss) + " runs";
  std::string error;
  if (!bench.PowerCycleWithoutFaults(&error)) {
    v->seen = "power cycle: " + error;
    return;
  }
  bool settled = false;
  for (int i = 0; i < kRunsAfterPowerLoss && !settled; ++i) {
    const UtilityRun run = bench.Run(1);
    v->seen += "; run " + std::to_string(i + 2) + ": " + run.Describe() + ", " +
               std::to_string(run.Writes()) + " writes";
    if (!EndedNormally(run)) return;
    settled = Completed(run) && run.Writes() == 0;
  }
  if (!settled) return;  // a dead end
  const std::string difference = MemoryDifference(bench, clean);
  if (!difference.empty()) {
    v->seen += "; " + difference;
    return;
  }
  v->recovered = v->passed = true;
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

// The memories after such a dead end: the clean update's, but for the gap.
bool EqualOutsideTheGap(const Bench& bench, const CleanUpdate& clean, uint32_t start,
                        uint32_t end) {
  std::vector<uint8_t> mcu = bench.McuFlash();
  if (mcu.size() != clean.mcuFlash.size() || end > mcu.size()) return false;
  std::copy(clean.mcuFlash.begin() + start, clean.mcuFlash.begin() + end, mcu.begin() + start);
  return mcu == clean.mcuFlash && bench.BootFlash() == clean.bootFlash;
}

// After a single fault: the run ends as the table says; after a power cycle one run recovers.
void CheckFault(const SuiteSettings& settings, Bench& bench, const CleanUpdate& clean,
                const Point& point, Verdict* v) {
  Ending expected;
  if (!ExpectedEnding(clean.requests[point.request], point.fault.action, &expected)) {
    v->expected = "a rule for the request";
    v->seen = "none";
    return;
  }
  v->expected = EndingText(expected) + ", then recovers";
  const bool waits = point.fault.action == FaultAction::kNoAnswer;
  const UtilityRun faulted = bench.Run(waits ? settings.noAnswerWaitScale : 1);
  v->seen = faulted.Describe();
  if (!FaultLanded(faulted, clean, point)) {
    v->seen += " (the fault did not land on its request)";
    return;
  }
  const bool asExpected =
      faulted.EndedWith(expected.exitStatus) && faulted.LastLine() == expected.lastLine;
  uint32_t gapStart = 0, gapEnd = 0;
  const bool gap = LeavesUnseenGap(bench, clean, point, &gapStart, &gapEnd);
  std::string error;
  if (!bench.PowerCycleWithoutFaults(&error)) {
    v->seen += "; power cycle: " + error;
    return;
  }
  const UtilityRun after = bench.Run(1);
  if (gap) {
    v->expected = EndingText(expected) + ", then a run that writes nothing";
    const bool asRules = Completed(after) && after.Writes() == 0 &&
                         EqualOutsideTheGap(bench, clean, gapStart, gapEnd);
    if (!asRules) v->seen += "; after a power cycle: " + after.Describe();
    v->recovered = asRules && MemoryDifference(bench, clean).empty();
    if (!v->recovered) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "MCU flash 0x%04X-0x%04X stays unwritten: the firmware description came "
                    "through, so the next run keeps the application",
                    gapStart, gapEnd - 1);
      v->deadEnd = text;
    }
    v->passed = asExpected && asRules;
    return;
  }
  const std::string difference = Completed(after) ? MemoryDifference(bench, clean) : "";
  v->recovered = Completed(after) && difference.empty();
  if (!v->recovered) {
    v->seen += "; after a power cycle: " + after.Describe() +
               (difference.empty() ? "" : ", " + difference);
  }
  v->passed = asExpected && v->recovered;
}

}  // namespace

bool SitesOf(const std::vector<std::string>& traffic, std::vector<RequestSite>* sites) {
  bool opening = true;  // the open ends with its RunMcuApplication to the boot loader
  bool pldWritten = false;
  sites->clear();
  for (const std::string& line : traffic) {
    sim::TrafficEntry e;
    if (!sim::ParseTrafficLine(line, &e)) return false;
    if (e.request.code == sim::kNoRequest) return false;
    RequestSite s;
    s.request = e.request.code;
    s.address = e.request.address.value_or(0);
    s.size = e.request.length;
    s.inOpen = opening;
    s.afterPldWrite = pldWritten;
    if (s.request == dc::kRequestRun) opening = false;
    if (s.request == dc::kRequestWrite && (s.address & kMemorySelector) == SEL_BOOT_FLASH) {
      pldWritten = true;
    }
    sites->push_back(s);
  }
  return true;
}

CleanUpdate RunCleanUpdate(const SuiteSettings& settings, const RecoveryModule& module,
                           const std::string& folder) {
  CleanUpdate clean;
  Bench bench(settings.bench, folder, module.config);
  std::string error;
  if (!bench.Start(&error)) {
    clean.problem = "start: " + error;
    return clean;
  }
  const UtilityRun update = bench.Run(1);
  if (!Completed(update) || update.Writes() == 0) {
    clean.problem = "the clean update: " + update.Describe() + ", " +
                    std::to_string(update.Writes()) + " writes";
    return clean;
  }
  clean.traffic = update.traffic;
  if (!SitesOf(clean.traffic, &clean.requests)) {
    clean.problem = "a traffic line of the clean update is no request";
    return clean;
  }
  for (size_t i = 0; i < clean.requests.size(); ++i) {
    if (StepOf(clean.requests[i]).empty()) {
      clean.problem = "no rule for request #" + std::to_string(i + 1) + ": " + clean.traffic[i];
      return clean;
    }
  }
  clean.mcuFlash = bench.McuFlash();
  clean.bootFlash = bench.BootFlash();
  if (!bench.PowerCycleWithoutFaults(&error)) {
    clean.problem = "power cycle: " + error;
    return clean;
  }
  const UtilityRun again = bench.Run(1);
  const std::string difference = MemoryDifference(bench, clean);
  if (!Completed(again) || again.Writes() != 0 || !difference.empty()) {
    clean.problem = "the run after the clean update: " + again.Describe() + ", " +
                    std::to_string(again.Writes()) + " writes " + difference;
  }
  return clean;
}

std::vector<Point> PointsOf(const CleanUpdate& clean) {
  std::vector<Point> points;
  const size_t n = clean.requests.size();
  for (size_t k = 0; k < n; ++k) {
    Point p;
    p.fault.action = FaultAction::kPowerLoss;
    p.fault.nth = static_cast<uint32_t>(k + 1);
    p.request = k;
    p.label = "power lost after " + std::to_string(k + 1) + " of " + std::to_string(n);
    points.push_back(p);
  }

  // Each kind's requests in order, kinds in the order of their first request.
  std::vector<uint32_t> kinds;
  std::map<uint32_t, std::vector<size_t>> requestsOf;
  for (size_t k = 0; k < n; ++k) {
    const uint32_t kind = clean.requests[k].request;
    if (requestsOf[kind].empty()) kinds.push_back(kind);
    requestsOf[kind].push_back(k);
  }
  const struct {
    FaultAction action;
    const char* word;
  } actions[] = {{FaultAction::kFail, "failed"},
                 {FaultAction::kNoAnswer, "unanswered"},
                 {FaultAction::kShort, "short"}};
  for (uint32_t kind : kinds) {
    const std::vector<size_t>& all = requestsOf[kind];
    std::vector<uint32_t> nths = {1};
    if (all.size() > 1) nths.push_back(static_cast<uint32_t>(all.size()));
    for (uint32_t nth : nths) {
      for (const auto& a : actions) {
        Point p;
        p.fault.action = a.action;
        p.fault.request = kind;
        p.fault.nth = nth;
        p.request = all[nth - 1];
        p.label = std::string(a.word) + " " + (nth == 1 ? "first" : "last") + " of its kind";
        points.push_back(p);
      }
    }
  }
  return points;
}

Verdict RunPoint(const SuiteSettings& settings, const RecoveryModule& module,
                 const CleanUpdate& clean, const Point& point, const std::string& folder) {
  const auto start = std::chrono::steady_clock::now();
  Verdict v;
  v.request = RequestText(clean, point.request);
  sim::ModuleConfig config = module.config;
  config.faults = {point.fault};
  Bench bench(settings.bench, folder, config);
  std::string error;
  if (!bench.Start(&error)) {
    v.seen = "start: " + error;
  } else if (point.fault.action == FaultAction::kPowerLoss) {
    const UtilityRun faulted = bench.Run(1);
    v.seen = "run 1: " + faulted.Describe();
    if (!EndedNormally(faulted)) {
      v.expected = "an exit";
    } else if (!FaultLanded(faulted, clean, point)) {
      v.expected = "power lost after the request";
    } else {
      RecoverFromPowerLoss(bench, clean, &v);
    }
  } else {
    CheckFault(settings, bench, clean, point, &v);
  }
  if (!v.passed && settings.keep) bench.Keep();
  v.runs = bench.Runs();
  v.ms = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count());
  return v;
}

}  // namespace recovery
