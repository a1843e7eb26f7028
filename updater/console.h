// What the utility tells the operator, and the one way a run ends: the banner, plain text
// lines, the waiting spinner, and ReleaseDevice, which releases the module interface, prints
// the closing message and ends the process through the exit it is given.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string_view>

#include "modlib/interfaces.h"
#include "r4690_version.h"

namespace updater {

// The banner's version, "01.03" for release 1.3.
constexpr char kUtilityVersion[] = R4690_VERSION_BANNER;

// One spinner step lasts this long; a PLD restart waits kPldRestartSteps of them.
constexpr uint32_t kSpinnerStepMs = 200;
constexpr unsigned kPldRestartSteps = 30;

// The spinner table: entries 0 to 14 are 1 to 15 full stops, entry 15 wipes them with blanks.
constexpr unsigned kSpinnerEntries = 16;
std::string_view SpinnerEntry(unsigned index);

// How the spinner sleeps through a step: the platform's Sleep in the utility.
using SleepFunction = void (*)(uint32_t ms);
void PlatformSleep(uint32_t ms);

// Writes the utility's texts: the transcript to one stream, the few lines about the run itself (a
// stop kept back, a transcript that could not be written) to another. Every text is written as
// it is (never used as a format) and flushed at once, so that a spinner step ending in "\r" is on
// screen while the program sleeps. A transcript that cannot be written does not stop the run: the
// console notes the first failure's error number, and the run reports it at its end.
class Console {
 public:
  explicit Console(FILE* out, FILE* err = stderr, SleepFunction sleep = PlatformSleep)
      : out_(out), err_(err), sleep_(sleep) {}

  void Print(std::string_view text);
  // A message of updater/messages.h with the values in place of its placeholders.
  void Print(std::string_view message, std::initializer_list<std::string_view> values);
  void Print(std::string_view message, std::string_view value) { Print(message, {value}); }
  // A line about the run itself, on the second stream.
  void PrintError(std::string_view text);
  // The error number of the first failed write of the transcript; 0 while none has failed.
  int TranscriptError() const { return transcriptError_; }
  void Banner();
  // Shows step `step` (0-based) of a wait and sleeps one spinner step.
  void SpinnerStep(unsigned step);
  // A whole wait of `steps` steps.
  void Wait(unsigned steps);

 private:
  FILE* out_;
  FILE* err_;
  SleepFunction sleep_;
  int transcriptError_ = 0;
};

// How a run ends the process: ProcessExit (std::exit, so that buffered output is written) in the
// utility. A test passes an exit that returns, and the run then returns right after the call.
using ExitFunction = void (*)(int status);
[[noreturn]] void ProcessExit(int status);

// The exit status of a run.
constexpr int kExitSucceeded = 0;
constexpr int kExitFailed = -1;

// Ends the run. Releases the interface object when there is one (printing " ReleaseDevice() -->
// OK\n" or "... Bad\n" after its ReleaseInstance) and forgets it, prints an empty line and the
// text (the closing message), says on the second stream when the transcript could not be written,
// and calls exit with kExitFailed when `failed`, else kExitSucceeded. A failing release and a lost
// transcript change neither the message nor the exit status: the module's state decides it.
void ReleaseDevice(Console& console, IR4690_BOOT_LOADER*& device, const char* text, bool failed,
                   ExitFunction exit);

}  // namespace updater
