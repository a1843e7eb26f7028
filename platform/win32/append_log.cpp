// The append-only log on Windows: LockFileEx around the repair of a cut tail and the write, so
// that two programs never interleave; the write at the end of the file in one WriteFile; and
// FlushFileBuffers before Append returns.
#include "platform/append_log.h"

#include <cstdio>

#include "platform/win32.h"

namespace append_log {

struct AppendLog::File {
  HANDLE handle = INVALID_HANDLE_VALUE;
  ~File() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

namespace {

// A few words for a Windows error value, from the system's message table.
std::string ErrorText(DWORD error) {
  switch (error) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
      return kNoFolder;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return kDenied;
    default:
      break;
  }
  char text[256] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.')) --n;
  if (n == 0) return "error " + std::to_string(error);
  return std::string(text, n);
}

// The whole file, locked for the life of this object.
class FileLock {
 public:
  explicit FileLock(HANDLE handle) : handle_(handle) {
    OVERLAPPED from{};
    locked_ = LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &from) != FALSE;
  }
  ~FileLock() {
    OVERLAPPED from{};
    if (locked_) UnlockFileEx(handle_, 0, MAXDWORD, MAXDWORD, &from);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool locked() const { return locked_; }

 private:
  HANDLE handle_;
  bool locked_;
};

bool Truncate(HANDLE handle, LONGLONG size) {
  LARGE_INTEGER at;
  at.QuadPart = size;
  return SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
}

// Cuts a tail without its line feed back to the last line feed (to nothing when there is none);
// *size is the file's size afterwards.
bool CutUnfinishedTail(HANDLE handle, LONGLONG* size) {
  LARGE_INTEGER length;
  if (!GetFileSizeEx(handle, &length)) return false;
  *size = length.QuadPart;
  LONGLONG end = length.QuadPart;
  char block[4096];
  while (end > 0) {
    const LONGLONG start = end > LONGLONG{sizeof block} ? end - LONGLONG{sizeof block} : 0;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(start);
    at.OffsetHigh = static_cast<DWORD>(start >> 32);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(end - start);
    if (!ReadFile(handle, block, want, &got, &at) || got != want) return false;
    for (DWORD i = got; i > 0; --i) {
      if (block[i - 1] != '\n') continue;
      *size = start + i;
      return *size == length.QuadPart || Truncate(handle, *size);
    }
    end = start;
  }
  *size = 0;
  return length.QuadPart == 0 || Truncate(handle, 0);
}

}  // namespace

AppendLog::AppendLog(std::unique_ptr<File> file) : file_(std::move(file)) {}
AppendLog::~AppendLog() = default;

std::unique_ptr<AppendLog> AppendLog::Open(const std::string& path, std::string* error) {
  auto file = std::make_unique<File>();
  // Read and write: the repair of a cut tail reads it and truncates the file. Others may read
  // and append meanwhile; the lock keeps their appends apart from ours.
  file->handle =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file->handle == INVALID_HANDLE_VALUE) {
    *error = ErrorText(GetLastError());
    return nullptr;
  }
  if (GetFileType(file->handle) != FILE_TYPE_DISK) {
    *error = kNotAFile;
    return nullptr;
  }
  return std::unique_ptr<AppendLog>(new AppendLog(std::move(file)));
}

bool AppendLog::Append(std::string_view line, std::string* error) {
  std::lock_guard<std::mutex> inProcess(mu_);
  const HANDLE handle = file_->handle;
  FileLock lock(handle);
  LONGLONG size = 0;
  if (!lock.locked() || !CutUnfinishedTail(handle, &size)) {
    *error = ErrorText(GetLastError());
    return false;
  }
  OVERLAPPED atEnd{};
  atEnd.Offset = static_cast<DWORD>(size);
  atEnd.OffsetHigh = static_cast<DWORD>(size >> 32);
  DWORD written = 0;
  if (!WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, &atEnd) ||
      written != line.size()) {
    *error = ErrorText(GetLastError());
    // Whatever part of the line reached the file goes again (or with the next append).
    if (Truncate(handle, size)) FlushFileBuffers(handle);
    return false;
  }
  if (!FlushFileBuffers(handle)) {
    *error = ErrorText(GetLastError());
    return false;
  }
  return true;
}

}  // namespace append_log
