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

ChildResult RunChild(const ChildOptions& options) {
  using End = ChildResult::End;
  if (options.argv.empty()) return {End::kNotStarted, EINVAL, 0};
  // The parent's environment with every variable of options.environment replaced by its value.
  std::vector<std::string> args = options.argv, env = options.environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable = *entry, name = variable.substr(0, variable.find('=') + 1);
    if (std::none_of(env.begin(), env.begin() + options.environment.size(),
                     [&](const std::string& o) { return o.compare(0, name.size(), name) == 0; })) {
      env.push_back(variable);
    }
  }
  std::vector<char*> argv, envp;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  for (std::string& variable : env) envp.push_back(&variable[0]);
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, options.stdoutPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, options.stderrPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::milliseconds(options.timeLimitMs);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return {End::kNotStarted, spawned, 0};

  // A child past its time is killed, and reaped in a later round.
  bool killed = false;
  int status = 0;
  for (pid_t ended; (ended = waitpid(pid, &status, WNOHANG)) != pid;) {
    if (ended < 0 && errno != EINTR) return {End::kNotStarted, errno, 0};  // reaped elsewhere
    if (!killed && std::chrono::steady_clock::now() >= deadline) killed = kill(pid, SIGKILL) == 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const auto elapsedMs =
      static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count());
  if (killed) return {End::kTimedOut, 0, elapsedMs};
  if (WIFSIGNALED(status)) return {End::kSignalled, WTERMSIG(status), elapsedMs};
  return {End::kExited, WEXITSTATUS(status), elapsedMs};
}

}  // namespace qdev_test
