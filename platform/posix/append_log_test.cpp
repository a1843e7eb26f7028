// The append-only log: a line goes on after whatever whole lines the file holds, and a tail that a
// power cut left without its line feed goes first.
#include "platform/append_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/testing/posix/test_endpoint.h"

namespace {

TEST(AppendLogTest, OneLineGoesAfterTheWholeLinesAloneAndAFolderIsRefused) {
  qdev_test::TempDeviceDir folder;
  const std::string path = folder.path() + "/record.jsonl";
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
    std::filesystem::remove(path);
    if (c.before != "-") std::ofstream(path, std::ios::binary) << c.before;
    std::string error;
    auto log = append_log::AppendLog::Open(path, &error);
    ASSERT_NE(log, nullptr) << error;
    ASSERT_TRUE(log->Append("new\n", &error)) << error;
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    EXPECT_EQ(text.str(), c.after) << c.before.substr(0, 20);
  }
  // A folder is refused.
  std::string error;
  EXPECT_EQ(append_log::AppendLog::Open(folder.path(), &error), nullptr);
  EXPECT_EQ(error, append_log::kNotAFile);
}

}  // namespace
