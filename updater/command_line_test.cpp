// The command line: which argument lists update the module (only the empty one), which are
// answered, and where each answer goes with which exit code.
#include "updater/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
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

std::string Contents(FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text += static_cast<char>(c);
  return text;
}

TEST(CommandLineTest, AnswersGoToTheirStreamWithTheirExitCode) {
  struct AnswerRow {
    Invocation invocation;
    int exitCode;
    const char* outStart;  // the start of standard output; null: it stays empty
    const char* errStart;  // the start of standard error; null: it stays empty
  };
  const AnswerRow rows[] = {
      {Invocation::kHelp, 0, "Usage: r4690-update\n", nullptr},
      {Invocation::kVersion, 0, "r4690-update 01.03\n", nullptr},
      {Invocation::kRefused, 2, nullptr,
       "r4690-update: this program takes no arguments; nothing was done.\n\nUsage: "},
  };
  for (const AnswerRow& row : rows) {
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(updater::Answer(row.invocation, out, err), row.exitCode);
    const std::string outText = Contents(out);
    const std::string errText = Contents(err);
    std::fclose(out);
    std::fclose(err);
    if (row.outStart == nullptr) {
      EXPECT_EQ(outText, "");
    } else {
      EXPECT_EQ(outText.rfind(row.outStart, 0), 0u) << outText;
    }
    if (row.errStart == nullptr) {
      EXPECT_EQ(errText, "");
    } else {
      EXPECT_EQ(errText.rfind(row.errStart, 0), 0u) << errText;
    }
  }
}

}  // namespace
