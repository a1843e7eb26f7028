// The wait for Enter: it ends at the first line feed or at the end of input (a console that
// gives no more input must never keep the program alive), and it reads nothing beyond.
#include "updater/window_pause.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

TEST(WindowPauseTest, EndsAtTheFirstLineFeedOrTheEndOfInput) {
  struct Row {
    std::string input;
    int nextCharacter;  // what the input still holds after the wait
  };
  const Row rows[] = {
      {"\n", EOF},
      {"typed text\nmore", 'm'},
      {"", EOF},
      {"no line feed", EOF},
  };
  for (const Row& row : rows) {
    FILE* in = std::tmpfile();
    FILE* out = std::tmpfile();
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    std::fputs(row.input.c_str(), in);
    std::rewind(in);
    updater::WaitForEnter(in, out);
    EXPECT_EQ(std::fgetc(in), row.nextCharacter) << "input: " << row.input;
    std::rewind(out);
    char prompt[64] = {};
    const size_t n = std::fread(prompt, 1, sizeof prompt - 1, out);
    EXPECT_EQ(std::string(prompt, n), "\n Press Enter to close this window.\n");
    std::fclose(in);
    std::fclose(out);
  }
}

}  // namespace
