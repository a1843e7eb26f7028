// Request ids: a bijective mix of a counter, so none repeats on one handle, and none follows from
// the one before (an endpoint that answers ahead of a request completes nothing).
#include "platform/posix/request_ids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// 2^18 ids: a mix that is no bijection would repeat one here almost surely (birthday bound).
TEST(RequestIdsTest, NoIdRepeatsOnOneHandle) {
  qdev_posix::RequestIds ids;
  std::vector<uint32_t> issued(1u << 18);
  for (uint32_t& id : issued) id = ids.Next();
  const auto firstIds = issued.begin() + 16;  // a counter's step would show at once
  EXPECT_EQ(std::adjacent_find(issued.begin(), firstIds,
                               [](uint32_t a, uint32_t b) { return b == a + 1; }),
            firstIds);
  std::sort(issued.begin(), issued.end());
  EXPECT_EQ(std::adjacent_find(issued.begin(), issued.end()), issued.end());
}

}  // namespace
