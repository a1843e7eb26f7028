// The wait for Enter: it ends at the first line feed or at the end of input (a console that
// gives no more input must never keep the program alive), and it reads nothing beyond.
#include "updater/window_pause.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

namespace {

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
    std::rewind(out);
    char prompt[64] = {};
    EXPECT_EQ(std::string(prompt, std::fread(prompt, 1, sizeof prompt - 1, out)),
              "\n Press Enter to close this window.\n");
    std::fclose(in);
    std::fclose(out);
  }
}

}  // namespace
