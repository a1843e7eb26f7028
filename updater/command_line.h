// What the utility makes of its command line. Without an argument it updates the first module it
// finds; options choose another run (a list, one chosen module, every module) and a log. An
// argument that is not one of them, or not given as the usage shows, means that the operator
// expected something else, so firmware is never written then: the usual requests for help and for
// the version are answered, anything else is refused with the usage, and in either case no device
// is opened.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "updater/image_loader.h"

namespace updater {

enum class Invocation {
  kUpdate,   // no argument, or the options of a run: the run
  kHelp,     // exactly one of --help, -h, -? and /?: the usage on standard output, exit 0
  kVersion,  // exactly --version: the version and the images carried on standard output, exit 0
  kRefused,  // anything else: the usage on standard error, exit kUsageErrorExit
};

// Which modules a run takes.
enum class Mode {
  kFirst,   // no option: the first module found, as always
  kList,    // --list: every module read, nothing written
  kSlot,    // --slot N
  kSerial,  // --serial TEXT
  kAll,     // --all: every module at once
};

struct CommandLine {
  Invocation invocation = Invocation::kUpdate;
  Mode mode = Mode::kFirst;
  uint16_t slot = 0;    // kSlot
  std::string serial;   // kSerial
  bool json = false;    // kList: a JSON array instead of the table
  std::string log;      // --log FILE; empty: no log
  std::string refused;  // kRefused: the argument that was refused
};

constexpr int kUsageErrorExit = 2;  // the usual exit code of a usage error

CommandLine ReadCommandLine(int argc, const char* const* argv);

// Answers an invocation other than kUpdate on `out` or `err` and gives the exit code: 0, 2 for a
// refused command line, 1 when the answer could not be written (a full disk, a closed pipe).
// The version's answer lists the images carried, found through `lookup`.
int Answer(const CommandLine& line, FILE* out, FILE* err, ImageLookup lookup);

}  // namespace updater
