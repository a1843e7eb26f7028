// The append-only log: a line goes on after whatever whole lines the file holds, and a tail that a
// power cut left without its line feed goes first.
#include "platform/append_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/testing/posix/test_endpoint.h"

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class AppendLogTest : public testing::Test {
 protected:
  std::string Path() const { return folder_.path() + "/record.jsonl"; }
  qdev_test::TempDeviceDir folder_;
};

TEST_F(AppendLogTest, OneLineGoesAfterTheWholeLinesAlone) {
  const std::string longCut(5000, 'x');  // longer than one block of the search for a line feed
  const struct {
    std::string before;  // "-": no file at all
    std::string after;
  } cases[] = {{"-", "new\n"},
               {"", "new\n"},
               {"a\n", "a\nnew\n"},
               {"a\nb\n{\"cut", "a\nb\nnew\n"},
               {"no line feed", "new\n"},
               {"a\n" + longCut, "a\nnew\n"},
               {longCut + "\n" + longCut, longCut + "\nnew\n"}};
  for (const auto& c : cases) {
    std::filesystem::remove(Path());
    if (c.before != "-") std::ofstream(Path(), std::ios::binary) << c.before;
    std::string error;
    auto log = append_log::AppendLog::Open(Path(), &error);
    ASSERT_NE(log, nullptr) << error;
    ASSERT_TRUE(log->Append("new\n", &error)) << error;
    EXPECT_EQ(Read(Path()), c.after) << c.before.substr(0, 20);
  }
}

TEST_F(AppendLogTest, AFolderIsRefused) {
  std::string error;
  EXPECT_EQ(append_log::AppendLog::Open(folder_.path(), &error), nullptr);
  EXPECT_EQ(error, append_log::kNotAFile);
}

}  // namespace
