// The r4690-sim command as a process: how long it takes to stop after SIGTERM (from the signal
// to the end of the wait for it), and its resident memory over a long run of requests, reported
// as the growth per request after a warm-up.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <vector>

#include "bench/support.h"
#include "contract/module_addresses.h"

namespace {

bench::ChildRun Simulator(const std::string& deviceDir) {
  bench::ChildRun run;
  run.argv = {R4690_SIM_COMMAND, "--device-dir", deviceDir, "--application", "none"};
  return run;
}

void StopAfterSigterm(benchmark::State& state) {
  bench::TempFolder devices("r4690-bp");
  for (auto _ : state) {
    bench::RunningChild simulator(Simulator(devices.path()));
    if (!simulator.WaitForLine("r4690-sim: ready")) {
      state.SkipWithError("the simulator did not start");
      break;
    }
    const auto sent = simulator.Signal(SIGTERM);
    const int status = simulator.Wait();
    const auto ended = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("the simulator did not stop cleanly");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(ended - sent).count());
  }
}
BENCHMARK(StopAfterSigterm)
    ->UseManualTime()
    ->Iterations(bench::Brief() ? 1 : 20)
    ->Unit(benchmark::kMillisecond);

// Requests of 256 bytes, each with its traffic line; resident memory after a tenth of them and
// at the end.
void MemoryOverALongRun(benchmark::State& state) {
  const int requests = bench::Brief() ? 2000 : 200000;
  const int warmUp = requests / 10;
  bench::TempFolder devices("r4690-bm");
  setenv("QDEV_DEVICE_DIR", devices.path().c_str(), 1);
  double perRequest = 0;
  for (auto _ : state) {
    bench::RunningChild simulator(Simulator(devices.path()));
    if (!simulator.WaitForLine("r4690-sim: ready")) {
      state.SkipWithError("the simulator did not start");
      break;
    }
    HANDLE device = CreateFileA("\\\\.\\QDev0", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    std::vector<uint8_t> buffer(256);
    uint64_t warm = 0;
    bool ok = device != INVALID_HANDLE_VALUE;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; ok && i < requests; ++i) {
      if (i == warmUp) warm = simulator.ResidentBytes();
      ok = bench::ReadRequest(device, SEL_BOOT_FLASH, buffer.data(), 256);
    }
    const uint64_t end = simulator.ResidentBytes();
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    CloseHandle(device);
    if (!ok) {
      state.SkipWithError("a request failed");
      break;
    }
    perRequest = (static_cast<double>(end) - static_cast<double>(warm)) / (requests - warmUp);
    state.counters["rss_end_kib"] = static_cast<double>(end) / 1024;
  }
  state.counters["bytes_per_request"] = perRequest;
  state.counters["requests"] = requests;
}
BENCHMARK(MemoryOverALongRun)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
