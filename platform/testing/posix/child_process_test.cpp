// The child-process facility: how a child ended (exit status, signal, the time limit, a program
// that cannot start). The redirected streams and the environment are the recovery suite's, whose
// runs of the utility read both.
#include "platform/testing/child_process.h"

#include <gtest/gtest.h>

#include "platform/testing/posix/test_endpoint.h"

namespace {

using End = qdev_test::ChildResult::End;

TEST(ChildProcessTest, ReportsHowEachChildEnded) {
  const struct {
    std::vector<std::string> argv;
    uint32_t limitMs;
    End end;
    int status;
  } cases[] = {
      {{"/bin/sh", "-c", "exit 3"}, 10000, End::kExited, 3},
      {{"/bin/sh", "-c", "kill -TERM $$"}, 10000, End::kSignalled, 15},
      {{"/bin/sleep", "10"}, 100, End::kTimedOut, 0},
      {{"/nonexistent/program"}, 10000, End::kNotStarted, ENOENT},
  };
  qdev_test::TempDeviceDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argv.back());
    qdev_test::ChildOptions options;
    options.argv = c.argv;
    options.stdoutPath = dir.path() + "/out";
    options.stderrPath = dir.path() + "/err";
    options.timeLimitMs = c.limitMs;
    const qdev_test::ChildResult result = qdev_test::RunChild(options);
    EXPECT_EQ(result.end, c.end);
    EXPECT_EQ(result.status, c.status);
    EXPECT_LT(result.elapsedMs, 5000u);
  }
}

}  // namespace
