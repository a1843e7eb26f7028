// The operator guide (docs/operator-guide.md) against the program, so that it can never miss a
// message or show a run that the program does not produce.
//
// The message catalogue is the guide's section "Every message, and what to do". Every line of
// every message of the utility's list (updater/messages.h, split at line feeds and carriage
// returns) that holds a letter or a digit must appear in a code span or a code block of the
// catalogue, where the guide writes a placeholder of its own (<n>, <text>) in place of the
// message's (%u, %s). In the other direction, every row of a catalogue table whose message holds a
// letter or a digit must show one of those lines, so that a message the program no longer prints
// cannot stay in the guide.
//
// The transcript under "A successful run" must be what a console shows for the end-to-end case
// both_images_then_nothing: its expected output with each carriage return drawn over its line,
// trailing blanks ignored.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "updater/messages.h"

namespace {

constexpr char kGuide[] = R4690_SOURCE_DIR "/docs/operator-guide.md";
constexpr char kTranscriptCase[] =
    R4690_SOURCE_DIR "/tests/e2e/cases/both_images_then_nothing/expected.stdout";

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::vector<std::string> Split(std::string_view text, const std::string& separators) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (separators.find(c) == std::string::npos) parts.back() += c;
    if (separators.find(c) != std::string::npos) parts.emplace_back();
  }
  return parts;
}

bool HoldsLetterOrDigit(const std::string& text) {
  return std::regex_search(text, std::regex("[[:alnum:]]"));
}

std::string TrimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.pop_back();
  return text;
}

// A section of the guide, from its heading to the next heading of the same level, read as the
// lines of its fenced code blocks, all its code (those lines and the contents of the code spans
// outside the blocks), and the first span of each table row.
struct Section {
  std::vector<std::vector<std::string>> blocks;
  std::vector<std::string> code, rowSpans;

  explicit Section(const std::string& heading) {
    const std::string markdown = ReadFile(kGuide);
    const size_t start = markdown.find("\n" + heading + "\n");
    EXPECT_NE(start, std::string::npos) << "no section \"" << heading << "\" in " << kGuide;
    if (start == std::string::npos) return;
    bool inside = false;
    for (const std::string& line :
         Split(markdown.substr(start + 1, markdown.find("\n## ", start + 1) - start), "\n")) {
      if (line.rfind("```", 0) == 0) {
        if (!inside) blocks.emplace_back();
        inside = !inside;
      } else if (inside) {
        blocks.back().push_back(line);
        code.push_back(line);
      } else {
        const std::vector<std::string> parts = Split(line, "`");
        for (size_t i = 1; i + 1 < parts.size(); i += 2) code.push_back(parts[i]);
        if (line.rfind("| `", 0) == 0 && parts.size() > 2) rowSpans.push_back(parts[1]);
      }
    }
  }
};

// Every line of every message that holds a letter or a digit, as a pattern: its text, with any
// text in place of a placeholder (%u, %s).
struct PrintedLine {
  std::string text;
  const char* message;  // its name
  std::regex pattern;
};

std::vector<PrintedLine> PrintedLines() {
  static const std::regex kSpecial(R"([.^$|()\[\]{}*+?\\])");
  static const std::regex kPlaceholder("%-?[0-9]*[scu]");
  std::vector<PrintedLine> lines;
  for (const updater::message::Entry& entry : updater::message::kAll) {
    for (const std::string& line : Split(entry.text, "\n\r")) {
      if (!HoldsLetterOrDigit(line)) continue;
      const std::string literal = std::regex_replace(line, kSpecial, R"(\$&)");
      lines.push_back(
          {line, entry.name, std::regex(std::regex_replace(literal, kPlaceholder, ".*"))});
    }
  }
  return lines;
}

TEST(OperatorGuideTest, CatalogueHoldsEveryPrintedLineAndNothingElse) {
  const Section catalogue("## Every message, and what to do");
  const std::vector<PrintedLine> printed = PrintedLines();
  for (const PrintedLine& line : printed) {
    EXPECT_TRUE(
        std::any_of(catalogue.code.begin(), catalogue.code.end(),
                    [&](const std::string& e) { return std::regex_search(e, line.pattern); }))
        << line.message << ": \"" << line.text
        << "\" is printed but missing from the guide's message catalogue";
  }
  ASSERT_GT(catalogue.rowSpans.size(), 50u) << "the catalogue's tables were not read";
  for (const std::string& row : catalogue.rowSpans) {
    EXPECT_TRUE(
        !HoldsLetterOrDigit(row) ||
        std::any_of(printed.begin(), printed.end(),
                    [&](const PrintedLine& line) { return std::regex_search(row, line.pattern); }))
        << "the catalogue's row \"" << row << "\" names no text that the utility prints";
  }
}

// The transcript is what a console shows of the case's output: each carriage return sends the
// cursor back to the start of its line, where the next text overwrites what is there.
TEST(OperatorGuideTest, TranscriptIsWhatTheUtilityShows) {
  const Section section("## A successful run");
  std::vector<std::string> transcript, screen;
  for (const std::string& line : section.blocks.at(0)) transcript.push_back(TrimRight(line));
  for (const std::string& line : Split(ReadFile(kTranscriptCase), "\n")) {
    std::string shown;
    for (const std::string& stroke : Split(line, "\r")) {
      shown.replace(0, std::min(shown.size(), stroke.size()), stroke);
    }
    screen.push_back(TrimRight(shown));
  }
  if (screen.back().empty()) screen.pop_back();  // after the last line feed
  EXPECT_EQ(transcript, screen);
}

}  // namespace
