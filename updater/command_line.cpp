// The utility's answers to a command line that holds arguments.
#include "updater/command_line.h"

#include <cstring>

#include "updater/console.h"

namespace updater {

namespace {

constexpr const char* kHelpWords[] = {"--help", "-h", "-?", "/?"};
constexpr char kVersionWord[] = "--version";

constexpr char kUsage[] =
    "Usage: r4690-update\n"
    "\n"
    "Brings the firmware of the R46-90 module plugged into this computer up to the images\n"
    "carried in this program: finds the module, shows what it holds and writes what is out of\n"
    "date. It takes no arguments.\n"
    "\n"
    "  r4690-update --help      this text (also -h, -? and /?)\n"
    "  r4690-update --version   the version of this program\n"
    "\n"
    "Exit codes: 0 the module is up to date; -1 the update failed, the last line printed says\n"
    "where (a POSIX shell sees 255); 2 an argument this program does not take.\n";

bool IsHelpWord(const char* argument) {
  for (const char* word : kHelpWords) {
    if (std::strcmp(argument, word) == 0) return true;
  }
  return false;
}

void Write(FILE* stream, const char* text) {
  std::fputs(text, stream);
  std::fflush(stream);
}

}  // namespace

Invocation ReadCommandLine(int argc, const char* const* argv) {
  if (argc <= 1) return Invocation::kUpdate;
  if (argc > 2) return Invocation::kRefused;
  if (IsHelpWord(argv[1])) return Invocation::kHelp;
  if (std::strcmp(argv[1], kVersionWord) == 0) return Invocation::kVersion;
  return Invocation::kRefused;
}

int Answer(Invocation invocation, FILE* out, FILE* err) {
  switch (invocation) {
    case Invocation::kHelp:
      Write(out, kUsage);
      return 0;
    case Invocation::kVersion:
      Write(out, "r4690-update ");
      Write(out, kUtilityVersion);
      Write(out, "\n");
      return 0;
    case Invocation::kUpdate:
    case Invocation::kRefused:
      break;
  }
  Write(err, "r4690-update: this program takes no arguments; nothing was done.\n\n");
  Write(err, kUsage);
  return kUsageErrorExit;
}

}  // namespace updater
