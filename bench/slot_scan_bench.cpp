// The slot scan, through the module library as the utility makes it: an empty slot, with 0, 100
// and 1000 other endpoints in the device folder (it must not depend on their number), and a
// foreign module (a type code the R46-90 interface refuses) in a slot before the R46-90's.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "bench/support.h"
#include "modlib/interfaces.h"

namespace {

// The utility's interface object, released at the end of the scope.
struct BootLoader {
  IR4690_BOOT_LOADER* p =
      static_cast<IR4690_BOOT_LOADER*>(CreateInstance(kR4690BootLoaderInterfaceName, 1, 0));
  ~BootLoader() {
    if (p != nullptr) p->ReleaseInstance();
  }
};

// An endpoint nobody serves any more: a bound unix socket, as a crashed server leaves it.
void StaleEndpoint(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  close(fd);
}

void EmptySlot(benchmark::State& state) {
  bench::TempFolder folder("r4690-be");
  const int endpoints = static_cast<int>(state.range(0));
  for (int i = 0; i < endpoints; ++i) {
    StaleEndpoint(folder.path() + "/QDevUsb" + std::to_string(1000 + i));
  }
  setenv("QDEV_DEVICE_DIR", folder.path().c_str(), 1);
  // As in a scan, the folder does not change while it is searched: the endpoints were published
  // a moment before.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  BootLoader device;
  for (auto _ : state) {
    if (device.p->OpenQDevice(126)) {
      state.SkipWithError("an empty slot opened");
      break;
    }
  }
}
BENCHMARK(EmptySlot)->Arg(0)->Arg(100)->Arg(1000)->UseRealTime();

// The refused device stays open until the next open or close, which the scan's next slot does.
void ForeignModule(benchmark::State& state) {
  bench::SimulatedRack rack(bench::Modules(1, 0, "\"typeCode\":99"), false);
  if (!rack.ok()) {
    state.SkipWithError("the simulator did not start");
    return;
  }
  BootLoader device;
  for (auto _ : state) {
    if (device.p->OpenQDevice(0)) {
      state.SkipWithError("a foreign module was accepted");
      break;
    }
    device.p->CloseDevice();
  }
}
BENCHMARK(ForeignModule)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
