// Where a module address lands: which memory, at which offset, and whether a request may read or
// write there. A request range that leaves its memory, or touches a byte that refuses the access,
// is refused as a whole.
#pragma once

#include <cstdint>

#include "contract/module_addresses.h"

namespace sim {

constexpr uint32_t kMcuFlashSize = 0x4000;         // 16 KiB
constexpr uint32_t kApplicationAreaSize = 0x3000;  // the writable part of MCU flash
constexpr uint32_t kModuleDescriptionOffset = 0x3000;
constexpr uint32_t kBootSectionOffset = 0x3C00;
constexpr uint32_t kBootLoaderDescriptionOffset = 0x3FB0;
constexpr uint32_t kGradeDataSize = 1;  // the temperature-grade byte alone
constexpr uint32_t kPldTextSize = module_addresses::kPldInfoTextSize;
constexpr uint32_t kBootFlashSize = 0x40000;  // 256 KiB

static_assert(kBootLoaderDescriptionOffset + 79 <= kMcuFlashSize);
static_assert(kBootSectionOffset > kModuleDescriptionOffset + 256);

enum class Memory { kNone, kMcuFlash, kGradeData, kPldText, kBootFlash };

struct Location {
  Memory memory = Memory::kNone;  // kNone: the range is not wholly inside one memory
  uint32_t offset = 0;            // of the range's first byte in that memory
};

// The memory that holds all of [address, address + size); with aliases, 0x91 addresses reach MCU
// flash like 0x83 ones. A size of 0 needs only the address itself inside a memory.
Location Locate(uint32_t address, uint32_t size, bool aliases);

// Whether a module request may read or write the located range. MCU flash accepts writes in the
// application area only; the grade byte and the PLD text are read-only, and the PLD text reads
// only while the PLD is configured.
bool MayRead(const Location& where, bool pldConfigured);
bool MayWrite(const Location& where, uint32_t size);

}  // namespace sim
