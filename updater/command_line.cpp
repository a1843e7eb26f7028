// The utility's answers to a command line that holds arguments.
#include "updater/command_line.h"

#include <cstring>

#include "updater/console.h"
#include "updater/messages.h"

namespace updater {

namespace {

constexpr const char* kHelpWords[] = {"--help", "-h", "-?", "/?"};
constexpr char kVersionWord[] = "--version";

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
      Write(out, message::kUsage);
      return 0;
    case Invocation::kVersion:
      Write(out, message::FillIn(message::kVersionAnswer, kUtilityVersion).c_str());
      return 0;
    case Invocation::kUpdate:
    case Invocation::kRefused:
      break;
  }
  Write(err, message::kArgumentsRefused);
  Write(err, message::kUsage);
  return kUsageErrorExit;
}

}  // namespace updater
