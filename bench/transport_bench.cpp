// One request through DeviceIoControl to the simulator, the module library's way, at 0, 256 and
// 4096 bytes of data, and as its baseline a raw unix-socket ping-pong of the same sizes between
// two threads of this process: the request frame's bytes one way, the reply frame's back.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "bench/support.h"
#include "contract/driver_contract.h"
#include "contract/module_addresses.h"
#include "platform/device_frame.h"

namespace {

constexpr size_t kVendorHeader = driver_contract::kVendorRequestSize;

void RequestRoundTrip(benchmark::State& state) {
  static bench::SimulatedRack rack(bench::Modules(1, 0, "\"application\":\"none\""), false);
  if (!rack.ok()) {
    state.SkipWithError("the simulator did not start");
    return;
  }
  const uint32_t size = static_cast<uint32_t>(state.range(0));
  HANDLE device = CreateFileA("\\\\.\\QDev0", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    state.SkipWithError("the device did not open");
    return;
  }
  std::vector<uint8_t> buffer(size);
  for (auto _ : state) {
    if (!bench::ReadRequest(device, SEL_BOOT_FLASH, buffer.data(), size)) {
      state.SkipWithError("a request failed");
      break;
    }
  }
  CloseHandle(device);
  rack.simulator().ClearTraffic();
}
BENCHMARK(RequestRoundTrip)->Arg(0)->Arg(256)->Arg(4096)->UseRealTime();

// Reads exactly n bytes; false at the end of the stream.
bool ReadAll(int fd, uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t got = recv(fd, p, n, MSG_WAITALL);
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t sent = send(fd, p, n, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    p += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

void RawSocketPingPong(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  const size_t request = qdev_frame::kHeaderSize + kVendorHeader + size;
  const size_t reply = qdev_frame::kHeaderSize + size;
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    state.SkipWithError("no socket pair");
    return;
  }
  std::thread peer([fd = fds[1], request, reply] {
    std::vector<uint8_t> in(request), out(reply, 0x5A);
    while (ReadAll(fd, in.data(), request) && WriteAll(fd, out.data(), reply)) {
    }
  });
  std::vector<uint8_t> out(request, 0xA5), in(reply);
  for (auto _ : state) {
    if (!WriteAll(fds[0], out.data(), request) || !ReadAll(fds[0], in.data(), reply)) {
      state.SkipWithError("the peer went away");
      break;
    }
  }
  shutdown(fds[0], SHUT_RDWR);
  peer.join();
  close(fds[0]);
  close(fds[1]);
}
BENCHMARK(RawSocketPingPong)->Arg(0)->Arg(256)->Arg(4096)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
