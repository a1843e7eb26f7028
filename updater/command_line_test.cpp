// The command line: which argument lists update the module (only the empty one) and which are
// answered. The answers' exact bytes and exit codes are the end-to-end cases argument_*.
#include "updater/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using updater::Invocation;

struct Row {
  std::vector<const char*> arguments;  // after the program name
  Invocation expected;
};

TEST(CommandLineTest, OnlyAnEmptyCommandLineUpdates) {
  const Row rows[] = {
      {{}, Invocation::kUpdate},
      {{"--help"}, Invocation::kHelp},
      {{"-h"}, Invocation::kHelp},
      {{"-?"}, Invocation::kHelp},
      {{"/?"}, Invocation::kHelp},
      {{"--version"}, Invocation::kVersion},
      // Near misses and anything else are refused, never taken for an update.
      {{""}, Invocation::kRefused},
      {{"update"}, Invocation::kRefused},
      {{"--HELP"}, Invocation::kRefused},
      {{"-help"}, Invocation::kRefused},
      {{"/h"}, Invocation::kRefused},
      {{"--version2"}, Invocation::kRefused},
      {{"-v"}, Invocation::kRefused},
      {{"--help", "--version"}, Invocation::kRefused},
      {{"--version", "now"}, Invocation::kRefused},
  };
  for (const Row& row : rows) {
    std::vector<const char*> argv = {"r4690-update"};
    argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
    argv.push_back(nullptr);
    std::string shown;
    for (const char* a : row.arguments) shown += std::string(" [") + a + "]";
    EXPECT_EQ(updater::ReadCommandLine(static_cast<int>(argv.size()) - 1, argv.data()),
              row.expected)
        << "arguments:" << shown;
  }
}

}  // namespace
