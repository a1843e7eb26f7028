// The command line: near misses of the answered arguments are refused, never taken for an update.
// Each answered argument, an empty one, an unknown word and two words, with the exact bytes and
// exit code of the answer, are the end-to-end cases argument_*, and no argument at all is every
// other end-to-end case.
#include "updater/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
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

// An answer that cannot be written (standard output full, or closed) fails with exit code 1 and
// says so on standard error, as a command-line tool does; the usage error keeps its 2.
TEST(CommandLineTest, AnswerThatCannotBeWrittenFailsWithOne) {
  const std::string path = ::testing::TempDir() + "command_line_test_read_only";
  std::FILE* create = std::fopen(path.c_str(), "wb");
  ASSERT_NE(create, nullptr);
  std::fclose(create);
  const auto noImages = [](const char*) { return images::ImageRange{}; };
  const struct {
    Invocation invocation;
    int exit;
  } rows[] = {{Invocation::kHelp, 1}, {Invocation::kVersion, 1}, {Invocation::kRefused, 2}};
  for (const auto& row : rows) {
    std::FILE* out = std::fopen(path.c_str(), "rb");  // every write to it fails
    std::FILE* err = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(updater::Answer(row.invocation, out, err, noImages), row.exit);
    std::rewind(err);
    char said[96] = {};
    const size_t n = std::fread(said, 1, sizeof said - 1, err);
    const std::string expected = row.exit == 1 ? "r4690-update: the answer could not be written"
                                               : "r4690-update: this program takes no arguments";
    EXPECT_EQ(std::string(said, n).rfind(expected, 0), 0u) << std::string(said, n);
    std::fclose(out);
    std::fclose(err);
  }
  std::remove(path.c_str());
}
