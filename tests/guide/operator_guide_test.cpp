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
#include <cctype>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "updater/messages.h"

namespace {

constexpr char kGuide[] = R4690_SOURCE_DIR "/docs/operator-guide.md";
constexpr char kTranscriptCase[] =
    R4690_SOURCE_DIR "/tests/e2e/cases/both_images_then_nothing/expected.stdout";
constexpr char kCatalogueHeading[] = "## Every message, and what to do";
constexpr char kTranscriptHeading[] = "## A successful run";

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> Split(std::string_view text, const std::string& separators) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (separators.find(c) != std::string::npos) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

bool HoldsLetterOrDigit(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

std::string TrimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.pop_back();
  return text;
}

// The section of `markdown` that starts at the line `heading` and ends at the next heading of
// the same level; empty when there is no such line.
std::string Section(const std::string& markdown, const std::string& heading) {
  const size_t start = markdown.find("\n" + heading + "\n");
  if (start == std::string::npos) return std::string();
  const size_t end = markdown.find("\n## ", start + 1);
  return markdown.substr(start + 1, end == std::string::npos ? std::string::npos : end - start);
}

// The lines of the section's fenced code blocks; the first block only when `firstOnly`.
std::vector<std::string> CodeBlockLines(const std::string& section, bool firstOnly) {
  std::vector<std::string> lines;
  bool inside = false;
  for (const std::string& line : Split(section, "\n")) {
    if (line.rfind("```", 0) == 0) {
      if (inside && firstOnly) return lines;
      inside = !inside;
    } else if (inside) {
      lines.push_back(line);
    }
  }
  return lines;
}

// The contents of the code spans of the section's lines outside code blocks; with `rowsOnly`,
// the first span of each table row.
std::vector<std::string> CodeSpans(const std::string& section, bool rowsOnly) {
  std::vector<std::string> spans;
  bool inside = false;
  for (const std::string& line : Split(section, "\n")) {
    if (line.rfind("```", 0) == 0) inside = !inside;
    if (inside || line.rfind("```", 0) == 0) continue;
    if (rowsOnly && line.rfind("| `", 0) != 0) continue;
    const std::vector<std::string> parts = Split(line, "`");
    for (size_t i = 1; i + 1 < parts.size(); i += 2) {
      spans.push_back(parts[i]);
      if (rowsOnly) break;
    }
  }
  return spans;
}

// A printed line as a pattern: its text, with any text in place of a placeholder.
struct PrintedLine {
  std::string text;
  std::string message;  // the name of its message
  std::regex pattern;
};

std::vector<PrintedLine> PrintedLines() {
  static const std::regex kPlaceholder("%-?[0-9]*[scu]");
  static const std::regex kSpecial(R"([.^$|()\[\]{}*+?\\])");
  std::vector<PrintedLine> lines;
  for (const updater::message::Entry& entry : updater::message::kAll) {
    for (const std::string& line : Split(entry.text, "\n\r")) {
      if (!HoldsLetterOrDigit(line)) continue;
      const auto literal = [&](size_t from, size_t to) {
        return std::regex_replace(line.substr(from, to - from), kSpecial, R"(\$&)");
      };
      std::string pattern;
      size_t from = 0;
      for (std::sregex_iterator p(line.begin(), line.end(), kPlaceholder), end; p != end; ++p) {
        pattern += literal(from, static_cast<size_t>(p->position())) + ".*";
        from = static_cast<size_t>(p->position() + p->length());
      }
      pattern += literal(from, line.size());
      lines.push_back({line, entry.name, std::regex(pattern)});
    }
  }
  return lines;
}

TEST(OperatorGuideTest, CatalogueHoldsEveryPrintedLineAndNothingElse) {
  const std::string catalogue = Section(ReadFile(kGuide), kCatalogueHeading);
  ASSERT_FALSE(catalogue.empty()) << "no section \"" << kCatalogueHeading << "\" in " << kGuide;
  std::vector<std::string> entries = CodeSpans(catalogue, false);
  const std::vector<std::string> blockLines = CodeBlockLines(catalogue, false);
  entries.insert(entries.end(), blockLines.begin(), blockLines.end());

  const std::vector<PrintedLine> printed = PrintedLines();
  for (const PrintedLine& line : printed) {
    const bool found = std::any_of(entries.begin(), entries.end(), [&](const std::string& e) {
      return std::regex_search(e, line.pattern);
    });
    EXPECT_TRUE(found) << line.message << ": \"" << line.text
                       << "\" is printed but missing from the guide's message catalogue";
  }

  const std::vector<std::string> rows = CodeSpans(catalogue, true);
  ASSERT_GT(rows.size(), 50u) << "the catalogue's tables were not read";
  for (const std::string& row : rows) {
    if (!HoldsLetterOrDigit(row)) continue;
    const bool printedSomewhere =
        std::any_of(printed.begin(), printed.end(),
                    [&](const auto& line) { return std::regex_search(row, line.pattern); });
    EXPECT_TRUE(printedSomewhere) << "the catalogue's row \"" << row
                                  << "\" names no text that the utility prints";
  }
}

// What a console shows of `output`: each carriage return sends the cursor back to the start of
// its line, where the next text overwrites what is there.
std::vector<std::string> AsShown(const std::string& output) {
  std::vector<std::string> screen;
  for (const std::string& line : Split(output, "\n")) {
    std::string shown;
    for (const std::string& stroke : Split(line, "\r")) {
      shown.replace(0, std::min(shown.size(), stroke.size()), stroke);
    }
    screen.push_back(TrimRight(shown));
  }
  if (!screen.empty() && screen.back().empty()) screen.pop_back();  // after the last line feed
  return screen;
}

TEST(OperatorGuideTest, TranscriptIsWhatTheUtilityShows) {
  const std::string section = Section(ReadFile(kGuide), kTranscriptHeading);
  ASSERT_FALSE(section.empty()) << "no section \"" << kTranscriptHeading << "\" in " << kGuide;
  std::vector<std::string> transcript = CodeBlockLines(section, true);
  for (std::string& line : transcript) line = TrimRight(line);
  const std::string output = ReadFile(kTranscriptCase);
  ASSERT_FALSE(output.empty());
  EXPECT_EQ(transcript, AsShown(output));
}

}  // namespace
