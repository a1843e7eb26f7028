// What the utility tells the operator, and the one way a module's run ends: the banner, plain
// text lines, the waiting spinner, and ReleaseDevice, which releases the module interface and
// prints the closing message.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <mutex>
#include <string>
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

// Whole lines from the consoles of several modules' runs onto one stream, one line at a time, so
// that no line is ever cut by another's. Safe from several threads.
class LineSink {
 public:
  explicit LineSink(FILE* out) : out_(out) {}
  void Write(std::string_view line);
  // The error number of the first failed write; 0 while none has failed.
  int Error();

 private:
  std::mutex mu_;
  FILE* out_;
  int error_ = 0;
};

// Writes the utility's texts: the transcript to one stream, the few lines about the run itself (a
// stop kept back, a transcript that could not be written) to another. Every text is written as
// it is (never used as a format) and flushed at once, so that a spinner step ending in "\r" is on
// screen while the program sleeps. A transcript that cannot be written does not stop the run: the
// console notes the first failure's error number, and the run reports it at its end.
//
// A console without a stream prints nothing (a module read for a list). A console on a LineSink
// is one module's among several at once: each whole line goes to the sink behind the module's
// prefix, empty lines are left out, and a wait shows one line instead of a spinner.
class Console {
 public:
  explicit Console(FILE* out, FILE* err = stderr, SleepFunction sleep = PlatformSleep)
      : out_(out), err_(err), sleep_(sleep) {}
  Console(LineSink* sink, std::string prefix, FILE* err, SleepFunction sleep)
      : out_(nullptr), err_(err), sleep_(sleep), sink_(sink), prefix_(std::move(prefix)) {}

  void Print(std::string_view text);
  // A message of updater/messages.h with the values in place of its placeholders.
  void Print(std::string_view message, std::initializer_list<std::string_view> values);
  void Print(std::string_view message, std::string_view value) { Print(message, {value}); }
  // A line about the run itself, on the second stream.
  void PrintError(std::string_view text);
  // Whether this console is one module's among several on a LineSink.
  bool OnSink() const { return sink_ != nullptr; }
  // The error number of the first failed write of the transcript; 0 while none has failed.
  int TranscriptError() const { return sink_ != nullptr ? sink_->Error() : transcriptError_; }
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
  LineSink* sink_ = nullptr;
  std::string prefix_;
  std::string line_;  // the part of the line being printed, on a sink
};

// How a run ends the process: ProcessExit (std::exit, so that buffered output is written) in the
// utility. A test passes an exit that returns, and the run then returns right after the call.
using ExitFunction = void (*)(int status);
[[noreturn]] void ProcessExit(int status);

// The exit status of a run.
constexpr int kExitSucceeded = 0;
constexpr int kExitFailed = -1;

// Ends a module's run. Releases the interface object when there is one (printing " ReleaseDevice()
// --> OK\n" or "... Bad\n" after its ReleaseInstance) and forgets it, prints an empty line and the
// text (the closing message), says on the second stream when the transcript could not be written,
// and gives the exit status: kExitFailed when `failed`, else kExitSucceeded. A failing release and
// a lost transcript change neither the message nor the status: the module's state decides it.
int ReleaseDevice(Console& console, IR4690_BOOT_LOADER*& device, const char* text, bool failed);

}  // namespace updater
