// The operator guide (docs/operator-guide.md) against the program, so that it can never miss a
// message or show a run that the program does not produce.
//
// The message catalogue is the guide's section "Every message, and what to do". Every string
// literal in the utility's sources (updater/*.cpp and *.h, tests excluded) is taken for a text
// that the utility prints, unless it is one of the few exemptions below. Each line of such a
// text (split at line feeds and carriage returns) that holds a letter or a digit must appear in
// a code span or a code block of the catalogue; lines of only dots, dashes and blanks (the
// spinner, the summary's rules) are left out. A text printed in parts (" OpenQDevice(", the
// slot, ") --> OK\n") is checked part by part, so the catalogue writes it whole with a
// placeholder (" OpenQDevice(<n>) --> OK"). In the other direction, every row of a catalogue
// table whose message holds a letter or a digit must contain one of those printed lines, so that
// a message the program no longer prints cannot stay in the guide.
//
// The transcript under "A successful run" must be what a console shows for the end-to-end case
// both_images_then_nothing: its expected output with each carriage return drawn over its line,
// trailing blanks ignored.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/guide/string_literals.h"

namespace {

namespace fs = std::filesystem;

constexpr char kGuide[] = R4690_SOURCE_DIR "/docs/operator-guide.md";
constexpr char kUtilitySources[] = R4690_SOURCE_DIR "/updater";
constexpr char kTranscriptCase[] =
    R4690_SOURCE_DIR "/tests/e2e/cases/both_images_then_nothing/expected.stdout";
constexpr char kCatalogueHeading[] = "## Every message, and what to do";
constexpr char kTranscriptHeading[] = "## A successful run";

// Literals of the utility that are never printed.
const std::set<std::string> kNotPrinted = {
    "%s%6llu%s",                  // the format of the allocation failure
    "67 dashes and a line feed",  // a static_assert's message
    "--help",                     // the words of the command line
    "-h",
    "--version",
};

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> Split(const std::string& text, const std::string& separators) {
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

// The contents of the code spans of the section's lines outside code blocks.
std::vector<std::string> CodeSpans(const std::string& section) {
  std::vector<std::string> spans;
  bool inside = false;
  for (const std::string& line : Split(section, "\n")) {
    if (line.rfind("```", 0) == 0) inside = !inside;
    if (inside || line.rfind("```", 0) == 0) continue;
    const std::vector<std::string> parts = Split(line, "`");
    for (size_t i = 1; i + 1 < parts.size(); i += 2) spans.push_back(parts[i]);
  }
  return spans;
}

// The first cell's code span of each table row of the section.
std::vector<std::string> RowMessages(const std::string& section) {
  std::vector<std::string> messages;
  for (const std::string& line : Split(section, "\n")) {
    if (line.rfind("| `", 0) != 0) continue;
    const size_t end = line.find('`', 3);
    if (end != std::string::npos) messages.push_back(line.substr(3, end - 3));
  }
  return messages;
}

struct PrintedLine {
  std::string text;
  std::string where;  // file:line of its literal
};

// Every line of every printed literal of the utility's sources, and which exemptions were used.
std::vector<PrintedLine> PrintedLines(std::set<std::string>* exemptionsSeen) {
  std::vector<PrintedLine> lines;
  for (const fs::directory_entry& entry : fs::directory_iterator(kUtilitySources)) {
    const std::string name = entry.path().filename().string();
    const std::string ext = entry.path().extension().string();
    if ((ext != ".cpp" && ext != ".h") || name.find("_test.") != std::string::npos) continue;
    std::vector<guide_check::StringLiteral> literals;
    std::string error;
    EXPECT_TRUE(guide_check::ReadStringLiterals(ReadFile(entry.path().string()), &literals, &error))
        << name << ": " << error;
    for (const guide_check::StringLiteral& literal : literals) {
      if (kNotPrinted.count(literal.text) != 0) {
        exemptionsSeen->insert(literal.text);
        continue;
      }
      for (const std::string& part : Split(literal.text, "\n\r")) {
        if (HoldsLetterOrDigit(part)) {
          lines.push_back({part, name + ":" + std::to_string(literal.line)});
        }
      }
    }
  }
  return lines;
}

TEST(OperatorGuideTest, CatalogueHoldsEveryPrintedLineAndNothingElse) {
  const std::string catalogue = Section(ReadFile(kGuide), kCatalogueHeading);
  ASSERT_FALSE(catalogue.empty()) << "no section \"" << kCatalogueHeading << "\" in " << kGuide;
  std::vector<std::string> entries = CodeSpans(catalogue);
  const std::vector<std::string> blockLines = CodeBlockLines(catalogue, false);
  entries.insert(entries.end(), blockLines.begin(), blockLines.end());

  std::set<std::string> exemptionsSeen;
  const std::vector<PrintedLine> printed = PrintedLines(&exemptionsSeen);
  ASSERT_GT(printed.size(), 50u) << "the utility's sources were not read";
  for (const PrintedLine& line : printed) {
    const bool found = std::any_of(entries.begin(), entries.end(), [&](const std::string& e) {
      return e.find(line.text) != std::string::npos;
    });
    EXPECT_TRUE(found) << line.where << ": \"" << line.text
                       << "\" is printed but missing from the guide's message catalogue";
  }
  for (const std::string& exemption : kNotPrinted) {
    EXPECT_EQ(exemptionsSeen.count(exemption), 1u)
        << "the exemption \"" << exemption << "\" is no longer in the utility's sources";
  }

  const std::vector<std::string> rows = RowMessages(catalogue);
  ASSERT_GT(rows.size(), 50u) << "the catalogue's tables were not read";
  for (const std::string& row : rows) {
    if (!HoldsLetterOrDigit(row)) continue;
    const bool printedSomewhere = std::any_of(
        printed.begin(), printed.end(),
        [&](const PrintedLine& line) { return row.find(line.text) != std::string::npos; });
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

// The reader of string literals, on what the utility's sources hold and on the traps around it.
TEST(OperatorGuideTest, StringLiteralReaderFindsWhatTheCompilerSees) {
  struct Row {
    const char* source;
    std::vector<std::string> literals;  // empty and `fails`: the reader must refuse
    bool fails;
  };
  const Row rows[] = {
      {"Print(\" A --> OK\\n\");", {" A --> OK\n"}, false},
      {"// \"comment\"\n/* \"block\n\" */ x = \"real\";", {"real"}, false},
      {"#include \"updater/console.h\"\n#define X \"macro\"", {"macro"}, false},
      {"f(\"one \"\n   // between\n   \"two\");", {"one two"}, false},
      {"c = '\"'; d = '\\''; n = 1'000; s = \"after\";", {"after"}, false},
      {"\"\\r\\t\\\\\\\"\\?\\0\\101\"", {std::string("\r\t\\\"?\0A", 7)}, false},
      {"a(\"x\"); b(\"y\");", {"x", "y"}, false},
      {"R\"(raw)\"", {}, true},
      {"u8\"prefixed\"", {}, true},
      {"\"\\x41\"", {}, true},
      {"\"unterminated\n\"", {}, true},
  };
  for (const Row& row : rows) {
    std::vector<guide_check::StringLiteral> literals;
    std::string error;
    const bool ok = guide_check::ReadStringLiterals(row.source, &literals, &error);
    EXPECT_EQ(ok, !row.fails) << row.source << ": " << error;
    if (!ok) continue;
    std::vector<std::string> texts;
    for (const auto& literal : literals) texts.push_back(literal.text);
    EXPECT_EQ(texts, row.literals) << row.source;
  }
}

}  // namespace
