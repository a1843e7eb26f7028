// Address decoding for the simulated module: the top byte selects the memory.
#include "sim/memory_map.h"

#include "contract/module_addresses.h"

namespace sim {

namespace {

struct Region {
  uint32_t base;
  uint32_t size;
  Memory memory;
  bool alias;  // answered only when the module has its 0x91 aliases
};

constexpr Region kRegions[] = {
    {SEL_MCU_FLASH, kMcuFlashSize, Memory::kMcuFlash, false},
    {SEL_MCU_FLASH_ALIAS, kMcuFlashSize, Memory::kMcuFlash, true},
    {SEL_MODULE_TG_DATA, kGradeDataSize, Memory::kGradeData, false},
    {SEL_PLD_INFO, kPldTextSize, Memory::kPldText, false},
    {SEL_BOOT_FLASH, kBootFlashSize, Memory::kBootFlash, false},
};

}  // namespace

Location Locate(uint32_t address, uint32_t size, bool aliases) {
  for (const Region& r : kRegions) {
    if (r.alias && !aliases) continue;
    if (address < r.base || address - r.base >= r.size) continue;
    const uint64_t offset = address - r.base;
    if (offset + size > r.size) return Location{};
    return Location{r.memory, static_cast<uint32_t>(offset)};
  }
  return Location{};
}

bool MayRead(const Location& where, bool pldConfigured) {
  switch (where.memory) {
    case Memory::kMcuFlash:
    case Memory::kGradeData:
    case Memory::kBootFlash:
      return true;
    case Memory::kPldText:
      return pldConfigured;
    case Memory::kNone:
      break;
  }
  return false;
}

bool MayWrite(const Location& where, uint32_t size) {
  switch (where.memory) {
    case Memory::kMcuFlash:
      return static_cast<uint64_t>(where.offset) + size <= kApplicationAreaSize;
    case Memory::kBootFlash:
      return true;
    case Memory::kGradeData:
    case Memory::kPldText:
    case Memory::kNone:
      break;
  }
  return false;
}

}  // namespace sim
