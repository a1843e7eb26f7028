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
    "Usage: r4690-update [--log FILE]\n"                                                          \
    "       r4690-update --list [--json] [--log FILE]\n"                                          \
    "       r4690-update --slot N | --serial TEXT | --all  [--log FILE]\n"                        \
    "\n"                                                                                          \
    "Brings the firmware of R46-90 modules up to the images carried in this program: finds a\n"  \
    "module, shows what it holds and writes what is out of date. Without an option it updates\n" \
    "the first module it finds in virtual slots 0 to 126.\n"                                      \
    "\n"                                                                                          \
    "  --list          every R46-90 module and what an update would write; writes nothing\n"     \
    "  --json          with --list: the list as a JSON array, for scripts\n"                      \
    "  --slot N        update the module in virtual slot N (0 to 126)\n"                          \
    "  --serial TEXT   update the module with this serial number\n"                               \
    "  --all           update every R46-90 module found, all at once\n"                           \
    "  --log FILE      add a record of each module to FILE (JSON Lines; made when missing)\n"     \
    "  --help          this text (also -h, -? and /?)\n"                                          \
    "  --version       the version of this program and the firmware it carries\n"                \
    "\n"                                                                                          \
    "Exit codes: 0 every module is up to date; -1 an update failed (the last lines printed say\n" \
    "where; a POSIX shell sees 255) or no module was found; with --list, 0 nothing to write,\n"   \
    "1 an update would write something, -1 no module found or a module not read; 1 this text\n"  \
    "or the version could not be written; 2 an argument this program does not take, or a log\n"  \
    "it cannot open.\n")                                                                         \
  X(kVersionAnswer, "r4690-update %s\n")                                                          \
  X(kCarriedImages, "Firmware carried in this program:\n")                                        \
  X(kCarriedApplication, "  %s  %-6s  MCU application for hardware revision %c\n")               \
  X(kCarriedCommercialPld, "  %s  %-6s  PLD configuration for commercial-grade modules\n")       \
  X(kCarriedIndustrialPld, "  %s  %-6s  PLD configuration for industrial-grade modules\n")       \
  X(kImageMissing, "missing")                                                                     \
  X(kArgumentsRefused, "r4690-update: cannot use the argument '%s' here; nothing was done.\n\n") \
  X(kAnswerNotWritten, "r4690-update: the answer could not be written to standard output (%s).\n")\
  X(kLogRefused, "r4690-update: cannot open the log %s for appending (%s); nothing was done.\n")    \
  X(kRecordNotWritten, "r4690-update: a record could not be added to the log %s (%s).\n")          \
  X(kSlotNotOpened, " No R46-90 module could be opened in virtual slot %u\n")                      \
  X(kSlotHeld, " The module in virtual slot %u is held by another program\n")                      \
  X(kSerialNotFound, " No R46-90 module has serial number %s\n")                                    \
  X(kSerialTwice, " More than one module has serial number %s: choose one with --slot\n")          \
  X(kModulesFound, " %u R46-90 modules found; each is updated on a thread of its own\n")           \
  X(kModulePrefix, "[slot %u, %s]")                                                               \
  X(kWaitingSeconds, " Waiting %u s for the PLD to restart\n")                                     \
  X(kModuleCompleted, " The update of this module was completed successfully.\n")                 \
  X(kOutcomeHeading, " Slot  Serial number    Before                After                 Result\n") \
  X(kOutcomeRow, " %4u  %-15s  %-20s  %-20s  %s\n")                                                 \
  X(kResultUpdated, "updated")                                                                    \
  X(kResultUpToDate, "up to date")                                                                \
  X(kResultFailed, "failed")                                                                      \
  X(kResultNotRead, "not read")                                                                   \
  X(kResultBecause, "%s: %s")                                                                     \
  X(kResultHeld, "held by another program")                                                       \
  X(kResultWouldWrite, "would write")                                                             \
  X(kAllUpToDate, "\n Every module is up to date.\n")                                              \
  X(kAllNotUpToDate, "\n Modules not up to date: %u of %u.\n")                                      \
  X(kVersionsMcu, "MCU %s")                                                                       \
  X(kVersionsPld, "PLD %s")                                                                       \
  X(kNoApplication, "none")                                                                       \
  X(kPldNotKnown, "not known")                                                                    \
  X(kListHeading,                                                                                 \
    " Slot  Serial number    Rev  Application  Boot loader  PLD        Grade       Update\n")         \
  X(kListRow, " %4u  %-15s  %c    %-11s  %-11s  %-9s  %-10s  %s\n")                                 \
  X(kListOther, " %4u  %s\n")                                                                      \
  X(kListOtherModel, "another model: %s")                                                         \
  X(kListUnknownDevice, "a device that does not tell which module it is (error %u)")             \
  X(kWritesMcu, "MCU %s -> %s")                                                                   \
  X(kWritesPld, "PLD %s -> %s")                                                                   \
  X(kWritesPldAfterRestart, "PLD restarted first, then as its version says")                      \
  X(kGradeCommercial, "commercial")                                                               \
  X(kGradeIndustrial, "industrial")
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
