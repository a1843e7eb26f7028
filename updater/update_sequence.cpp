// The update sequence, one straight run on one thread. Each step prints its status line or
// ends the run through ReleaseDevice with its own failure text, except the verification of the
// PLD restart while the PLD is examined: its failure is printed as a status line and the run goes
// on, so that it can repair the PLD. Nothing written to the module is undone.
#include "updater/update_sequence.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "contract/module_addresses.h"
#include "images/image_lookup.h"
#include "modlib/records.h"
#include "platform/console_control.h"
#include "updater/console.h"
#include "updater/messages.h"
#include "updater/pld_flash_image.h"
#include "updater/selection.h"

namespace updater {

namespace {

constexpr uint16_t kSlotCount = R4690_SLOT_COUNT;  // virtual slots 0 to 126 are searched
constexpr char kModelName[] = "R46-90";
// GetModuleName fills 7 bytes; the rest stays zero so that the name is always terminated.
constexpr size_t kModuleNameBufferSize = 16;

// Room for the allocation failure with the widest count a size_t can give (20 digits).
constexpr size_t kAllocationTextSize = sizeof(message::kCantAllocate) + 20;

static_assert(sizeof(message::kSummaryRule) - 1 == 68, "67 dashes and a line feed");

class UpdateRun {
 public:
  explicit UpdateRun(const UpdateDependencies& deps)
      : deps_(deps), console_(deps.out, deps.err, deps.sleep) {}

  // Every step returns whether the run goes on; a step that ends the run has called
  // ReleaseDevice, and nothing after it runs.
  void Run() {
    console_control::SetHoldNotice(message::kStopHeld);
    console_.Banner();
    if (!Create() || !FindModule() || !IdentifyModule() || !ReadDescriptions()) return;

    const double fw = VersionNumber(firmware_.Version, sizeof(firmware_.Version));
    const double bl = VersionNumber(bootLoader_.Version, sizeof(bootLoader_.Version));
    mcuImage_ = ChooseMcuImage(applicationPresent_, fw, bl);

    pldVersion_ = 0;
    if (InPldBand(bl)) {
      if (!ExaminePld() || !ReadModuleGrade()) return;
      pldImage_ = ChoosePldImage(pldVersion_, moduleGrade_, pldGrade_);
    }

    PrintSummary();
    if (mcuImage_ != nullptr && !WriteMcuImage(mcuImage_)) return;
    if (pldImage_ != nullptr && !WritePldImage(pldImage_)) return;

    console_.Print(message::kLineEnd);
    ReleaseDevice(console_, device_, message::kCompleted, false, deps_.exit);
  }

 private:
  // Ends the run with a failure message; false, so that a step can return it.
  bool Fail(const char* failure) {
    ReleaseDevice(console_, device_, failure, true, deps_.exit);
    return false;
  }

  // The common shape of a step: its OK line on success, its failure text otherwise.
  bool Require(bool ok, const char* okLine, const char* failure) {
    if (!ok) return Fail(failure);
    console_.Print(okLine);
    return true;
  }

  bool Create() {
    device_ = deps_.createInstance();
    return Require(device_ != nullptr, message::kCreateInstanceOk, message::kCreateInstanceBad);
  }

  bool FindModule() {
    for (uint16_t slot = 0; slot < kSlotCount; ++slot) {
      if (device_->OpenQDevice(slot)) {
        console_.Print(message::kOpenQDeviceOk, std::to_string(slot));
        return true;
      }
    }
    return Fail(message::kNoModule);
  }

  bool IdentifyModule() {
    if (!Require(device_->GetModuleName(moduleName_), message::kGetModuleNameOk,
                 message::kGetModuleNameBad) ||
        !Require(std::strcmp(moduleName_, kModelName) == 0, message::kModelIsR4690,
                 message::kModelIsNotR4690) ||
        !Require(device_->GetUsbSpeed(&usbSpeed_), message::kGetUsbSpeedOk,
                 message::kGetUsbSpeedBad)) {
      return false;
    }
    console_.Print(usbSpeed_ != 0 ? message::kHighSpeed : message::kFullSpeed);
    return true;
  }

  bool ReadDescriptions() {
    // The module description is not cleared first: the record keeps whatever it held.
    if (!Require(device_->GET_MODULE_DESCRIPTION(&module_), message::kModuleDescriptionOk,
                 message::kModuleDescriptionBad)) {
      return false;
    }

    // Only whether the application starts matters here; either answer lets the run go on.
    applicationPresent_ = device_->RunMcuApplication(module_addresses::kApplicationEntry, TRUE);
    if (!device_->RunMcuApplication(module_addresses::kBootLoaderEntry, FALSE)) {
      return Fail(message::kRunMcuApplicationBad);
    }

    std::memset(&firmware_, 0, sizeof(firmware_));
    if (applicationPresent_ &&
        !Require(device_->GET_FIRMWARE_DESCRIPTION(&firmware_), message::kFirmwareDescriptionOk,
                 message::kFirmwareDescriptionBad)) {
      return false;
    }

    std::memset(&bootLoader_, 0, sizeof(bootLoader_));
    return Require(device_->GET_BOOT_LOADER_DESCRIPTION(&bootLoader_),
                   message::kBootLoaderDescriptionOk, message::kBootLoaderDescriptionBad);
  }

  // Sets the PLD version number and the PLD's grade from the PLD information, when the module
  // gives any.
  bool ParsePldVersion() {
    if (!GetPldVersionNumber(pldInfo_.Version, &pldVersion_, &pldGrade_)) {
      return Fail(message::kPldVersionBad);
    }
    return true;
  }

  // Each read starts from a cleared record, so that a failed read leaves no stale text behind.
  bool ReadPldInfo() {
    std::memset(&pldInfo_, 0, sizeof(pldInfo_));
    return device_->GET_PLD_INFO(&pldInfo_);
  }

  bool ExaminePld() {
    if (ReadPldInfo()) return ParsePldVersion();
    // No information from the PLD: when boot flash holds a container, let the PLD load it and
    // ask once more.
    uint8_t header[kPldFlashHeaderSize] = {};
    if (!device_->GetArray(SEL_BOOT_FLASH, header, sizeof(header))) {
      return Fail(message::kBootFlashReadBad);
    }
    if (!IsPldFlashHeaderValid(header)) return true;
    // A PLD that does not verify after this restart cannot load what boot flash holds: a write
    // that was cut short leaves the new header before a partial image. Ending the run here would
    // leave the module so for good, so the run says so and goes on; with no version to read, the
    // image of the module's grade is written and the module is whole again.
    if (!RestartPld(OnUnverified::kGoOn)) return false;
    return !ReadPldInfo() || ParsePldVersion();
  }

  bool ReadModuleGrade() {
    if (!device_->GetArray(SEL_MODULE_TG_DATA, &moduleGrade_, 1)) {
      return Fail(message::kGradeReadBad);
    }
    if (moduleGrade_ >= 2) return Fail(message::kModuleGradeBad);
    if (pldGrade_ >= 2) return Fail(message::kPldGradeBad);
    return true;
  }

  // What a PLD restart does when the PLD does not verify: end the run (after a PLD write), or
  // print the failure as a status line and let the run go on (while examining the PLD).
  enum class OnUnverified { kFail, kGoOn };

  bool RestartPld(OnUnverified onUnverified) {
    if (!Require(device_->StartReloadPld(), message::kStartReloadPldOk,
                 message::kStartReloadPldBad)) {
      return false;
    }
    console_.Wait(kPldRestartSteps);
    console_.Print(message::kLineEnd);
    if (device_->VerifyPld()) {
      console_.Print(message::kVerifyPldOk);
    } else if (onUnverified == OnUnverified::kGoOn) {
      console_.Print(message::kVerifyPldBad);
    } else {
      return Fail(message::kVerifyPldBad);
    }
    return true;
  }

  void PrintSummary() {
    console_.Print(message::kLineEnd);
    console_.Print(message::kSummaryRule);
    console_.Print(message::kModuleInfo);
    console_.Print(message::kItemMcuName, FieldText(module_.Name));
    console_.Print(message::kItemSerialNumber, FieldText(module_.SerialNumber));
    // %c: the revision byte as it is, a zero byte too.
    console_.Print(message::kItemRevision, std::string_view(&module_.Revision, 1));
    if (applicationPresent_) {
      console_.Print(message::kFirmwareInfo);
      console_.Print(message::kItemMcuName, FieldText(firmware_.McuName));
      console_.Print(message::kItemFirmwareVersion, FieldText(firmware_.Version));
      console_.Print(message::kItemCreated, FieldText(firmware_.Created));
    }
    console_.Print(message::kBootLoaderInfo);
    console_.Print(message::kItemMcuName, FieldText(bootLoader_.McuName));
    console_.Print(message::kItemBootLoaderVersion, FieldText(bootLoader_.Version));
    console_.Print(message::kItemCreated, FieldText(bootLoader_.Created));
    if (pldVersion_ != 0) {
      console_.Print(message::kPldInfo);
      console_.Print(message::kItemPldName, FieldText(pldInfo_.PldName));
      console_.Print(message::kItemFirmwareVersion, FieldText(pldInfo_.Version));
      console_.Print(message::kItemCreated, FieldText(pldInfo_.Created));
    }
    console_.Print(message::kSummaryRule);
    console_.Print(message::kLineEnd);
  }

  // Formatted into a buffer of the run's own: the heap has just refused a block.
  bool FailAllocation(size_t bytes) {
    char count[24];
    const int length =
        std::snprintf(count, sizeof count, "%llu", static_cast<unsigned long long>(bytes));
    message::FillIn(message::kCantAllocate, {std::string_view(count, static_cast<size_t>(length))},
                    allocationText_, sizeof allocationText_);
    return Fail(allocationText_);
  }

  // One image into the module, then its OK line. Ctrl-C and the closing of the console wait until
  // the write has ended: a write cut part-way leaves half an image in the module. A request to
  // end the program that came meanwhile ends it right after the image's OK line (or right after
  // a failed write), with a word that the next run completes the update.
  bool WriteImage(uint32_t address, const uint8_t* data, uint32_t size, const char* okLine) {
    bool written;
    {
      const console_control::InterruptHold hold;
      written = device_->PutArray(address, data, size);
    }
    if (written) console_.Print(okLine);
    if (console_control::StopRequested()) {
      console_.PrintError(message::kInterrupted);
      console_control::EndAsRequested();
    }
    return written || Fail(message::kPutArrayBad);
  }

  bool LoadImage(const char* name, images::ImageRange* image) {
    return LoadImageResource(name, deps_.lookupImage, console_, device_, deps_.exit, image);
  }

  bool WriteMcuImage(const char* name) {
    images::ImageRange image;
    if (!LoadImage(name, &image)) return false;
    Buffer copy = AllocateZeroed(*deps_.allocator, image.size);
    if (!copy) return FailAllocation(image.size);
    if (image.size != 0) std::memcpy(copy.data(), image.data, image.size);
    return WriteImage(SEL_MCU_FLASH, copy.data(), image.size, message::kMcuFlashingOk);
  }

  bool WritePldImage(const char* name) {
    images::ImageRange image;
    if (!LoadImage(name, &image)) return false;
    const size_t containerSize = size_t{image.size} + kPldFlashHeaderSize;
    {
      Buffer container = BuildPldFlashImage(image.data, image.size, *deps_.allocator);
      if (!container) return FailAllocation(containerSize);
      if (!WriteImage(SEL_BOOT_FLASH, container.data(), static_cast<uint32_t>(containerSize),
                      message::kPldFlashingOk)) {
        return false;
      }
    }
    return RestartPld(OnUnverified::kFail);
  }

  const UpdateDependencies& deps_;
  Console console_;
  IR4690_BOOT_LOADER* device_ = nullptr;  // owned from CreateInstance until ReleaseDevice

  char moduleName_[kModuleNameBufferSize] = {};
  uint8_t usbSpeed_ = 0;  // 0 full speed, anything else high speed
  ModuleDescription module_ = {};
  FirmwareDescription firmware_ = {};
  BootLoaderDescription bootLoader_ = {};
  PldInfo pldInfo_ = {};
  bool applicationPresent_ = false;
  uint32_t pldVersion_ = 0;  // packed major.minor.build; 0 when not known
  uint8_t moduleGrade_ = 0;  // read from the module
  uint8_t pldGrade_ = 0;     // from the PLD's version text
  const char* mcuImage_ = nullptr;
  const char* pldImage_ = nullptr;
  char allocationText_[kAllocationTextSize] = {};
};

IR4690_BOOT_LOADER* CreateBootLoader() {
  return static_cast<IR4690_BOOT_LOADER*>(
      CreateInstance(kR4690BootLoaderInterfaceName, R4690_DRIVER_QDEV, 0));
}

}  // namespace

UpdateDependencies ProductionDependencies() {
  UpdateDependencies deps;
  deps.createInstance = CreateBootLoader;
  deps.out = stdout;
  deps.allocator = &HeapAllocator();
  deps.lookupImage = images::LookupImage;
  deps.sleep = PlatformSleep;
  deps.exit = ProcessExit;
  return deps;
}

void RunUpdate(const UpdateDependencies& dependencies) {
  UpdateRun run(dependencies);
  run.Run();
}

}  // namespace updater
