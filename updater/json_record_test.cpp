// The log's time stamps across leap days and the turn of a century that is no leap year, and the
// escaping that keeps a record ASCII and whole whatever bytes a module reports.
#include "updater/json_record.h"

#include <gtest/gtest.h>

namespace {

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
