// What the utility makes of its command line. It takes no arguments: without any it updates the
// module. An argument means that the operator expected something else, so firmware is never
// written then: the usual requests for help and for the version are answered, anything else is
// refused with the usage, and in either case no device is opened.
#pragma once

#include <cstdio>

#include "updater/image_loader.h"

namespace updater {

enum class Invocation {
  kUpdate,   // no argument: the update run
  kHelp,     // exactly one of --help, -h, -? and /?: the usage on standard output, exit 0
  kVersion,  // exactly --version: the version and the images carried on standard output, exit 0
  kRefused,  // anything else: the usage on standard error, exit kUsageErrorExit
};

constexpr int kUsageErrorExit = 2;  // the usual exit code of a usage error

Invocation ReadCommandLine(int argc, const char* const* argv);

// Answers an invocation other than kUpdate on `out` or `err` and gives the exit code: 0, 2 for a
// refused command line, 1 when the answer could not be written (a full disk, a closed pipe).
// The version's answer lists the images carried, found through `lookup`.
int Answer(Invocation invocation, FILE* out, FILE* err, ImageLookup lookup);

}  // namespace updater
