// Test facility (systems without Windows): runs a program as a child process with a hard time
// limit and its standard output and error in files, so that a test can drive a real executable
// and never hang on it. Nothing in a shipped program calls this.
#pragma once

#ifndef _WIN32

#include <cstdint>
#include <string>
#include <vector>

namespace qdev_test {

struct ChildOptions {
  std::vector<std::string> argv;         // argv[0] is the program's path
  std::vector<std::string> environment;  // "NAME=value", set over the parent's environment
  std::string stdoutPath;                // created or truncated; standard input is /dev/null
  std::string stderrPath;
  uint32_t timeLimitMs = 60000;  // a child that runs longer is killed
};

struct ChildResult {
  enum class End {
    kExited,      // status holds the exit status, 0..255
    kSignalled,   // status holds the signal that ended it
    kTimedOut,    // killed at the time limit
    kNotStarted,  // status holds the errno value of the failed start (or wait)
  };
  End end = End::kNotStarted;
  int status = 0;
  uint32_t elapsedMs = 0;  // from the start to the end, real time
};

// Starts the child and waits for its end. Thread-safe: each call waits for its own child only.
ChildResult RunChild(const ChildOptions& options);

}  // namespace qdev_test

#endif  // !_WIN32
