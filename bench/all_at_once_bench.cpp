// Eight modules updated at once against one: the real r4690-update run as a child process
// against the in-process simulator with its state folder, in real time, once with --all over
// eight high-speed modules that each need both images, once without arguments over one such
// module. Each module's update is its own thread's, so the eight PLD restarts (30 x 200 ms each)
// overlap: the goal is that eight take at most 1.25 times as long as one.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/support.h"

namespace {

constexpr char kNeedsBoth[] =
    R"("applicationVersion":"3.1","bootFlash":"other","otherPldVersion":"3.0.6c","usbSpeed":1)";

void Update(benchmark::State& state, int modules, std::vector<std::string> arguments) {
  bench::SimulatedRack rack(bench::Modules(modules, 0, kNeedsBoth), true);
  bench::ChildRun run;
  run.argv = {R4690_UPDATE_COMMAND};
  run.argv.insert(run.argv.end(), arguments.begin(), arguments.end());
  // Real time; CI's short pass scales the sleeps away.
  run.environment = {"QDEV_TIME_SCALE=" + std::string(bench::Brief() ? "100" : "1"),
                     "QDEV_WAIT_SCALE=1"};
  for (auto _ : state) {
    state.PauseTiming();
    const bool restarted = rack.ok() && rack.Restart();  // every module needs both images again
    state.ResumeTiming();
    if (!restarted) {
      state.SkipWithError("the simulator did not start");
      break;
    }
    const auto took = bench::TimeChild(run);
    if (took.count() < 0) {
      state.SkipWithError("the update failed");
      break;
    }
    state.SetIterationTime(took.count());
  }
  state.counters["modules"] = modules;
}

void OneModule(benchmark::State& state) {
  Update(state, 1, {});
}
BENCHMARK(OneModule)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void EightModulesAll(benchmark::State& state) {
  Update(state, 8, {"--all"});
}
BENCHMARK(EightModulesAll)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
