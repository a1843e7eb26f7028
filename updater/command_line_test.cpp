// The program's entry and its modes' records: the command line, the answer that cannot be
// written, the wait for Enter, and the log's times and escaping.
#include "updater/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "updater/json_record.h"
#include "updater/window_pause.h"

namespace {

using updater::Invocation;

// What a stream holds, from its start.
std::string Text(FILE* stream) {
  std::rewind(stream);
  char text[256];
  return std::string(text, std::fread(text, 1, sizeof text, stream));
}

// Near misses of the answered arguments and the options misused are refused, never taken for an
// update, and the refusal names the argument. Each answered argument, an empty one, an unknown
// word and two words, with the exact bytes and exit code of the answer, are the end-to-end cases
// argument_*; every option is shown by an end-to-end case of its own.
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
    const std::string text = Text(err);
    EXPECT_EQ(text.rfind(std::string("r4690-update: ") + row.said, 0), 0u) << text;
    std::fclose(out);
    std::fclose(err);
  }
  std::remove(path.c_str());
}

// The wait for Enter: it ends at the first line feed or at the end of input (a console that
// gives no more input must never keep the program alive), and it reads nothing beyond.
TEST(WindowPauseTest, EndsAtTheFirstLineFeedOrTheEndOfInput) {
  // The input, and what it still holds after the wait.
  const std::pair<std::string, int> rows[] = {
      {"\n", EOF}, {"typed text\nmore", 'm'}, {"", EOF}, {"no line feed", EOF}};
  for (const auto& [input, next] : rows) {
    FILE* in = std::tmpfile();
    FILE* out = std::tmpfile();
    std::fputs(input.c_str(), in);
    std::rewind(in);
    updater::WaitForEnter(in, out);
    EXPECT_EQ(std::fgetc(in), next) << "input: " << input;
    EXPECT_EQ(Text(out), "\n Press Enter to close this window.\n");
    std::fclose(in);
    std::fclose(out);
  }
}

// The log's time stamps across leap days and the turn of a century that is no leap year, and the
// escaping that keeps a record ASCII and whole whatever bytes a module reports.
TEST(JsonRecordTest, UtcTimesAndEscapedTexts) {
  const std::pair<int64_t, const char*> times[] = {
      {0, "1970-01-01T00:00:00Z"},          {951868799, "2000-02-29T23:59:59Z"},
      {4107542399, "2100-02-28T23:59:59Z"}, {4107542400, "2100-03-01T00:00:00Z"},
      {1798761599, "2026-12-31T23:59:59Z"}, {-1, "1969-12-31T23:59:59Z"}};
  for (const auto& [seconds, text] : times) {
    EXPECT_EQ(
        updater::UtcTimeText(std::chrono::system_clock::time_point(std::chrono::seconds(seconds))),
        text);
  }
  EXPECT_EQ(updater::JsonObject().Text("k\"", "a\"b\\c\n\x01\x7F\xE9z").Number("n", 7).Close(),
            R"({"k\"":"a\"b\\c\u000A\u0001\u007F\u00E9z","n":7})");
}

}  // namespace
