// The update sequence, one straight run on one module. Each step prints its status line or ends
// the run through ReleaseDevice with its own failure text, except the verification of the PLD
// restart while the PLD is examined: its failure is printed as a status line and the run goes on,
// so that it can repair the PLD. Nothing written to the module is undone. Reading for a list takes
// the same steps, silently, and stops before the summary.
#include "updater/update_sequence.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "contract/module_addresses.h"
#include "images/image_lookup.h"
#include "modlib/error_codes.h"
#include "modlib/records.h"
#include "platform/console_control.h"
#include "updater/console.h"
#include "updater/messages.h"
#include "updater/pld_flash_image.h"
#include "updater/selection.h"

namespace updater {

namespace {

constexpr char kModelName[] = "R46-90";
// GetModuleName fills 7 bytes; the rest stays zero so that the name is always terminated.
constexpr size_t kModuleNameBufferSize = 16;

// Room for the allocation failure with the widest count a size_t can give (20 digits).
constexpr size_t kAllocationTextSize = sizeof(message::kCantAllocate) + 20;

static_assert(sizeof(message::kSummaryRule) - 1 == 68, "67 dashes and a line feed");

class UpdateRun {
 public:
  UpdateRun(const UpdateDependencies& deps, const RunSettings& settings)
      : deps_(deps),
        settings_(settings),
        own_(settings.readOnly ? nullptr : deps.out, deps.err, deps.sleep),
        console_(settings.console != nullptr ? settings.console : &own_) {}

  // Every step returns whether the run goes on; a step that ends the run has called
  // ReleaseDevice, and nothing after it runs.
  ModuleRun Run() {
    if (!Create() || !Open() || !IdentifyModule() || !ReadDescriptions() || !Choose()) {
      return result_;
    }
    result_.read = true;
    result_.before = state_;
    if (settings_.readOnly) {
      LeaveRunning();
      return End(nullptr, false);
    }

    if (settings_.summary) PrintSummary();
    if (state_.mcuImage != nullptr && !WriteMcuImage(state_.mcuImage)) return result_;
    if (state_.pldImage != nullptr && !WritePldImage(state_.pldImage)) return result_;
    if (settings_.readBack) ReadBack();

    console_->Print(message::kLineEnd);
    return End(settings_.completion != nullptr ? settings_.completion : message::kCompleted, false);
  }

 private:
  ModuleRun End(const char* text, bool failed) {
    result_.status = ReleaseDevice(*console_, device_, text, failed);
    return result_;
  }

  // Ends the run with a failure message; false, so that a step can return it. While the versions
  // are read back after the writes, a failure only ends that reading.
  bool Fail(const char* failure) {
    if (readingBack_) return false;
    result_.failure = failure;
    if (settings_.readOnly) LeaveRunning();
    End(failure, true);
    return false;
  }

  // The common shape of a step: its OK line on success, its failure text otherwise.
  bool Require(bool ok, const char* okLine, const char* failure) {
    if (!ok) return Fail(failure);
    console_->Print(okLine);
    return true;
  }

  // Reading for a list leaves a module that holds an application running it, as it was found:
  // the open put its MCU in the boot loader.
  void LeaveRunning() {
    if (settings_.leaveRunning && state_.applicationPresent && device_ != nullptr) {
      device_->RunMcuApplication(module_addresses::kApplicationEntry, TRUE);
    }
  }

  bool Create() {
    device_ = deps_.createInstance();
    return Require(device_ != nullptr, message::kCreateInstanceOk, message::kCreateInstanceBad);
  }

  bool Opened(uint16_t slot) {
    result_.slot = slot;
    console_->Print(message::kOpenQDeviceOk, std::to_string(slot));
    return true;
  }

  bool Open() {
    if (!settings_.slot) {
      for (uint16_t slot = 0; slot < kSlotCount; ++slot) {
        if (device_->OpenQDevice(slot)) return Opened(slot);
      }
      return Fail(message::kNoModule);
    }
    const uint16_t slot = *settings_.slot;
    if (device_->OpenQDevice(slot)) return Opened(slot);
    // A module that another program holds is there all the same: the line says so.
    LastErrorInfo info = {};
    device_->GetLastErrorInfo(&info);
    const bool held = info.ErrorNumber == module_error::kDeviceInUse;
    failureText_ = message::FillIn(held ? message::kSlotHeld : message::kSlotNotOpened,
                                   {std::to_string(slot)});
    return Fail(failureText_.c_str());
  }

  bool IdentifyModule() {
    if (!Require(device_->GetModuleName(moduleName_), message::kGetModuleNameOk,
                 message::kGetModuleNameBad) ||
        !Require(std::strcmp(moduleName_, kModelName) == 0, message::kModelIsR4690,
                 message::kModelIsNotR4690) ||
        !Require(device_->GetUsbSpeed(&state_.usbSpeed), message::kGetUsbSpeedOk,
                 message::kGetUsbSpeedBad)) {
      return false;
    }
    console_->Print(state_.usbSpeed != 0 ? message::kHighSpeed : message::kFullSpeed);
    return true;
  }

  bool ReadDescriptions() {
    // The module description is not cleared first: the record keeps whatever it held.
    if (!Require(device_->GET_MODULE_DESCRIPTION(&state_.module), message::kModuleDescriptionOk,
                 message::kModuleDescriptionBad)) {
      return false;
    }

    // Only whether the application starts matters here; either answer lets the run go on.
    state_.applicationPresent =
        device_->RunMcuApplication(module_addresses::kApplicationEntry, TRUE);
    if (!device_->RunMcuApplication(module_addresses::kBootLoaderEntry, FALSE)) {
      return Fail(message::kRunMcuApplicationBad);
    }

    std::memset(&state_.firmware, 0, sizeof(state_.firmware));
    if (state_.applicationPresent &&
        !Require(device_->GET_FIRMWARE_DESCRIPTION(&state_.firmware),
                 message::kFirmwareDescriptionOk, message::kFirmwareDescriptionBad)) {
      return false;
    }

    std::memset(&state_.bootLoader, 0, sizeof(state_.bootLoader));
    return Require(device_->GET_BOOT_LOADER_DESCRIPTION(&state_.bootLoader),
                   message::kBootLoaderDescriptionOk, message::kBootLoaderDescriptionBad);
  }

  // The images, by the selection rules, from what was read; the PLD is examined on the way.
  bool Choose() {
    const double fw = VersionNumber(state_.firmware.Version, sizeof(state_.firmware.Version));
    const double bl = VersionNumber(state_.bootLoader.Version, sizeof(state_.bootLoader.Version));
    state_.mcuImage = ChooseMcuImage(state_.applicationPresent, fw, bl);
    state_.pldImage = nullptr;
    state_.pldVersion = 0;
    state_.pldExamined = InPldBand(bl);
    if (!state_.pldExamined) return true;
    if (!ExaminePld() || !ReadModuleGrade()) return false;
    // A PLD that only a restart would tell about leaves its image undecided.
    if (!state_.pldRestartWanted) {
      state_.pldImage = ChoosePldImage(state_.pldVersion, state_.moduleGrade, state_.pldGrade);
    }
    return true;
  }

  // Sets the PLD version number and the PLD's grade from the PLD information, when the module
  // gives any.
  bool ParsePldVersion() {
    if (!GetPldVersionNumber(state_.pldInfo.Version, &state_.pldVersion, &state_.pldGrade)) {
      return Fail(message::kPldVersionBad);
    }
    return true;
  }

  // Each read starts from a cleared record, so that a failed read leaves no stale text behind.
  bool ReadPldInfo() {
    std::memset(&state_.pldInfo, 0, sizeof(state_.pldInfo));
    return device_->GET_PLD_INFO(&state_.pldInfo);
  }

  bool ExaminePld() {
    state_.pldRestartWanted = false;
    if (ReadPldInfo()) return ParsePldVersion();
    // No information from the PLD: when boot flash holds a container, let the PLD load it and
    // ask once more.
    uint8_t header[kPldFlashHeaderSize] = {};
    if (!device_->GetArray(SEL_BOOT_FLASH, header, sizeof(header))) {
      return Fail(message::kBootFlashReadBad);
    }
    if (!IsPldFlashHeaderValid(header)) return true;
    // Reading without changing anything: the restart is what the update would do.
    if (settings_.readOnly || readingBack_) {
      state_.pldRestartWanted = true;
      return true;
    }
    // A PLD that does not verify after this restart cannot load what boot flash holds: a write
    // that was cut short leaves the new header before a partial image. Ending the run here would
    // leave the module so for good, so the run says so and goes on; with no version to read, the
    // image of the module's grade is written and the module is whole again.
    if (!RestartPld(OnUnverified::kGoOn)) return false;
    return !ReadPldInfo() || ParsePldVersion();
  }

  bool ReadModuleGrade() {
    if (!device_->GetArray(SEL_MODULE_TG_DATA, &state_.moduleGrade, 1)) {
      return Fail(message::kGradeReadBad);
    }
    if (state_.moduleGrade >= 2) return Fail(message::kModuleGradeBad);
    if (state_.pldGrade >= 2) return Fail(message::kPldGradeBad);
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
    console_->Wait(kPldRestartSteps);
    console_->Print(message::kLineEnd);
    if (device_->VerifyPld()) {
      console_->Print(message::kVerifyPldOk);
    } else if (onUnverified == OnUnverified::kGoOn) {
      console_->Print(message::kVerifyPldBad);
    } else {
      return Fail(message::kVerifyPldBad);
    }
    return true;
  }

  // The versions now in the module, read as the run read them before, printing nothing; a
  // reading that fails leaves them unknown and the run's outcome as it was.
  void ReadBack() {
    Console silent(nullptr, deps_.err, deps_.sleep);
    Console* const console = console_;
    const ModuleState written = state_;
    console_ = &silent;
    readingBack_ = true;
    if (ReadDescriptions() && Choose()) result_.after = state_;
    readingBack_ = false;
    console_ = console;
    state_ = written;
  }

  void PrintSummary() {
    const ModuleState& s = state_;
    console_->Print(message::kLineEnd);
    console_->Print(message::kSummaryRule);
    console_->Print(message::kModuleInfo);
    console_->Print(message::kItemMcuName, FieldText(s.module.Name));
    console_->Print(message::kItemSerialNumber, FieldText(s.module.SerialNumber));
    // %c: the revision byte as it is, a zero byte too.
    console_->Print(message::kItemRevision, std::string_view(&s.module.Revision, 1));
    if (s.applicationPresent) {
      console_->Print(message::kFirmwareInfo);
      console_->Print(message::kItemMcuName, FieldText(s.firmware.McuName));
      console_->Print(message::kItemFirmwareVersion, FieldText(s.firmware.Version));
      console_->Print(message::kItemCreated, FieldText(s.firmware.Created));
    }
    console_->Print(message::kBootLoaderInfo);
    console_->Print(message::kItemMcuName, FieldText(s.bootLoader.McuName));
    console_->Print(message::kItemBootLoaderVersion, FieldText(s.bootLoader.Version));
    console_->Print(message::kItemCreated, FieldText(s.bootLoader.Created));
    if (s.pldVersion != 0) {
      console_->Print(message::kPldInfo);
      console_->Print(message::kItemPldName, FieldText(s.pldInfo.PldName));
      console_->Print(message::kItemFirmwareVersion, FieldText(s.pldInfo.Version));
      console_->Print(message::kItemCreated, FieldText(s.pldInfo.Created));
    }
    console_->Print(message::kSummaryRule);
    console_->Print(message::kLineEnd);
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

  // A stop kept back ends this module's run only; its caller ends the process.
  bool Interrupted() { return Fail(message::kInterrupted); }

  // One image into the module, then its OK line. Ctrl-C and the closing of the console wait until
  // the write has ended: a write cut part-way leaves half an image in the module. A request to
  // end the program that came meanwhile ends it right after the image's OK line (or right after
  // a failed write), with a word that the next run completes the update; among several modules,
  // it ends this module's run there, and none starts another image.
  bool WriteImage(uint32_t address, const uint8_t* data, uint32_t size, const char* name,
                  const char* okLine) {
    if (!settings_.stopEndsProcess && console_control::StopRequested()) return Interrupted();
    bool written;
    {
      const console_control::InterruptHold hold;
      written = device_->PutArray(address, data, size);
    }
    if (written) {
      console_->Print(okLine);
      result_.written.push_back(name);
    }
    if (console_control::StopRequested()) {
      if (settings_.stopEndsProcess) {
        console_->PrintError(message::kInterrupted);
        console_control::EndAsRequested();
      }
      if (written) return Interrupted();
    }
    return written || Fail(message::kPutArrayBad);
  }

  bool LoadImage(const char* name, images::ImageRange* image) {
    *image = deps_.lookupImage(name);
    const char* failure = LookupFailureLine(image->failedStep);
    return failure == nullptr || Fail(failure);
  }

  bool WriteMcuImage(const char* name) {
    images::ImageRange image;
    if (!LoadImage(name, &image)) return false;
    Buffer copy = AllocateZeroed(*deps_.allocator, image.size);
    if (!copy) return FailAllocation(image.size);
    if (image.size != 0) std::memcpy(copy.data(), image.data, image.size);
    return WriteImage(SEL_MCU_FLASH, copy.data(), image.size, name, message::kMcuFlashingOk);
  }

  bool WritePldImage(const char* name) {
    images::ImageRange image;
    if (!LoadImage(name, &image)) return false;
    const size_t containerSize = size_t{image.size} + kPldFlashHeaderSize;
    {
      Buffer container = BuildPldFlashImage(image.data, image.size, *deps_.allocator);
      if (!container) return FailAllocation(containerSize);
      if (!WriteImage(SEL_BOOT_FLASH, container.data(), static_cast<uint32_t>(containerSize), name,
                      message::kPldFlashingOk)) {
        return false;
      }
    }
    return RestartPld(OnUnverified::kFail);
  }

  const UpdateDependencies& deps_;
  const RunSettings& settings_;
  Console own_;
  Console* console_;
  IR4690_BOOT_LOADER* device_ = nullptr;  // owned from CreateInstance until ReleaseDevice

  char moduleName_[kModuleNameBufferSize] = {};
  ModuleState state_;
  ModuleRun result_;
  bool readingBack_ = false;
  std::string failureText_;  // a failure line with a value in it
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
  deps.createBase = [] {
    return static_cast<IQUSBBASE*>(CreateInstance(kQusbBaseInterfaceName, 1, 0));
  };
  deps.out = stdout;
  deps.allocator = &HeapAllocator();
  deps.lookupImage = images::LookupImage;
  deps.sleep = PlatformSleep;
  deps.exit = ProcessExit;
  return deps;
}

ModuleRun RunModule(const UpdateDependencies& dependencies, const RunSettings& settings) {
  UpdateRun run(dependencies, settings);
  return run.Run();
}

void RunUpdate(const UpdateDependencies& dependencies) {
  Console console(dependencies.out, dependencies.err, dependencies.sleep);
  console_control::SetHoldNotice(message::kStopHeld);
  console.Banner();
  RunSettings settings;
  settings.console = &console;
  dependencies.exit(RunModule(dependencies, settings).status);
}

}  // namespace updater
