// The state folder's judgement of what its files hold: both or neither, each exactly the size of
// its memory, and an error that names the file at fault.
#include "sim/state_store.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using sim::StateStore;

std::optional<std::vector<uint8_t>> Bytes(size_t n) {
  return std::vector<uint8_t>(n, 0x5A);
}

struct LoadCase {
  const char* name;
  std::optional<std::vector<uint8_t>> mcu;
  std::optional<std::vector<uint8_t>> boot;
  StateStore::LoadResult result;
  std::string error;  // expected exactly; empty when none
};

void PrintTo(const LoadCase& c, std::ostream* os) {
  *os << c.name;
}

const LoadCase kLoads[] = {
    {"NeitherFile", std::nullopt, std::nullopt, StateStore::LoadResult::kAbsent, ""},
    {"BothWhole", Bytes(sim::kMcuFlashSize), Bytes(sim::kBootFlashSize),
     StateStore::LoadResult::kLoaded, ""},
    {"McuFileMissing", std::nullopt, Bytes(sim::kBootFlashSize), StateStore::LoadResult::kDamaged,
     "state file m.bin is missing"},
    {"BootFileMissing", Bytes(sim::kMcuFlashSize), std::nullopt, StateStore::LoadResult::kDamaged,
     "state file b.bin is missing"},
    {"McuFileShort", Bytes(5), Bytes(sim::kBootFlashSize), StateStore::LoadResult::kDamaged,
     "state file m.bin has 5 bytes, not 16384"},
    {"BootFileLong", Bytes(sim::kMcuFlashSize), Bytes(sim::kBootFlashSize + 1),
     StateStore::LoadResult::kDamaged, "state file b.bin has more than 262144 bytes"},
    {"EmptyFiles", Bytes(0), Bytes(0), StateStore::LoadResult::kDamaged,
     "state file m.bin has 0 bytes, not 16384"},
};

class StateStoreLoadTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(StateStoreLoadTest, JudgesTheFilesBytes) {
  const LoadCase& c = GetParam();
  std::vector<uint8_t> mcu, boot;
  std::string error;
  EXPECT_EQ(StateStore::LoadMemories({"m.bin", c.mcu}, {"b.bin", c.boot}, &mcu, &boot, &error),
            c.result);
  EXPECT_EQ(error, c.error);
  if (c.result == StateStore::LoadResult::kLoaded) {
    EXPECT_EQ(mcu, *c.mcu);
    EXPECT_EQ(boot, *c.boot);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, StateStoreLoadTest, ::testing::ValuesIn(kLoads),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
