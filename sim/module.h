// One simulated R46-90 module: its memories, boot loader, PLD and faults, answering the driver
// requests that reach it. Plain C++: no OS calls, no locking (the caller serialises), so that
// tests can drive it directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/faults.h"
#include "sim/memory_map.h"
#include "sim/module_content.h"
#include "sim/request.h"
#include "sim/scenario.h"

namespace sim {

// The bytes of a flash memory that a request or a poke changed, so that the change can be saved,
// or taken back when it cannot be.
struct MemoryChange {
  Memory memory = Memory::kNone;  // kNone: nothing changed
  uint32_t offset = 0;            // of the first byte changed
  std::vector<uint8_t> before;    // the bytes there before; their count is the range's size
};

class Module {
 public:
  // A module with the memories of its first power-up; call PowerUp before serving.
  Module(const ModuleConfig& config, const EmbeddedImages& images);

  const ModuleConfig& config() const { return config_; }

  // Replaces both flash memories (saved state); false when a size is wrong.
  bool RestoreMemories(const std::vector<uint8_t>& mcuFlash, const std::vector<uint8_t>& bootFlash);

  // Power-up: the PLD configures from boot flash (unless the configuration says not to), the MCU
  // runs its application when MCU flash word 0 is programmed, and fault counters restart.
  void PowerUp();

  // One request, its faults applied: `output` is the output buffer as the caller sent it (a
  // write's data). What the request changed in MCU flash or boot flash goes to *change (may be
  // null). An answer comes after the module's latency, or a delay fault's time instead.
  Reply Handle(const Request& request, const std::vector<uint8_t>& output, MemoryChange* change);

  void SetFaults(const std::vector<Fault>& faults) { faults_.Set(faults); }

  // Direct access for tests and tools, bypassing access rules; aliases always work here.
  bool Peek(uint32_t address, uint32_t size, std::vector<uint8_t>* data) const;
  // Writes MCU flash, boot flash or the grade byte; reports a flash change in *change (may be
  // null).
  bool Poke(uint32_t address, const std::vector<uint8_t>& data, MemoryChange* change);
  // Puts back the bytes that a change replaced.
  void Revert(const MemoryChange& change);
  // The current bytes of a change's range.
  const uint8_t* Current(const MemoryChange& change) const;

  const std::vector<uint8_t>& mcuFlash() const { return mcuFlash_; }
  const std::vector<uint8_t>& bootFlash() const { return bootFlash_; }
  bool pldConfigured() const { return pldConfigured_; }
  std::string PldText() const;
  bool applicationRunning() const { return applicationRunning_; }

 private:
  // The request with the fault that fired on it (null: none).
  Reply Apply(const Fault* fault, const Request& request, const std::vector<uint8_t>& output,
              MemoryChange* change);
  // Carries a request out; a write stores at most `storeLimit` of its bytes.
  Reply Execute(const Request& request, const std::vector<uint8_t>& output, uint32_t storeLimit,
                MemoryChange* change);
  // The rules of the request's kind: direction, data length, the MCU's mode.
  bool Admits(const Request& request) const;
  Reply DeviceInformation() const;
  Reply ModelName() const;
  Reply Run(uint32_t address);
  Reply Read(uint32_t address, uint32_t size) const;
  Reply Write(uint32_t address, const std::vector<uint8_t>& data, uint32_t storeLimit,
              MemoryChange* change);
  void ReloadPld();
  bool ApplicationPresent() const;
  const uint8_t* MemoryAt(const Location& where) const;
  // Copies `data` into flash at `where` and describes the change (MCU or boot flash only).
  MemoryChange Store(const Location& where, const uint8_t* data, uint32_t size);

  ModuleConfig config_;
  EmbeddedImages images_;
  std::vector<uint8_t> mcuFlash_;
  std::vector<uint8_t> bootFlash_;
  uint8_t gradeData_[kGradeDataSize];
  uint8_t pldText_[kPldTextSize];  // zero-padded; meaningful while the PLD is configured
  bool pldConfigured_ = false;
  bool applicationRunning_ = false;
  FaultPlan faults_;
};

}  // namespace sim
