// The whole run of the update utility: find and identify the module, read its descriptions,
// choose the images, print the summary, write the images, restart the PLD, and end through
// ReleaseDevice. Everything the run reaches outside itself is handed in, so that tests can put
// a fake module, a failing allocator, a missing image, a sleep that takes no time or an exit
// that returns in place of the real ones.
#pragma once

#include <cstdio>
#include <functional>

#include "modlib/interfaces.h"
#include "updater/allocator.h"
#include "updater/console.h"
#include "updater/image_loader.h"

namespace updater {

struct UpdateDependencies {
  // Makes the run's interface object, or gives null. Production: CreateInstance of the
  // boot-loader interface with DriverKind 1 and the name check kept.
  std::function<IR4690_BOOT_LOADER*()> createInstance;
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

// Runs the update start to end and ends it through dependencies.exit, once: kExitSucceeded after
// the last step, kExitFailed at the first failure. With the process's exit it never returns; an
// exit that returns makes RunUpdate return right after it, with nothing more asked of the module.
void RunUpdate(const UpdateDependencies& dependencies);

}  // namespace updater
