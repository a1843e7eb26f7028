// The child-process test facility on POSIX: posix_spawn, with the child's standard streams
// redirected by the spawn itself, and a poll of waitpid until the child ends or its time is up.
#include "platform/testing/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace qdev_test {

namespace {

// The parent's environment with every variable of `overrides` replaced by its new value.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& overrides) {
  std::vector<std::string> result = overrides;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable = *entry, name = variable.substr(0, variable.find('=') + 1);
    if (std::none_of(overrides.begin(), overrides.end(),
                     [&](const std::string& o) { return o.compare(0, name.size(), name) == 0; })) {
      result.push_back(variable);
    }
  }
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(&text[0]);
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildResult RunChild(const ChildOptions& options) {
  ChildResult result;
  if (options.argv.empty()) {
    result.status = EINVAL;
    return result;
  }
  std::vector<std::string> args = options.argv;
  std::vector<std::string> env = ChildEnvironment(options.environment);
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, options.stdoutPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, options.stderrPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    result.status = spawned;
    return result;
  }

  const auto deadline = start + std::chrono::milliseconds(options.timeLimitMs);
  int status = 0;
  for (;;) {
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid) break;
    if (ended < 0 && errno != EINTR) {
      result.status = errno;  // lost (reaped elsewhere): nothing to report
      return result;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      result.end = ChildResult::End::kTimedOut;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  result.elapsedMs = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count());
  if (result.end == ChildResult::End::kTimedOut) return result;
  if (WIFEXITED(status)) {
    result.end = ChildResult::End::kExited;
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.end = ChildResult::End::kSignalled;
    result.status = WTERMSIG(status);
  }
  return result;
}

}  // namespace qdev_test
