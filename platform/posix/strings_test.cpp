// wsprintfA's formats and its 1024-byte bound; LoadStringA's empty result.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

TEST(WsprintfTest, FormatsTheWayTheSystemUsesIt) {
  struct Case {
    std::string expected;
    int length;
    std::string actual;
  };
  char buffer[1024];
  std::vector<Case> cases;
  auto add = [&](const char* expected, int length) { cases.push_back({expected, length, buffer}); };
  add("\\\\.\\QDevUsb7", wsprintfA(buffer, "\\\\.\\QDevUsb%d", 7));
  add("\\\\.\\QDev126", wsprintfA(buffer, "\\\\.\\QDev%d", 126));
  add("65535 x", wsprintfA(buffer, "%u %s", 65535u, "x"));
  add("00C0FFEE", wsprintfA(buffer, "%08X", 0xC0FFEEu));
  add("[-12]", wsprintfA(buffer, "[%d]", -12));
  add("", wsprintfA(buffer, "%s", ""));
  for (const Case& c : cases) {
    EXPECT_EQ(c.actual, c.expected);
    EXPECT_EQ(c.length, static_cast<int>(c.expected.size())) << c.expected;
  }
}

TEST(WsprintfTest, StopsAt1024BytesWithItsZero) {
  std::vector<char> buffer(2048, 'z');
  std::string longText(1500, 'a');
  EXPECT_EQ(wsprintfA(buffer.data(), "%s", longText.c_str()), 1023);
  EXPECT_EQ(std::string(buffer.data()), std::string(1023, 'a'));
  EXPECT_EQ(buffer[1024], 'z');  // nothing beyond the bound is touched
}

TEST(LoadStringTest, FindsNoStringAndLeavesAnEmptyOne) {
  char buffer[16] = "unchanged";
  EXPECT_EQ(LoadStringA(nullptr, 101, buffer, sizeof buffer), 0);
  EXPECT_EQ(buffer[0], '\0');
  char untouched[4] = "abc";
  EXPECT_EQ(LoadStringA(nullptr, 101, untouched, 0), 0);
  EXPECT_EQ(std::string(untouched), "abc");
  EXPECT_EQ(LoadStringA(nullptr, 101, nullptr, 10), 0);
}

}  // namespace
