// Every text that the utility writes, in one list: the banner, the status and information lines
// of the update run, the summary, the failure texts, the closing lines, and the answers to a
// command line. The run prints these and nothing else; the operator guide's catalogue of messages
// is checked against this list (tests/guide), and the recovery suite names its expected endings
// from it.
//
// A placeholder stands for what the run supplies: %s a text, %c one character, %u a number; a
// width right-aligns the value in that many places (%6u), a width after a minus sign
// left-aligns it (%-7s). FillIn puts the values in; no text is ever used as a format.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

// X(name, text), in the order in which a run prints them.
// clang-format off
#define R4690_UPDATE_MESSAGES(X)                                                                  \
  X(kBannerFrame, " **********************************\n")                                        \
  X(kBannerTitle, " Update Utility for R46-90 Module  \n")                                        \
  X(kBannerVersion, " Version: %s \n")                                                            \
  X(kLineEnd, "\n")                                                                               \
  X(kCreateInstanceOk, " CreateInstance() --> OK\n")                                              \
  X(kCreateInstanceBad, " CreateInstance() --> Bad\n")                                            \
  X(kOpenQDeviceOk, " OpenQDevice(%u) --> OK\n")                                                  \
  X(kNoModule, " Can't find any module in first 127 virtual slots!\n")                           \
  X(kGetModuleNameOk, " GetModuleName() --> OK\n")                                                \
  X(kGetModuleNameBad, " GetModuleName() --> Bad\n")                                              \
  X(kModelIsR4690, "   The module is 'R46-90'\n")                                                 \
  X(kModelIsNotR4690, " The module is not 'R46-90'\n")                                            \
  X(kGetUsbSpeedOk, " GetUsbSpeed() --> OK\n")                                                    \
  X(kGetUsbSpeedBad, " GetUsbSpeed() --> Bad\n")                                                  \
  X(kHighSpeed, "   USB Speed is HIGH (480 Mbit/s)\n")                                            \
  X(kFullSpeed, "   USB Speed is FULL (12 Mbit/s)\n")                                             \
  X(kModuleDescriptionOk, " GET_MODULE_DESCRIPTION() --> OK\n")                                   \
  X(kModuleDescriptionBad, " GET_MODULE_DESCRIPTION() --> Bad\n")                                 \
  X(kRunMcuApplicationBad, " RunMcuApplication() --> Bad\n")                                      \
  X(kFirmwareDescriptionOk, " GET_FIRMWARE_DESCRIPTION() --> OK\n")                               \
  X(kFirmwareDescriptionBad, " GET_FIRMWARE_DESCRIPTION() --> Bad\n")                             \
  X(kBootLoaderDescriptionOk, " GET_BOOT_LOADER_DESCRIPTION() --> OK\n")                          \
  X(kBootLoaderDescriptionBad, " GET_BOOT_LOADER_DESCRIPTION() --> Bad\n")                        \
  X(kPldVersionBad, " GetPldVersionNumber --> Bad\n")                                             \
  X(kBootFlashReadBad, " GetArray(SEL_BOOT_FLASH, ) --> Bad\n")                                   \
  X(kGradeReadBad, " GetArray(SEL_MODULE_TG_DATA, ) --> Bad\n")                                   \
  X(kModuleGradeBad, " ModuleTemperatureGrade --> Bad\n")                                         \
  X(kPldGradeBad, " PldTemperatureGrade --> Bad\n")                                               \
  X(kSummaryRule, "-------------------------------------------------------------------\n")        \
  X(kModuleInfo, "  Module Info:\n")                                                              \
  X(kItemMcuName, "   # MCU Name:           %s\n")                                                \
  X(kItemSerialNumber, "   # SerialNumber:       %s\n")                                           \
  X(kItemRevision, "   # Revision:           %c\n")                                               \
  X(kFirmwareInfo, "  MCU Firmware Info:\n")                                                      \
  X(kItemFirmwareVersion, "   # Firmware Version:   %s\n")                                        \
  X(kItemCreated, "   # Created:            %s\n")                                                \
  X(kBootLoaderInfo, "  MCU BootLoader Info:\n")                                                  \
  X(kItemBootLoaderVersion, "   # BootLoader Version: %s\n")                                      \
  X(kPldInfo, "  PLD Firmware Info:\n")                                                           \
  X(kItemPldName, "   # PLD Name:           %s\n")                                                \
  X(kFindResourceBad, " FindResource() --> Bad\n")                                                \
  X(kLoadResourceBad, " LoadResource() --> Bad\n")                                                \
  X(kLockResourceBad, " LockResource() --> Bad\n")                                                \
  X(kCantAllocate, " Can't allocate %6u bytes!!!\n")                                              \
  X(kPutArrayBad, " PutArray() --> Bad\n")                                                        \
  X(kMcuFlashingOk, " MCU Firmware Flashing --> OK\n")                                            \
  X(kPldFlashingOk, " PLD Firmware Flashing --> OK\n")                                            \
  X(kStartReloadPldOk, " Start Reload PLD --> OK\n")                                              \
  X(kStartReloadPldBad, " Start Reload PLD --> Bad\n")                                            \
  X(kWaiting, " Waiting %s\r")                                                                    \
  X(kVerifyPldOk, " Verify PLD --> OK\n")                                                         \
  X(kVerifyPldBad, " Verify PLD --> Bad\n")                                                       \
  X(kReleaseDeviceOk, " ReleaseDevice() --> OK\n")                                                \
  X(kReleaseDeviceBad, " ReleaseDevice() --> Bad\n")                                              \
  X(kCompleted, "\n The program was completed successfully!!!\n")                                \
  X(kStopHeld, " Stopping once this image is written. Do not unplug the module.\n")              \
  X(kInterrupted, " The update was interrupted. Run r4690-update again to complete it.\n")       \
  X(kTranscriptLost, "r4690-update: the transcript could not be written to standard output (%s); " \
    "the exit code still tells how the update ended.\n")                                         \
  X(kPressEnter, "\n Press Enter to close this window.\n")                                        \
  X(kUsage,                                                                                       \
    "Usage: r4690-update\n"                                                                       \
    "\n"                                                                                          \
    "Brings the firmware of the R46-90 module plugged into this computer up to the images\n"     \
    "carried in this program: finds the module, shows what it holds and writes what is out of\n" \
    "date. It takes no arguments.\n"                                                              \
    "\n"                                                                                          \
    "  r4690-update --help      this text (also -h, -? and /?)\n"                                 \
    "  r4690-update --version   the version of this program\n"                                    \
    "\n"                                                                                          \
    "Exit codes: 0 the module is up to date; -1 the update failed, the last line printed says\n" \
    "where (a POSIX shell sees 255); 1 this text or the version could not be written; 2 an\n"    \
    "argument this program does not take.\n")                                                    \
  X(kVersionAnswer, "r4690-update %s\n")                                                          \
  X(kCarriedImages, "Firmware carried in this program:\n")                                        \
  X(kCarriedApplication, "  %s  %-6s  MCU application for hardware revision %c\n")               \
  X(kCarriedCommercialPld, "  %s  %-6s  PLD configuration for commercial-grade modules\n")       \
  X(kCarriedIndustrialPld, "  %s  %-6s  PLD configuration for industrial-grade modules\n")       \
  X(kImageMissing, "missing")                                                                     \
  X(kArgumentsRefused, "r4690-update: this program takes no arguments; nothing was done.\n\n")  \
  X(kAnswerNotWritten, "r4690-update: the answer could not be written to standard output (%s).\n")
// clang-format on

namespace updater::message {

#define R4690_MESSAGE_CONSTANT(name, text) inline constexpr char name[] = text;
R4690_UPDATE_MESSAGES(R4690_MESSAGE_CONSTANT)
#undef R4690_MESSAGE_CONSTANT

struct Entry {
  const char* name;  // the constant's name, for the checks that read the list
  std::string_view text;
};

#define R4690_MESSAGE_ENTRY(name, text) Entry{#name, text},
inline constexpr Entry kAll[] = {R4690_UPDATE_MESSAGES(R4690_MESSAGE_ENTRY)};
#undef R4690_MESSAGE_ENTRY

// The message with the values in place of its placeholders, in order; a placeholder left without
// a value stays as it is, a value without a placeholder is dropped. A width pads a value with
// blanks; a wider value is never cut.
std::string FillIn(std::string_view message, std::initializer_list<std::string_view> values);

// The same into out (size bytes with the terminator), for the one text that is formatted when
// memory has run out; the text is cut to fit. Returns the length written.
size_t FillIn(std::string_view message, std::initializer_list<std::string_view> values, char* out,
              size_t size);

}  // namespace updater::message
