// The module simulator in-process: serves the modules of a scenario as device endpoints
// (platform/device_endpoint.h), so that the platform's CreateFileA/DeviceIoControl reach them
// exactly as they reach the r4690-sim command; on Windows the endpoints are named pipes that a
// kernel driver opens. Tests start one in a device folder of their own, drive it through the
// library, then look at the traffic record and the modules' memories.
//
//   sim::Simulator simulator;                    // one healthy module in slot 0
//   std::string error;
//   ASSERT_TRUE(simulator.LoadScenario(R"({"modules":[{"application":"none"}]})", &error));
//   ASSERT_TRUE(simulator.Start(folder, &error));  // folder: the clients' QDEV_DEVICE_DIR
//   ... drive \\.\QDev0 ...
//   EXPECT_EQ(simulator.Traffic()[0], "QDev0 ioctl=0x22005E len=80 -> ok");
//   simulator.Stop();
//
// Every operation is thread-safe: requests reach the modules on the endpoint server's threads.
// Modules are addressed by slot; an operation on a slot without a module does nothing and
// reports false or an empty result.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/device_endpoint.h"
#include "sim/scenario.h"
#include "sim/traffic.h"

namespace sim {

struct SimulatorOptions {
  std::string deviceDir;  // where the endpoints live (EndpointServer); empty: the default
  std::string stateDir;   // empty: memories live in this object only
  bool fresh = false;     // start from the scenario even when stateDir holds saved memories
  // Empty: the traffic record stays in memory only (or goes to trafficStream).
  std::string trafficFile;
  std::ostream* trafficStream = nullptr;  // without trafficFile: receives the record (stdout, say)
  size_t trafficLinesKept = TrafficRecord::kDefaultLinesKept;  // the newest lines Traffic() keeps
  bool noFaults = false;  // every module starts without faults, and stays so after this start
};

class Simulator {
 public:
  Simulator();  // the default scenario: one healthy module in slot 0
  explicit Simulator(const Scenario& scenario);
  ~Simulator();  // Stop()
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Replaces the scenario and rebuilds the modules from it; refused while running. The JSON
  // form is the one of scenario files (sim/README.md). False with a one-line reason.
  bool LoadScenario(const std::string& json, std::string* error);
  bool SetScenario(const Scenario& scenario, std::string* error);

  // Powers the modules up and publishes their devices. Memories come from, in this order:
  // stateDir (unless fresh), what this object held at its last Stop, the scenario. The state
  // folder stays locked from this start until the object ends or starts with another folder (a
  // power cycle keeps it): no other simulator serves from it.
  //
  // A start that a check refuses (a state folder or a device that a live simulator serves, a
  // damaged state file, a traffic file that cannot be written) writes nothing.
  bool Start(const SimulatorOptions& options, std::string* error);
  bool Start(const std::string& deviceDir, std::string* error);
  // Removes the devices; pending requests are never answered. The memories are kept, so the next
  // Start is a power cycle. Safe to call twice.
  void Stop();

  // Waits until a power-loss fault has taken the devices away; false on time-out.
  bool WaitForPowerLoss(int timeoutMs) const;

  // For a program that serves until something happens: waits until a power-loss fault has taken
  // the devices away, a change could not be saved (TakeStateError tells which) or Interrupt is
  // called. Each of them ends one wait, also when it came before the wait began. timeoutMs < 0
  // waits without limit; false on time-out.
  bool WaitForEvent(int timeoutMs);
  // Ends the WaitForEvent in progress, or the next one. Safe from any thread.
  void Interrupt();

  // Where the endpoints are (valid while running) and the device names ("QDev0", "QDevUsb3").
  std::string DeviceDir() const;
  std::vector<std::string> DeviceNames() const;

  // Every request served since Start or ClearTraffic, one line each, in the format of
  // sim/traffic.h and sim/README.md, without time stamps; the newest trafficLinesKept lines only.
  std::vector<std::string> Traffic() const;
  void ClearTraffic();

  // Module memories at module addresses (0x83/0x91 MCU flash, 0x8C grade, 0x8F PLD text,
  // 0x90 boot flash), bypassing every access rule and fault; the 0x91 alias always works here.
  // PLD text reads give zeros while the PLD is unconfigured.
  bool ReadMemory(uint16_t slot, uint32_t address, uint32_t size, std::vector<uint8_t>* data) const;
  std::vector<uint8_t> McuFlash(uint16_t slot) const;   // 16 KiB
  std::vector<uint8_t> BootFlash(uint16_t slot) const;  // 256 KiB

  bool ApplicationRunning(uint16_t slot) const;

  // Whether the module's memories came from the state folder at the last Start (rather than from
  // the scenario, or from what this object held).
  bool MemoriesFromStateFolder(uint16_t slot) const;

  // Replaces a module's faults (running or not); the new faults count from now.
  bool SetFaults(uint16_t slot, const std::vector<Fault>& faults);

  // The first failure to save a change in the state folder since the last call; empty if none.
  // The request that made the change was refused and the change taken back.
  std::string TakeStateError();

  // Test hook: called on a server thread for every request a device receives, after the
  // module has served it (its traffic line is recorded) and before the reply is sent, so that a
  // test can act while the client still waits for that request. Set or cleared (an empty
  // function) only while the simulator is stopped; false while it runs.
  using RequestObserver =
      std::function<void(const std::string& device, const qdev::DeviceRequest& request)>;
  bool SetRequestObserver(RequestObserver observer);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sim
