// What the suite prints: a line per module with its points and how many recovered, the totals,
// and, when a point went wrong, a table of every such point.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tests/recovery/points.h"

namespace recovery {

struct ModuleResult {
  std::string name;
  CleanUpdate clean;
  std::vector<Point> points;
  std::vector<Verdict> verdicts;  // one per point
};

// Prints the report; true when every module's clean update worked and every point passed.
bool PrintReport(FILE* out, const std::vector<ModuleResult>& results, unsigned workers,
                 double seconds);

}  // namespace recovery
