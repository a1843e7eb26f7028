// Module addresses: 32-bit values whose top byte selects a memory of the module. The low 16
// bits travel as a request's Value, the high 16 bits as its Index.
#pragma once

#include <cstdint>

constexpr uint32_t SEL_MCU_FLASH = 0x83000000;        // MCU flash; the application starts here
constexpr uint32_t SEL_MODULE_TG_DATA = 0x8C000000;   // the module's temperature-grade byte
constexpr uint32_t SEL_PLD_INFO = 0x8F000000;         // PLD information text, 512 bytes
constexpr uint32_t SEL_BOOT_FLASH = 0x90000000;       // PLD container in boot flash
constexpr uint32_t SEL_MCU_FLASH_ALIAS = 0x91000000;  // second location of MCU flash records

namespace module_addresses {

constexpr uint32_t kApplicationEntry = 0x83000000;  // RunMcuApplication: start the application
constexpr uint32_t kBootLoaderEntry = 0x83003C00;   // RunMcuApplication: back to the boot loader

constexpr uint32_t kModuleDescription = 0x91003000;       // first try
constexpr uint32_t kModuleDescriptionMcu = 0x83003000;    // second try
constexpr uint32_t kFirmwareDescription = 0x91001F00;     // first try
constexpr uint32_t kFirmwareDescriptionMcu = 0x83002F00;  // second try
constexpr uint32_t kBootLoaderDescription = 0x83003FB0;
constexpr uint32_t kUserFlashAlias = 0x91001D00;  // revisions other than 'A' and 'B'
constexpr uint32_t kUserFlashAB = 0x83002D00;     // revisions 'A' and 'B'
constexpr uint32_t kUserFlashSize = 512;
constexpr uint32_t kPldInfoTextSize = 512;

}  // namespace module_addresses
