// For a program that keeps its state in a folder (the module simulator's state folder): a lock on
// the folder that keeps every other holder out, in this process or another, for as long as the
// object holds it. The system drops it when the process ends, however it ends, so a crash never
// leaves a stale lock behind. Without Windows it is an advisory lock (flock) on the folder itself,
// which leaves no file; on Windows it is the file ".lock" in the folder, held open without
// sharing and deleted when it closes.
#pragma once

#include <cstdint>
#include <string>

namespace qdev {

class FolderLock {
 public:
  enum class Result {
    kLocked,
    kInUse,   // another holder has it
    kFailed,  // the folder cannot be locked; *error says why
  };

  FolderLock() = default;
  ~FolderLock() { Unlock(); }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Locks an existing folder; a lock this object held before is let go first.
  Result Lock(const std::string& dir, std::string* error);
  void Unlock();

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t held_ = kNone;  // the folder's file descriptor; on Windows the lock file's handle
};

}  // namespace qdev
