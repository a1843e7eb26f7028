// The whole run of the update utility on one module: find and identify the module, read its
// descriptions, choose the images, print the summary, write the images, restart the PLD, and end
// through ReleaseDevice. Everything the run reaches outside itself is handed in, so that tests can
// put a fake module, a failing allocator, a missing image, a sleep that takes no time or an exit
// that returns in place of the real ones.
//
// The same run reads a module for a list (printing nothing, writing nothing, restarting nothing)
// and updates one module among several; each gives its caller a ModuleRun rather than ending the
// process.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "modlib/interfaces.h"
#include "modlib/records.h"
#include "updater/allocator.h"
#include "updater/console.h"
#include "updater/image_loader.h"

namespace updater {

constexpr uint16_t kSlotCount = R4690_SLOT_COUNT;  // virtual slots 0 to 126 are searched

struct UpdateDependencies {
  // Makes the run's interface object, or gives null. Production: CreateInstance of the
  // boot-loader interface with DriverKind 1 and the name check kept.
  std::function<IR4690_BOOT_LOADER*()> createInstance;
  // Makes a base interface object, which opens and names any of the maker's modules without
  // running anything on it (the slots of a list). Production: CreateInstance of "QUSBBASE".
  std::function<IQUSBBASE*()> createBase;
  FILE* out = nullptr;                  // the console: the run's transcript
  FILE* err = stderr;                   // the lines about the run itself
  Allocator* allocator = nullptr;       // the image buffers
  ImageLookup lookupImage = nullptr;    // the embedded images
  SleepFunction sleep = PlatformSleep;  // the spinner's steps
  ExitFunction exit = ProcessExit;      // the end of the run
};

// What the program itself uses: the library's factory, stdout and stderr, the heap, the embedded
// images, the platform's Sleep and the process's exit.
UpdateDependencies ProductionDependencies();

// What the run read of a module, as the update sequence reads it.
struct ModuleState {
  ModuleDescription module = {};
  FirmwareDescription firmware = {};
  BootLoaderDescription bootLoader = {};
  PldInfo pldInfo = {};
  uint8_t usbSpeed = 0;  // 0 full speed, anything else high speed
  bool applicationPresent = false;
  bool pldExamined = false;        // a boot loader of major version 3: the PLD was looked at
  bool pldRestartWanted = false;   // read only: the update would restart the PLD to read it
  uint32_t pldVersion = 0;         // packed major.minor.build; 0 when not known
  uint8_t moduleGrade = 0;         // read from the module (with the PLD)
  uint8_t pldGrade = 0;            // from the PLD's version text
  const char* mcuImage = nullptr;  // what the update writes, or wrote; null: none
  const char* pldImage = nullptr;
};

// How one module's run goes.
struct RunSettings {
  std::optional<uint16_t> slot;  // open this virtual slot only; otherwise the first of 0 to 126
  bool readOnly = false;         // read and choose; print, write and restart nothing
  bool leaveRunning = false;     // read only: start the application again before letting go
  bool readBack = false;         // after the writes, read the versions now in the module
  bool summary = true;           // print the summary of what the module holds before the writes
  // Whether a stop kept back during a write ends the process (the only module), or only this
  // module's run, whose caller ends the process when every module has stopped.
  bool stopEndsProcess = true;
  const char* completion = nullptr;  // the closing line of a success; null: the program's own
  Console* console = nullptr;        // where it prints; null: dependencies.out
};

// How one module's run ended.
struct ModuleRun {
  int status = kExitFailed;
  std::string failure;               // the failure line as printed, when the run failed
  std::optional<uint16_t> slot;      // the slot whose module was opened
  bool read = false;                 // the module's descriptions were read and the images chosen
  ModuleState before;                // valid when read
  std::vector<const char*> written;  // the images written, in order
  std::optional<ModuleState> after;  // read back after the writes (RunSettings::readBack)
};

// One module's run with these settings; it never ends the process, but a stop kept back during a
// write does when settings.stopEndsProcess.
ModuleRun RunModule(const UpdateDependencies& dependencies, const RunSettings& settings);

// The run of the program without arguments: RunModule on the first module, then
// dependencies.exit once with the run's status. With the process's exit it never returns; an exit
// that returns makes RunUpdate return right after it.
void RunUpdate(const UpdateDependencies& dependencies);

}  // namespace updater
