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
#include "updater/pld_flash_image.h"
#include "updater/selection.h"

namespace updater {

namespace {

constexpr uint16_t kSlotCount = R4690_SLOT_COUNT;  // virtual slots 0 to 126 are searched
constexpr char kModelName[] = "R46-90";
// GetModuleName fills 7 bytes; the rest stays zero so that the name is always terminated.
constexpr size_t kModuleNameBufferSize = 16;

constexpr char kAllocationFailurePrefix[] = " Can't allocate ";
constexpr char kAllocationFailureSuffix[] = " bytes!!!\n";
// Room for the widest count a size_t can give (20 digits) and the terminator.
constexpr size_t kAllocationTextSize =
    sizeof(kAllocationFailurePrefix) - 1 + 20 + sizeof(kAllocationFailureSuffix) - 1 + 1;

constexpr char kRule[] = "-------------------------------------------------------------------\n";
static_assert(sizeof(kRule) - 1 == 68, "67 dashes and a line feed");

class UpdateRun {
 public:
  explicit UpdateRun(const UpdateDependencies& deps)
      : deps_(deps), console_(deps.out, deps.sleep) {}

  // Every step returns whether the run goes on; a step that ends the run has called
  // ReleaseDevice, and nothing after it runs.
  void Run() {
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

    console_.Print("\n");
    ReleaseDevice(console_, device_, "\n The program was completed successfully!!!\n", false,
                  deps_.exit);
  }

 private:
  // Ends the run with a failure message; false, so that a step can return it.
  bool Fail(const char* message) {
    ReleaseDevice(console_, device_, message, true, deps_.exit);
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
    return Require(device_ != nullptr, " CreateInstance() --> OK\n", " CreateInstance() --> Bad\n");
  }

  bool FindModule() {
    for (uint16_t slot = 0; slot < kSlotCount; ++slot) {
      if (device_->OpenQDevice(slot)) {
        console_.Print(" OpenQDevice(");
        console_.Print(std::to_string(slot));
        console_.Print(") --> OK\n");
        return true;
      }
    }
    return Fail(" Can't find any module in first 127 virtual slots!\n");
  }

  bool IdentifyModule() {
    if (!Require(device_->GetModuleName(moduleName_), " GetModuleName() --> OK\n",
                 " GetModuleName() --> Bad\n") ||
        !Require(std::strcmp(moduleName_, kModelName) == 0, "   The module is 'R46-90'\n",
                 " The module is not 'R46-90'\n") ||
        !Require(device_->GetUsbSpeed(&usbSpeed_), " GetUsbSpeed() --> OK\n",
                 " GetUsbSpeed() --> Bad\n")) {
      return false;
    }
    console_.Print(usbSpeed_ != 0 ? "   USB Speed is HIGH (480 Mbit/s)\n"
                                  : "   USB Speed is FULL (12 Mbit/s)\n");
    return true;
  }

  bool ReadDescriptions() {
    // The module description is not cleared first: the record keeps whatever it held.
    if (!Require(device_->GET_MODULE_DESCRIPTION(&module_), " GET_MODULE_DESCRIPTION() --> OK\n",
                 " GET_MODULE_DESCRIPTION() --> Bad\n")) {
      return false;
    }

    // Only whether the application starts matters here; either answer lets the run go on.
    applicationPresent_ = device_->RunMcuApplication(module_addresses::kApplicationEntry, TRUE);
    if (!device_->RunMcuApplication(module_addresses::kBootLoaderEntry, FALSE)) {
      return Fail(" RunMcuApplication() --> Bad\n");
    }

    std::memset(&firmware_, 0, sizeof(firmware_));
    if (applicationPresent_ &&
        !Require(device_->GET_FIRMWARE_DESCRIPTION(&firmware_),
                 " GET_FIRMWARE_DESCRIPTION() --> OK\n", " GET_FIRMWARE_DESCRIPTION() --> Bad\n")) {
      return false;
    }

    std::memset(&bootLoader_, 0, sizeof(bootLoader_));
    return Require(device_->GET_BOOT_LOADER_DESCRIPTION(&bootLoader_),
                   " GET_BOOT_LOADER_DESCRIPTION() --> OK\n",
                   " GET_BOOT_LOADER_DESCRIPTION() --> Bad\n");
  }

  // Sets the PLD version number and the PLD's grade from the PLD information, when the module
  // gives any.
  bool ParsePldVersion() {
    if (!GetPldVersionNumber(pldInfo_.Version, &pldVersion_, &pldGrade_)) {
      return Fail(" GetPldVersionNumber --> Bad\n");
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
      return Fail(" GetArray(SEL_BOOT_FLASH, ) --> Bad\n");
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
      return Fail(" GetArray(SEL_MODULE_TG_DATA, ) --> Bad\n");
    }
    if (moduleGrade_ >= 2) return Fail(" ModuleTemperatureGrade --> Bad\n");
    if (pldGrade_ >= 2) return Fail(" PldTemperatureGrade --> Bad\n");
    return true;
  }

  // What a PLD restart does when the PLD does not verify: end the run (after a PLD write), or
  // print the failure as a status line and let the run go on (while examining the PLD).
  enum class OnUnverified { kFail, kGoOn };

  bool RestartPld(OnUnverified onUnverified) {
    if (!Require(device_->StartReloadPld(), " Start Reload PLD --> OK\n",
                 " Start Reload PLD --> Bad\n")) {
      return false;
    }
    console_.Wait(kPldRestartSteps);
    console_.Print("\n");
    if (device_->VerifyPld()) {
      console_.Print(" Verify PLD --> OK\n");
    } else if (onUnverified == OnUnverified::kGoOn) {
      console_.Print(" Verify PLD --> Bad\n");
    } else {
      return Fail(" Verify PLD --> Bad\n");
    }
    return true;
  }

  void PrintItem(std::string_view label, std::string_view text) {
    console_.Print(label);
    console_.Print(text);
    console_.Print("\n");
  }

  void PrintSummary() {
    console_.Print("\n");
    console_.Print(kRule);
    console_.Print("  Module Info:\n");
    PrintItem("   # MCU Name:           ", FieldText(module_.Name));
    PrintItem("   # SerialNumber:       ", FieldText(module_.SerialNumber));
    console_.Print("   # Revision:           ");
    console_.PrintChar(module_.Revision);
    console_.Print("\n");
    if (applicationPresent_) {
      console_.Print("  MCU Firmware Info:\n");
      PrintItem("   # MCU Name:           ", FieldText(firmware_.McuName));
      PrintItem("   # Firmware Version:   ", FieldText(firmware_.Version));
      PrintItem("   # Created:            ", FieldText(firmware_.Created));
    }
    console_.Print("  MCU BootLoader Info:\n");
    PrintItem("   # MCU Name:           ", FieldText(bootLoader_.McuName));
    PrintItem("   # BootLoader Version: ", FieldText(bootLoader_.Version));
    PrintItem("   # Created:            ", FieldText(bootLoader_.Created));
    if (pldVersion_ != 0) {
      console_.Print("  PLD Firmware Info:\n");
      PrintItem("   # PLD Name:           ", FieldText(pldInfo_.PldName));
      PrintItem("   # Firmware Version:   ", FieldText(pldInfo_.Version));
      PrintItem("   # Created:            ", FieldText(pldInfo_.Created));
    }
    console_.Print(kRule);
    console_.Print("\n");
  }

  bool FailAllocation(size_t bytes) {
    std::snprintf(allocationText_, sizeof(allocationText_), "%s%6llu%s", kAllocationFailurePrefix,
                  static_cast<unsigned long long>(bytes), kAllocationFailureSuffix);
    return Fail(allocationText_);
  }

  // One image into the module. Ctrl-C and the closing of the console wait until the write has
  // ended: a write cut part-way leaves half an image in the module.
  bool WriteImage(uint32_t address, const uint8_t* data, uint32_t size) {
    const console_control::InterruptHold hold;
    return device_->PutArray(address, data, size);
  }

  bool LoadImage(const char* name, images::ImageRange* image) {
    return LoadImageResource(name, deps_.lookupImage, console_, device_, deps_.exit, image);
  }

  bool WriteMcuImage(const char* name) {
    images::ImageRange image;
    if (!LoadImage(name, &image)) return false;
    {
      Buffer copy = AllocateZeroed(*deps_.allocator, image.size);
      if (!copy) return FailAllocation(image.size);
      if (image.size != 0) std::memcpy(copy.data(), image.data, image.size);
      if (!WriteImage(SEL_MCU_FLASH, copy.data(), image.size)) {
        return Fail(" PutArray() --> Bad\n");
      }
    }
    console_.Print(" MCU Firmware Flashing --> OK\n");
    return true;
  }

  bool WritePldImage(const char* name) {
    images::ImageRange image;
    if (!LoadImage(name, &image)) return false;
    const size_t containerSize = size_t{image.size} + kPldFlashHeaderSize;
    {
      Buffer container = BuildPldFlashImage(image.data, image.size, *deps_.allocator);
      if (!container) return FailAllocation(containerSize);
      if (!WriteImage(SEL_BOOT_FLASH, container.data(), static_cast<uint32_t>(containerSize))) {
        return Fail(" PutArray() --> Bad\n");
      }
    }
    console_.Print(" PLD Firmware Flashing --> OK\n");
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
