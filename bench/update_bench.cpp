// A whole update of a module that needs both images (sim/scenarios/needs-both.json): the real
// r4690-update run as a child process against the in-process simulator with its state folder,
// once with its sleeps scaled away and once in real time, where the PLD restart's mandated wait
// of 30 x 200 ms is all it should take. The simulator time-stamps every request as it serves it,
// so each run also shows whether anything in the sequence adds time between requests.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "bench/support.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr double kMandatedWaitMs = 30 * 200;

std::string NeedsBoth() {
  std::ifstream in(R4690_SCENARIO_DIR "/needs-both.json");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The times at which the simulator served the requests of one run.
class RequestTimes {
 public:
  void Add() {
    std::lock_guard<std::mutex> lock(mu_);
    times_.push_back(Clock::now());
  }
  std::vector<Clock::time_point> Take() {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<Clock::time_point> out;
    out.swap(times_);
    return out;
  }

 private:
  std::mutex mu_;
  std::vector<Clock::time_point> times_;
};

void Update(benchmark::State& state, uint32_t timeScale) {
  static RequestTimes times;
  bench::SimulatedRack rack(NeedsBoth(), true);
  rack.simulator().Stop();
  rack.simulator().SetRequestObserver(
      [](const std::string&, const qdev::DeviceRequest&) { times.Add(); });
  if (!rack.Restart()) {
    state.SkipWithError("the simulator did not start");
    return;
  }
  bench::ChildRun run;
  run.argv = {R4690_UPDATE_COMMAND};
  run.environment = {"QDEV_TIME_SCALE=" + std::to_string(timeScale), "QDEV_WAIT_SCALE=1"};
  double requests = 0, toFirst = 0, afterLast = 0, largestOther = 0, gaps = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const bool restarted = rack.Restart();  // a module that needs both images again
    times.Take();
    state.ResumeTiming();
    if (!restarted) {
      state.SkipWithError("the simulator did not restart");
      break;
    }
    const Clock::time_point start = Clock::now();
    const auto took = bench::TimeChild(run);
    if (took.count() < 0) {
      state.SkipWithError("the update failed");
      break;
    }
    state.SetIterationTime(took.count());
    const std::vector<Clock::time_point> t = times.Take();
    if (t.empty()) continue;
    // Between two requests: the round trip of the second and whatever the utility did before
    // it. The largest gap holds the PLD restart's wait; the others should all be alike.
    std::vector<double> between;
    for (size_t i = 1; i < t.size(); ++i) between.push_back(Ms(t[i] - t[i - 1]).count());
    std::sort(between.begin(), between.end());
    requests += static_cast<double>(t.size());
    toFirst += Ms(t.front() - start).count();
    afterLast += Ms(start + std::chrono::duration_cast<Clock::duration>(took) - t.back()).count();
    if (between.size() >= 2) largestOther += between[between.size() - 2];
    for (size_t i = 0; i + 1 < between.size(); ++i) gaps += between[i];
  }
  using benchmark::Counter;
  state.counters["requests"] = Counter(requests, Counter::kAvgIterations);
  state.counters["to_first_request_ms"] = Counter(toFirst, Counter::kAvgIterations);
  state.counters["after_last_request_ms"] = Counter(afterLast, Counter::kAvgIterations);
  state.counters["largest_other_gap_ms"] = Counter(largestOther, Counter::kAvgIterations);
  state.counters["other_gaps_ms"] = Counter(gaps, Counter::kAvgIterations);
  state.counters["mandated_wait_ms"] = kMandatedWaitMs / timeScale;
}

// Sleeps a thousand times shorter: the PLD restart's 6 s take 6 ms.
void UpdateScaled(benchmark::State& state) {
  Update(state, 1000);
}
BENCHMARK(UpdateScaled)->UseManualTime()->Unit(benchmark::kMillisecond);

// Real time: each run takes its 6 s, so a repetition is one run. CI's short pass scales it.
void UpdateRealTime(benchmark::State& state) {
  Update(state, bench::Brief() ? 100 : 1);
}
BENCHMARK(UpdateRealTime)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
