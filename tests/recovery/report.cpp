// The suite's report.
#include "tests/recovery/report.h"

namespace recovery {

namespace {

struct Tally {
  size_t points = 0, passed = 0, recovered = 0, deadEnds = 0, runs = 0;
  double seconds = 0;

  void Add(const Verdict& v) {
    ++points;
    passed += v.passed;
    recovered += v.recovered;
    deadEnds += !v.recovered;
    runs += v.runs;
    seconds += v.ms / 1000.0;
  }
  void Add(const Tally& t) {
    points += t.points;
    passed += t.passed;
    recovered += t.recovered;
    deadEnds += t.deadEnds;
    runs += t.runs;
    seconds += t.seconds;
  }
};

}  // namespace

bool PrintReport(FILE* out, const std::vector<ModuleResult>& results, unsigned workers,
                 double seconds) {
  bool ok = true;
  Tally lossTotal, faultTotal;
  std::vector<std::string> failures;
  std::vector<std::string> deadEnds;
  for (const ModuleResult& m : results) {
    if (!m.clean.problem.empty()) {
      ok = false;
      std::fprintf(out, "%s: no points: %s\n", m.name.c_str(), m.clean.problem.c_str());
      continue;
    }
    Tally loss, fault;
    for (size_t i = 0; i < m.points.size(); ++i) {
      const Point& p = m.points[i];
      const Verdict& v = m.verdicts[i];
      (p.fault.action == sim::FaultAction::kPowerLoss ? loss : fault).Add(v);
      if (!v.passed) {
        failures.push_back(m.name + " | " + p.label + " | " + v.request + " | " + v.expected +
                           " | " + v.seen);
      } else if (!v.deadEnd.empty()) {
        deadEnds.push_back(m.name + " | " + p.label + " | " + v.request + " | " + v.deadEnd);
      }
    }
    std::fprintf(out,
                 "%s: %zu requests; power lost after each: %zu points, %zu recovered, %zu dead "
                 "ends; single faults: %zu points, %zu as the rules say, %zu recovered, %zu dead "
                 "ends\n",
                 m.name.c_str(), m.clean.requests.size(), loss.points, loss.recovered,
                 loss.deadEnds, fault.points, fault.passed, fault.recovered, fault.deadEnds);
    lossTotal.Add(loss);
    faultTotal.Add(fault);
  }
  if (!deadEnds.empty()) {
    std::fprintf(out, "\ndead ends that the sequence's rules leave, as they say:\n");
    for (const std::string& line : deadEnds) std::fprintf(out, "%s\n", line.c_str());
  }
  if (!failures.empty()) {
    ok = false;
    std::fprintf(out, "\n%zu points went wrong:\nmodule | point | request | expected | seen\n",
                 failures.size());
    for (const std::string& line : failures) std::fprintf(out, "%s\n", line.c_str());
    std::fprintf(out, "\n");
  }
  std::fprintf(out,
               "total: %zu power-loss points, %zu recovered (%.1f s); %zu single-fault points, "
               "%zu as the rules say, %zu recovered (%.1f s); %zu failed; %zu runs of the "
               "utility, %.1f s on %u workers\n",
               lossTotal.points, lossTotal.recovered, lossTotal.seconds, faultTotal.points,
               faultTotal.passed, faultTotal.recovered, faultTotal.seconds, failures.size(),
               lossTotal.runs + faultTotal.runs, seconds, workers);
  return ok;
}

}  // namespace recovery
