// The table of requests in sim/README.md against the table of kinds in the code: the same kinds,
// each with the same code, direction, data lengths, mode and address.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "sim/request.h"
#include "sim/testing/test_helpers.h"

namespace {

// A kind's row of the README's table, but for its first column (the request's name in words).
std::string RowEnd(const sim::RequestKind& kind) {
  const bool info = kind.code == sim::kDeviceInfoRequest;
  char code[8];
  std::snprintf(code, sizeof code, "0x%02X", kind.code);
  std::string length = std::to_string(kind.minLength);
  if (kind.maxLength == UINT32_MAX) {
    length += " or more";
  } else if (kind.maxLength != kind.minLength) {
    length += ".." + std::to_string(kind.maxLength);
  }
  const char* address = "none";
  if (kind.address == sim::AddressForm::kIndexValue) address = "`Index:Value`";
  if (kind.address == sim::AddressForm::kMcuFlashValue) address = "0x8300`Value`";
  return " | " + std::string(info ? "`IOCTL_GET_DEVICE_INFO`" : code) + " | `" + kind.name +
         "` | " + (info ? "no header" : std::to_string(kind.direction)) + " | " + length + " | " +
         (kind.whileApplicationRuns ? "answered" : "refused") + " | " + address + " |\n";
}

// The README's section on requests has a row for each kind and no other.
TEST(SimulatorReadme, TableOfRequestsIsTheCodes) {
  const std::string readme = sim_test::ReadFile(R4690_SIM_README);
  const size_t start = readme.find("\n## Requests\n");
  ASSERT_NE(start, std::string::npos) << R4690_SIM_README;
  const std::string section = readme.substr(start, readme.find("\n## ", start + 1) - start);
  size_t rows = 0;
  for (size_t at = section.find("\n| "); at != std::string::npos;
       at = section.find("\n| ", at + 1)) {
    ++rows;
  }
  EXPECT_EQ(rows, sim::RequestKinds().size() + 1);  // and the heading
  for (const sim::RequestKind& kind : sim::RequestKinds()) {
    EXPECT_NE(section.find(RowEnd(kind)), std::string::npos) << "no row ending" << RowEnd(kind);
  }
}

}  // namespace
