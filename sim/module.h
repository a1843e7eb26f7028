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
#include "sim/scenario.h"
#include "sim/traffic.h"

namespace sim {

// Windows error value with which the simulated driver completes a refused request.
constexpr uint32_t kRefusedError = 31;  // ERROR_GEN_FAILURE

// The bytes of a flash memory that a request or a poke changed, so that the change can be saved,
// or taken back when it cannot be.
struct MemoryChange {
  Memory memory = Memory::kNone;  // kNone: nothing changed
  uint32_t offset = 0;            // of the first byte changed
  std::vector<uint8_t> before;    // the bytes there before; their count is the range's size
};

struct Response {
  Outcome outcome = Outcome::kRefused;
  uint32_t transferred = 0;   // byte count reported to the caller
  std::vector<uint8_t> data;  // copied to the start of the caller's output buffer
  bool powerLost = false;     // a power-loss fault fired after this request was carried out
  MemoryChange change;        // what the request changed in MCU flash or boot flash
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

  // One I/O-control request: `input` is the input buffer, `output` the output buffer as the
  // caller sent it (its size is the data length of a vendor request).
  Response Handle(uint32_t ioControlCode, const std::vector<uint8_t>& input,
                  const std::vector<uint8_t>& output);

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
  Response Execute(uint32_t ioControlCode, const std::vector<uint8_t>& input,
                   const std::vector<uint8_t>& output, uint32_t writeLimit);
  Response VendorRequest(uint16_t direction, uint16_t code, uint16_t value, uint16_t index,
                         const std::vector<uint8_t>& output, uint32_t writeLimit);
  Response Read(uint32_t address, uint32_t size);
  Response Write(uint32_t address, const std::vector<uint8_t>& data, uint32_t writeLimit);
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

// The fault filters' view of a request.
RequestKey KeyOf(uint32_t ioControlCode, const std::vector<uint8_t>& input, uint32_t outputSize);

}  // namespace sim
