// The modules of a scenario behind their device names: routes each request to its module, applies
// the module's faults, records the traffic and saves changed memories to the state folder.
// Plain C++ and thread-safe; the endpoint (sim/simulator.h) puts it on the device endpoints.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "sim/module.h"
#include "sim/request.h"
#include "sim/scenario.h"
#include "sim/state_store.h"
#include "sim/traffic.h"

namespace sim {

// The memories that a state folder holds for one module of the rack.
struct SavedMemories {
  uint16_t slot = 0;
  std::vector<uint8_t> mcuFlash;
  std::vector<uint8_t> bootFlash;
};

class Rack {
 public:
  // Fresh modules from a validated scenario (the memories of a first power-up), not powered yet.
  bool Build(const Scenario& scenario, const EmbeddedImages& images, std::string* error);

  // Taking a state folder into use is two steps, so that a start can make every check before it
  // writes anything. ReadStore reads what `store` holds for the modules (nothing when `fresh`)
  // and changes nothing; false when a saved file is damaged.
  bool ReadStore(const StateStore& store, bool fresh, std::vector<SavedMemories>* saved,
                 std::string* error) const;
  // AttachStore creates the files of every module that has none in `saved`, then gives the
  // others their saved memories, and keeps every change in `store` from now on. On failure the
  // modules are unchanged.
  bool AttachStore(const StateStore& store, const std::vector<SavedMemories>& saved,
                   std::string* error);
  void DetachStore();

  // Powers every module up and restores power after a power loss.
  void PowerUp();

  // Device names with the slot of their module, in scenario order.
  std::vector<std::pair<std::string, uint16_t>> Devices() const;

  // One DeviceIoControl call on a device: decoded once, then the module's faults, the module, the
  // state folder and the traffic record see it. Unanswered while the power is lost; refused
  // without a traffic line on a device that no module serves.
  Reply Serve(const std::string& device, uint32_t ioControlCode, const std::vector<uint8_t>& input,
              const std::vector<uint8_t>& output);

  bool PowerLost() const;
  TrafficRecord& traffic() { return traffic_; }
  // The first failure to save a change since the last call (empty when none). A request whose
  // change cannot be saved is refused and its change taken back, so that the modules' memories
  // always equal what the state folder holds.
  std::string TakeStoreError();
  bool HasStoreError() const;  // whether TakeStoreError has one to give

  // Per-slot access for tests and tools; false or empty for a slot without a module.
  bool Peek(uint16_t slot, uint32_t address, uint32_t size, std::vector<uint8_t>* data) const;
  bool Poke(uint16_t slot, uint32_t address, const std::vector<uint8_t>& data);  // false: unsaved
  std::vector<uint8_t> McuFlash(uint16_t slot) const;
  std::vector<uint8_t> BootFlash(uint16_t slot) const;
  bool PldConfigured(uint16_t slot) const;
  std::string PldText(uint16_t slot) const;
  bool ApplicationRunning(uint16_t slot) const;
  bool SetFaults(uint16_t slot, const std::vector<Fault>& faults);

 private:
  Module* Find(uint16_t slot) const;
  // Saves a change of `module`; when that fails, takes it back and returns false.
  bool Keep(Module* module, const MemoryChange& change);

  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Module>> modules_;
  std::vector<std::pair<std::string, Module*>> devices_;
  StateStore store_;
  std::string storeError_;
  bool powerLost_ = false;
  TrafficRecord traffic_;
};

}  // namespace sim
