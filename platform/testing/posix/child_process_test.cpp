// The child-process facility: exit statuses, signals, the time limit, a program that cannot start,
// the redirected streams and the environment the child sees.
#include "platform/testing/child_process.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>

#include "platform/testing/posix/test_endpoint.h"

namespace {

using End = qdev_test::ChildResult::End;

std::string Read(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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

// The child writes into the named files and sees the parent's environment with the given
// variables replaced.
TEST(ChildProcessTest, RedirectsStreamsAndSetsTheEnvironment) {
  qdev_test::TempDeviceDir dir;
  ASSERT_EQ(setenv("QDEV_CHILD_TEST", "parent", 1), 0);
  ASSERT_EQ(setenv("QDEV_CHILD_KEPT", "kept", 1), 0);
  qdev_test::ChildOptions options;
  options.argv = {"/bin/sh", "-c", "echo $QDEV_CHILD_TEST $QDEV_CHILD_KEPT; echo err >&2; cat"};
  options.environment = {"QDEV_CHILD_TEST=child"};
  options.stdoutPath = dir.path() + "/out";
  options.stderrPath = dir.path() + "/err";
  const qdev_test::ChildResult result = qdev_test::RunChild(options);
  unsetenv("QDEV_CHILD_TEST");
  unsetenv("QDEV_CHILD_KEPT");
  EXPECT_EQ(result.end, End::kExited);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(Read(options.stdoutPath), "child kept\n");  // cat read an empty standard input
  EXPECT_EQ(Read(options.stderrPath), "err\n");
}

}  // namespace
