// qdev::FolderLock (platform/folder_lock.h): the file ".lock" in the folder, opened without
// sharing and deleted when its handle closes; the system closes it when the process ends.
#include "platform/folder_lock.h"

#include "platform/win32.h"

namespace qdev {

FolderLock::Result FolderLock::Lock(const std::string& dir, std::string* error) {
  Unlock();
  const std::string path = dir + "\\.lock";
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_SHARING_VIOLATION) return Result::kInUse;
    *error = "cannot lock the folder " + dir + " (error " + std::to_string(code) + ")";
    return Result::kFailed;
  }
  held_ = reinterpret_cast<intptr_t>(file);
  return Result::kLocked;
}

void FolderLock::Unlock() {
  if (held_ == kNone) return;
  CloseHandle(reinterpret_cast<HANDLE>(held_));
  held_ = kNone;
}

}  // namespace qdev
