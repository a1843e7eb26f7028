// The command line: near misses of the answered arguments are refused, never taken for an update.
// Each answered argument, an empty one, an unknown word and two words, with the exact bytes and
// exit code of the answer, are the end-to-end cases argument_*, and no argument at all is every
// other end-to-end case.
#include "updater/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using updater::Invocation;

TEST(CommandLineTest, OnlyAnEmptyCommandLineUpdates) {
  // Near misses are refused, never taken for an update.
  const std::vector<std::vector<const char*>> rows = {
      {"--HELP"}, {"-help"}, {"/h"}, {"--version2"}, {"-v"}, {"--version", "now"},
  };
  for (const std::vector<const char*>& arguments : rows) {
    std::vector<const char*> argv = {"r4690-update"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    argv.push_back(nullptr);
    std::string shown;
    for (const char* a : arguments) shown += std::string(" [") + a + "]";
    EXPECT_EQ(updater::ReadCommandLine(static_cast<int>(argv.size()) - 1, argv.data()),
              Invocation::kRefused)
        << "arguments:" << shown;
  }
}

}  // namespace
