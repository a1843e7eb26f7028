// The table of requests in sim/README.md against the table of kinds in the code: the same kinds,
// each with the same code, direction, data lengths, mode and address.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "sim/request.h"
#include "sim/sim_test_images.h"

namespace {

// The cells of the table rows under the heading "## Requests".
std::vector<std::vector<std::string>> RequestTableRows(const std::string& readme) {
  std::vector<std::vector<std::string>> rows;
  const size_t heading = readme.find("\n## Requests\n");
  if (heading == std::string::npos) return rows;
  std::istringstream in(readme.substr(heading + 1));
  std::string line;
  std::getline(in, line);  // the heading
  while (std::getline(in, line) && line.rfind("## ", 0) != 0) {
    if (line.rfind("| ", 0) != 0) continue;
    std::vector<std::string> cells;
    std::istringstream cellsIn(line.substr(2));
    std::string cell;
    while (std::getline(cellsIn, cell, '|')) {
      if (!cell.empty() && cell.front() == ' ') cell.erase(0, 1);
      if (!cell.empty() && cell.back() == ' ') cell.pop_back();
      cells.push_back(cell);
    }
    rows.push_back(cells);
  }
  if (!rows.empty()) rows.erase(rows.begin());  // the heading row
  return rows;
}

// How the README writes each property of a kind.
std::vector<std::string> Cells(const sim::RequestKind& kind) {
  char code[8];
  std::snprintf(code, sizeof code, "0x%02X", kind.code);
  const bool info = kind.code == sim::kDeviceInfoRequest;
  std::string length = std::to_string(kind.minLength);
  if (kind.maxLength == UINT32_MAX) {
    length += " or more";
  } else if (kind.maxLength != kind.minLength) {
    length += ".." + std::to_string(kind.maxLength);
  }
  const char* address = "none";
  if (kind.address == sim::AddressForm::kIndexValue) address = "`Index:Value`";
  if (kind.address == sim::AddressForm::kMcuFlashValue) address = "0x8300`Value`";
  return {info ? "`IOCTL_GET_DEVICE_INFO`" : code,
          "`" + std::string(kind.name) + "`",
          info ? "no header" : std::to_string(kind.direction),
          length,
          kind.whileApplicationRuns ? "answered" : "refused",
          address};
}

TEST(SimulatorReadme, TableOfRequestsIsTheCodes) {
  const std::string readme = sim_test::ReadFile(R4690_SIM_README);
  ASSERT_FALSE(readme.empty()) << R4690_SIM_README;
  const auto rows = RequestTableRows(readme);
  const std::vector<sim::RequestKind>& kinds = sim::RequestKinds();
  ASSERT_EQ(rows.size(), kinds.size());
  for (size_t i = 0; i < kinds.size(); ++i) {
    SCOPED_TRACE(kinds[i].name);
    ASSERT_EQ(rows[i].size(), 7u);
    EXPECT_EQ(std::vector<std::string>(rows[i].begin() + 1, rows[i].end()), Cells(kinds[i]));
  }
}

}  // namespace
