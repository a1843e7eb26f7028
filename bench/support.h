// What the benchmark programs share: folders of their own, the simulator serving a scenario in
// one of them, one request made the way the module library makes it, the real programs run as
// child processes timed to the microsecond, and the short pass that CI runs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "sim/simulator.h"

namespace bench {

// True when R4690_BENCH_BRIEF is set: CI's pass, which only shows that every benchmark still
// runs. Long measures (real-time updates, long simulator runs) then take their short form.
bool Brief();

// A fresh folder under /tmp (short, so that socket paths fit), removed with its contents.
class TempFolder {
 public:
  explicit TempFolder(const char* prefix = "r4690-bench");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The in-process simulator serving a scenario in a device folder of its own, which is also this
// process's $QDEV_DEVICE_DIR; with a state folder when `persist`.
class SimulatedRack {
 public:
  SimulatedRack(const std::string& scenarioJson, bool persist);
  ~SimulatedRack();
  // Starts it anew from the scenario (fresh memories); false with a message on stderr.
  bool Restart();
  sim::Simulator& simulator() { return simulator_; }
  const std::string& deviceDir() const { return devices_.path(); }
  bool ok() const { return ok_; }

 private:
  TempFolder devices_;
  std::unique_ptr<TempFolder> state_;
  sim::Simulator simulator_;
  std::string scenario_;
  bool ok_ = false;
};

// A JSON scenario of `count` modules with the given module keys (a JSON object's members,
// "" for none), in slots first, first + 1, ...
std::string Modules(int count, int first, const std::string& keys);

// One I/O-control request as the module library makes it: an event of its own, an overlapped
// DeviceIoControl, a wait with the library's 5 s time-out, GetOverlappedResult, the event closed.
// True when it completed with outputSize bytes.
bool LibraryRequest(HANDLE device, DWORD code, void* input, DWORD inputSize, void* output,
                    DWORD outputSize);

// A vendor read of `size` bytes at a module address (boot loader running), the library's way.
bool ReadRequest(HANDLE device, uint32_t address, uint8_t* buffer, uint32_t size);

// A program run as a child process: its environment is this one's with `environment` set over
// it, standard input /dev/null, standard output and error to `output` (or /dev/null).
struct ChildRun {
  std::vector<std::string> argv;
  std::vector<std::string> environment;  // "NAME=value"
  std::string output;
};

// Runs a child to its end; the real time it took, from the spawn to the end of the wait, or a
// negative duration when it could not be started or did not exit with status 0 (or, when
// `anyStatus`, on its own at all).
std::chrono::duration<double> TimeChild(const ChildRun& run, bool anyStatus = false);

// A child left running, with its standard output on a pipe that this process reads.
class RunningChild {
 public:
  explicit RunningChild(const ChildRun& run);
  ~RunningChild();  // kills and reaps the child if it still runs
  RunningChild(const RunningChild&) = delete;
  RunningChild& operator=(const RunningChild&) = delete;
  // Reads the child's standard output until a line equal to `line`; false at its end or
  // after 10 s.
  bool WaitForLine(const std::string& line);
  // Sends a signal; the time at which it was sent.
  std::chrono::steady_clock::time_point Signal(int signal);
  // Waits for the end; the child's wait status, or -1.
  int Wait();
  pid_t pid() const { return pid_; }
  // The child's resident memory in bytes (VmRSS), or 0.
  uint64_t ResidentBytes() const;

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string pending_;
};

double Median(std::vector<double> values);

}  // namespace bench
