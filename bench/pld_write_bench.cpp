// The PLD write phase: a container of 122,479 bytes written to boot flash in 30 requests through
// the module library, as the utility writes it, with the simulator's state folder (every change
// saved before its request is answered) and, as the reference, without.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench/support.h"
#include "contract/module_addresses.h"
#include "modlib/interfaces.h"

namespace {

constexpr uint32_t kContainerBytes = 122479;

void PldWrite(benchmark::State& state) {
  const bool persist = state.range(0) != 0;
  bench::SimulatedRack rack(bench::Modules(1, 0, "\"application\":\"none\""), persist);
  if (!rack.ok()) {
    state.SkipWithError("the simulator did not start");
    return;
  }
  auto* device =
      static_cast<IR4690_BOOT_LOADER*>(CreateInstance(kR4690BootLoaderInterfaceName, 1, 0));
  if (!device->OpenQDevice(0)) {
    state.SkipWithError("the module did not open");
    device->ReleaseInstance();
    return;
  }
  std::vector<uint8_t> container(kContainerBytes);
  for (size_t i = 0; i < container.size(); ++i) container[i] = static_cast<uint8_t>(i * 131);
  uint8_t seed = 0;
  for (auto _ : state) {
    container[0] = ++seed;  // every write changes what is saved
    if (!device->PutArray(SEL_BOOT_FLASH, container.data(), kContainerBytes)) {
      state.SkipWithError("the write failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kContainerBytes);
  device->ReleaseInstance();
}
BENCHMARK(PldWrite)->ArgName("persist")->Arg(1)->Arg(0)->UseRealTime()->Unit(
    benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
