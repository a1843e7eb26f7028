// The benchmark programs' shared support (bench/support.h).
#include "bench/support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "contract/driver_contract.h"

extern char** environ;

namespace bench {

bool Brief() {
  const char* brief = std::getenv("R4690_BENCH_BRIEF");
  return brief != nullptr && *brief != '\0' && std::string(brief) != "0";
}

TempFolder::TempFolder(const char* prefix) {
  std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
  if (mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

SimulatedRack::SimulatedRack(const std::string& scenarioJson, bool persist)
    : devices_("r4690-bd"), scenario_(scenarioJson) {
  if (persist) state_ = std::make_unique<TempFolder>("r4690-bs");
  setenv("QDEV_DEVICE_DIR", devices_.path().c_str(), 1);
  ok_ = Restart();
}

SimulatedRack::~SimulatedRack() {
  simulator_.Stop();
}

bool SimulatedRack::Restart() {
  simulator_.Stop();
  std::string error;
  if (!simulator_.LoadScenario(scenario_, &error)) {
    std::cerr << "bench: scenario: " << error << "\n";
    return false;
  }
  sim::SimulatorOptions options;
  options.deviceDir = devices_.path();
  if (state_) {
    options.stateDir = state_->path();
    options.fresh = true;
  }
  if (!simulator_.Start(options, &error)) {
    std::cerr << "bench: simulator: " << error << "\n";
    return false;
  }
  return true;
}

std::string Modules(int count, int first, const std::string& keys) {
  std::string json = "{\"modules\":[";
  for (int i = 0; i < count; ++i) {
    if (i != 0) json += ",";
    json += "{\"slot\":" + std::to_string(first + i);
    if (!keys.empty()) json += "," + keys;
    json += "}";
  }
  return json + "]}";
}

bool LibraryRequest(HANDLE device, DWORD code, void* input, DWORD inputSize, void* output,
                    DWORD outputSize) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (overlapped.hEvent == nullptr) return false;
  DWORD returned = 0;
  bool ok = false;
  if (DeviceIoControl(device, code, input, inputSize, output, outputSize, &returned, &overlapped) ||
      GetLastError() == ERROR_IO_PENDING) {
    if (WaitForSingleObject(overlapped.hEvent, 5000) == WAIT_TIMEOUT) {
      CancelIo(device);
      GetOverlappedResult(device, &overlapped, &returned, TRUE);
    } else {
      ok = GetOverlappedResult(device, &overlapped, &returned, TRUE) && returned == outputSize;
    }
  }
  CloseHandle(overlapped.hEvent);
  return ok;
}

bool ReadRequest(HANDLE device, uint32_t address, uint8_t* buffer, uint32_t size) {
  driver_contract::VendorRequest header{1, 0x0E, static_cast<uint16_t>(address & 0xFFFF),
                                        static_cast<uint16_t>(address >> 16)};
  uint8_t encoded[driver_contract::kVendorRequestSize];
  driver_contract::EncodeVendorRequest(header, encoded);
  return LibraryRequest(device, IOCTL_VENDOR_REQUEST, encoded, sizeof encoded,
                        size != 0 ? buffer : nullptr, size);
}

namespace {

// The environment of a child: this process's, with `overrides` ("NAME=value") in place.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& overrides) {
  std::map<std::string, std::string> variables;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    variables[entry.substr(0, entry.find('='))] = entry;
  }
  for (const std::string& entry : overrides) variables[entry.substr(0, entry.find('='))] = entry;
  std::vector<std::string> out;
  for (auto& v : variables) out.push_back(v.second);
  return out;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(&s[0]);
  out.push_back(nullptr);
  return out;
}

// Spawns the child with its standard output to `outFd` (or to a file, or /dev/null).
pid_t Spawn(const ChildRun& run, int outFd) {
  std::vector<std::string> argv = run.argv;
  std::vector<std::string> env = ChildEnvironment(run.environment);
  std::vector<char*> argp = Pointers(argv), envp = Pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (outFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  } else {
    const char* out = run.output.empty() ? "/dev/null" : run.output.c_str();
    posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  // The child starts with no signal blocked and the default handling of every signal.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  if (posix_spawn(&pid, argp[0], &actions, &attributes, argp.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

}  // namespace

std::chrono::duration<double> TimeChild(const ChildRun& run, bool anyStatus) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = Spawn(run, -1);
  if (pid < 0) return std::chrono::duration<double>(-1);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  const auto end = std::chrono::steady_clock::now();
  const bool exited = WIFEXITED(status);
  if (!exited || (!anyStatus && WEXITSTATUS(status) != 0)) return std::chrono::duration<double>(-1);
  return end - start;
}

RunningChild::RunningChild(const ChildRun& run) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
  pid_ = Spawn(run, pipeFds[1]);
  close(pipeFds[1]);
  stdout_ = pipeFds[0];
}

RunningChild::~RunningChild() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    Wait();
  }
  if (stdout_ >= 0) close(stdout_);
}

bool RunningChild::WaitForLine(const std::string& line) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    size_t end;
    while ((end = pending_.find('\n')) != std::string::npos) {
      const std::string got = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (got == line) return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || stdout_ < 0) return false;
    pollfd readable{stdout_, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(stdout_, buffer, sizeof buffer);
    if (n <= 0) return false;
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

std::chrono::steady_clock::time_point RunningChild::Signal(int signal) {
  const auto now = std::chrono::steady_clock::now();
  if (pid_ > 0) kill(pid_, signal);
  return now;
}

int RunningChild::Wait() {
  if (pid_ <= 0) return -1;
  int status = 0;
  pid_t got;
  while ((got = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return got < 0 ? -1 : status;
}

uint64_t RunningChild::ResidentBytes() const {
  std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      std::istringstream fields(line.substr(6));
      uint64_t kib = 0;
      fields >> kib;
      return kib * 1024;
    }
  }
  return 0;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace bench
