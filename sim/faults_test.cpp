// Fault selection: filters, the n-th count of each fault, and which fault decides.
#include "sim/faults.h"

#include <gtest/gtest.h>

namespace {

using sim::Fault;
using sim::RequestKey;

RequestKey Key(uint32_t request, uint32_t address = 0, uint32_t size = 0, bool hasAddress = true) {
  return RequestKey{request, hasAddress, address, size};
}

TEST(Faults, TouchesLooksAtTheDataRange) {
  struct Row {
    RequestKey key;
    uint32_t target;
    bool touches;
  };
  const Row rows[] = {
      {Key(0x0E, 0x90000000, 4096), 0x90000000, true},
      {Key(0x0E, 0x90000000, 4096), 0x90000FFF, true},
      {Key(0x0E, 0x90000000, 4096), 0x90001000, false},
      {Key(0x0E, 0x90000010, 16), 0x9000000F, false},
      {Key(0x0F, 0x83003C00, 0), 0x83003C00, true},
      {Key(0x0F, 0x83003C00, 0), 0x83003C01, false},
      {Key(0x0C, 0, 0, false), 0, false},
      {Key(0x0E, 0xFFFFFFF0, 16), 0xFFFFFFFF, true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(sim::Touches(row.key, row.target), row.touches)
        << std::hex << row.key.address << "+" << row.key.size << " vs " << row.target;
  }
}

TEST(Faults, EachFaultCountsItsOwnMatchesAndTheFirstFiringDecides) {
  Fault thirdRead;  // counts reads only
  thirdRead.request = 0x0E;
  thirdRead.nth = 3;
  Fault secondOverall;
  secondOverall.action = sim::FaultAction::kNoAnswer;
  secondOverall.nth = 2;
  Fault everyVerify;
  everyVerify.action = sim::FaultAction::kShort;
  everyVerify.request = 0x07;
  sim::FaultPlan plan;
  plan.Set({thirdRead, secondOverall, everyVerify});

  const Fault inPlan[] = {thirdRead, secondOverall, everyVerify};
  // request code, and the index of the fault that fires (-1: none)
  const std::vector<std::pair<uint32_t, int>> steps = {
      {0x0E, -1},  // read 1, request 1
      {0x0E, 1},   // read 2, request 2: the second fault
      {0x07, 2},   // request 3: only the verify fault
      {0x0E, 0},   // read 3
      {0x0E, -1},  // read 4: nth fires once
      {0x07, 2},
  };
  for (size_t i = 0; i < steps.size(); ++i) {
    const Fault* fired = plan.Select(Key(steps[i].first, 0x90000000, 1));
    if (steps[i].second < 0) {
      EXPECT_EQ(fired, nullptr) << "step " << i;
    } else {
      ASSERT_NE(fired, nullptr) << "step " << i;
      const Fault& expected = inPlan[steps[i].second];
      EXPECT_EQ(fired->action, expected.action) << "step " << i;
      EXPECT_EQ(fired->request, expected.request) << "step " << i;
      EXPECT_EQ(fired->nth, expected.nth) << "step " << i;
    }
  }
  plan.ResetCounters();
  EXPECT_EQ(plan.Select(Key(0x0E)), nullptr);
  EXPECT_NE(plan.Select(Key(0x0E)), nullptr);  // the second request overall, again
}

}  // namespace
