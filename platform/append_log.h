// A log that whole lines are appended to and that survives the computer losing power: each line is
// written in one write under a lock on the file, so that two programs appending at once never
// interleave, and is on the disk before Append returns. A tail that an earlier power cut left
// without its line feed is cut back to the last line feed before the next line goes on, so a
// reader only ever finds whole lines once a later append has passed. Windows implements it with
// LockFileEx, one WriteFile at the end of the file and FlushFileBuffers (win32/append_log.cpp),
// other systems with flock, O_APPEND and fsync (posix/append_log.cpp). Target
// platform_append_log.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace append_log {

constexpr char kNoFolder[] = "its folder does not exist";
constexpr char kDenied[] = "access is denied";
constexpr char kNotAFile[] = "it is not a file";

class AppendLog {
 public:
  // Opens `path` for appending, creating it (and making its name durable) when it is missing.
  // Null when it cannot be opened; *error then says why, in the same words on every system:
  // kNoFolder, kDenied, kNotAFile, or the system's own text for anything else.
  static std::unique_ptr<AppendLog> Open(const std::string& path, std::string* error);
  ~AppendLog();
  AppendLog(const AppendLog&) = delete;
  AppendLog& operator=(const AppendLog&) = delete;

  // Appends `line`, which ends in one line feed and holds no other, whole or not at all, and
  // flushes it to the disk. Safe from several threads; false with *error when it failed.
  bool Append(std::string_view line, std::string* error);

 private:
  struct File;  // the open file, one per system
  explicit AppendLog(std::unique_ptr<File> file);

  std::mutex mu_;  // the file lock excludes other programs; this, the program's other threads
  std::unique_ptr<File> file_;
};

}  // namespace append_log
