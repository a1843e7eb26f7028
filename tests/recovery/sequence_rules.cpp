// The failure table of the update sequence, one row per step that sends a request.
#include "contract/driver_contract.h"
#include "contract/module_addresses.h"
#include "tests/recovery/recovery.h"
#include "updater/messages.h"

namespace recovery {

namespace message = updater::message;

namespace {

// A message as the last line of a console: without the line feeds around it.
std::string LastLineOf(const char* text) {
  std::string line(text);
  while (!line.empty() && line.front() == '\n') line.erase(0, 1);
  while (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

}  // namespace

const std::string kSuccessLine = LastLineOf(message::kCompleted);

namespace {

namespace dc = driver_contract;
namespace addr = module_addresses;

// Where in the run a row applies.
enum When {
  kOpen,            // while OpenQDevice opens the module
  kAfterOpen,       // anywhere after the open
  kBeforePldWrite,  // after the open, before a PLD container is written
  kAfterPldWrite,   // after a PLD container is written
};

constexpr uint32_t kAny = 0;              // mask: every address matches
constexpr uint32_t kExact = 0xFFFFFFFF;   // mask: the address itself
constexpr uint32_t kMemory = 0xFF000000;  // mask: any address of the memory selector

struct Row {
  When when;
  uint32_t request;  // request code, or sim::kDeviceInfoRequest; kAnyRequest matches all
  uint32_t address;  // matches when (site address & mask) == address
  uint32_t mask;
  const char* step;
  const char* failure;  // the message that ends the run when the request fails; null: it goes on
};

constexpr uint32_t kAnyRequest = 0xFFFFFFFF;

// A failed open of the one module makes the slot scan go on to the end: every request of the open
// ends the run with the scan's line. After the open each step ends the run with its own line,
// except where the sequence has a way on: the first read of a description with two addresses
// falls back to the second, the first RunMcuApplication only probes for an application,
// GET_PLD_INFO's failure leads to the container check (or, read after a restart, leaves the version
// at 0), and the PLD's verification while the PLD is examined is a status line.
const Row kRows[] = {
    {kOpen, kAnyRequest, 0, kAny, "OpenQDevice", message::kNoModule},
    {kAfterOpen, dc::kRequestModuleName, 0, kAny, "GetModuleName", message::kGetModuleNameBad},
    {kAfterOpen, dc::kRequestUsbSpeed, 0, kAny, "GetUsbSpeed", message::kGetUsbSpeedBad},
    {kAfterOpen, dc::kRequestRead, addr::kModuleDescription, kExact,
     "GET_MODULE_DESCRIPTION, first address", nullptr},
    {kAfterOpen, dc::kRequestRead, addr::kModuleDescriptionMcu, kExact,
     "GET_MODULE_DESCRIPTION, second address", message::kModuleDescriptionBad},
    {kAfterOpen, dc::kRequestRun, addr::kApplicationEntry, kExact,
     "RunMcuApplication, application probe", nullptr},
    {kAfterOpen, dc::kRequestRun, addr::kBootLoaderEntry, kExact,
     "RunMcuApplication, back to the boot loader", message::kRunMcuApplicationBad},
    {kAfterOpen, dc::kRequestRead, addr::kFirmwareDescription, kExact,
     "GET_FIRMWARE_DESCRIPTION, first address", nullptr},
    {kAfterOpen, dc::kRequestRead, addr::kFirmwareDescriptionMcu, kExact,
     "GET_FIRMWARE_DESCRIPTION, second address", message::kFirmwareDescriptionBad},
    {kAfterOpen, dc::kRequestRead, addr::kBootLoaderDescription, kExact,
     "GET_BOOT_LOADER_DESCRIPTION", message::kBootLoaderDescriptionBad},
    {kAfterOpen, dc::kRequestRead, SEL_PLD_INFO, kExact, "GET_PLD_INFO", nullptr},
    {kAfterOpen, dc::kRequestRead, SEL_BOOT_FLASH, kExact, "container header read",
     message::kBootFlashReadBad},
    {kAfterOpen, dc::kRequestRead, SEL_MODULE_TG_DATA, kExact, "module grade read",
     message::kGradeReadBad},
    {kAfterOpen, dc::kRequestWrite, SEL_MCU_FLASH, kMemory, "MCU image write",
     message::kPutArrayBad},
    {kAfterOpen, dc::kRequestWrite, SEL_BOOT_FLASH, kMemory, "PLD image write",
     message::kPutArrayBad},
    {kAfterOpen, dc::kRequestReloadPld, 0, kAny, "StartReloadPld", message::kStartReloadPldBad},
    {kBeforePldWrite, dc::kRequestVerifyPld, 0, kAny, "VerifyPld while examining the PLD", nullptr},
    {kAfterPldWrite, dc::kRequestVerifyPld, 0, kAny, "VerifyPld after the PLD write",
     message::kVerifyPldBad},
};

bool Applies(When when, const RequestSite& site) {
  if (when == kOpen) return site.inOpen;
  return !site.inOpen && (when == kAfterOpen || (when == kAfterPldWrite) == site.afterPldWrite);
}

const Row* Find(const RequestSite& site) {
  for (const Row& row : kRows) {
    if (Applies(row.when, site) && (row.request == kAnyRequest || row.request == site.request) &&
        (site.address & row.mask) == row.address) {
      return &row;
    }
  }
  return nullptr;
}

}  // namespace

std::string StepOf(const RequestSite& site) {
  const Row* row = Find(site);
  return row != nullptr ? row->step : "";
}

bool ExpectedEnding(const RequestSite& site, sim::FaultAction action, Ending* ending) {
  const Row* row = Find(site);
  if (row == nullptr) return false;
  // A request without data cannot be answered short: the module answers it as usual.
  const bool goesWrong = action != sim::FaultAction::kShort || site.size != 0;
  if (goesWrong && row->failure != nullptr) {
    *ending = Ending{255, LastLineOf(row->failure)};
  } else {
    *ending = Ending{0, kSuccessLine};
  }
  return true;
}

}  // namespace recovery
