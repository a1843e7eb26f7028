// The command line: near misses of the answered arguments and the options misused are refused,
// never taken for an update, and the refusal names the argument. Each answered argument, an empty
// one, an unknown word and two words, with the exact bytes and exit code of the answer, are the
// end-to-end cases argument_*; every option is shown by an end-to-end case of its own.
#include "updater/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using updater::Invocation;

TEST(CommandLineTest, NearMissesAndMisusedOptionsAreRefused) {
  // The arguments, then the one that the refusal names.
  // clang-format off
  const std::vector<std::vector<const char*>> rows = {
      {"--HELP", "--HELP"}, {"-help", "-help"}, {"/h", "/h"}, {"--version2", "--version2"},
      {"-v", "-v"}, {"--version", "now", "--version"}, {"--list", "--help", "--help"},
      {"--json", "--json"}, {"--all", "--json", "--json"}, {"--list", "--all", "--all"},
      {"--list", "--list", "--list"}, {"--slot", "--slot"}, {"--slot", "127", "127"},
      {"--slot", "1x", "1x"}, {"--slot", "0012", "0012"}, {"--serial", "", "--serial"},
      {"--log", "a", "--log", "b", "--log"}, {"--list", "--json", "--json", "--json"}};
  // clang-format on
  for (const std::vector<const char*>& row : rows) {
    std::vector<const char*> argv = {"r4690-update"};
    argv.insert(argv.end(), row.begin(), row.end() - 1);
    argv.push_back(nullptr);
    std::string shown;
    for (size_t i = 1; i + 1 < argv.size(); ++i) shown += std::string(" [") + argv[i] + "]";
    const updater::CommandLine line =
        updater::ReadCommandLine(static_cast<int>(argv.size()) - 1, argv.data());
    EXPECT_EQ(line.invocation, Invocation::kRefused) << "arguments:" << shown;
    EXPECT_EQ(line.refused, row.back()) << "arguments:" << shown;
  }
}

}  // namespace

// An answer that cannot be written (standard output full, or closed) fails with exit code 1 and
// says so on standard error, as a command-line tool does; the usage error keeps its 2.
TEST(CommandLineTest, AnswerThatCannotBeWrittenFailsWithOne) {
  const std::string path = ::testing::TempDir() + "command_line_test_read_only";
  std::fclose(std::fopen(path.c_str(), "wb"));
  const struct {
    Invocation invocation;
    int exit;
    const char* said;
  } rows[] = {{Invocation::kHelp, 1, "the answer could not be written"},
              {Invocation::kVersion, 1, "the answer could not be written"},
              {Invocation::kRefused, 2, "cannot use the argument '--what'"}};
  updater::CommandLine line;
  line.refused = "--what";
  for (const auto& row : rows) {
    std::FILE* out = std::fopen(path.c_str(), "rb");  // every write to it fails
    std::FILE* err = std::tmpfile();
    line.invocation = row.invocation;
    EXPECT_EQ(updater::Answer(line, out, err, [](const char*) { return images::ImageRange{}; }),
              row.exit);
    std::rewind(err);
    char said[96] = {};
    const std::string text(said, std::fread(said, 1, sizeof said - 1, err));
    EXPECT_EQ(text.rfind(std::string("r4690-update: ") + row.said, 0), 0u) << text;
    std::fclose(out);
    std::fclose(err);
  }
  std::remove(path.c_str());
}
