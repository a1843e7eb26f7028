// String functions: wsprintfA, bounded as on Windows, and LoadStringA over the string table of
// the module that this copy of the platform layer is linked into (platform/resource_table.h).
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/posix/modules.h"
#include "platform/resource_table.h"
#include "platform/win32.h"

// Weak, so that a module without strings still links; the table's address is then null.
extern "C" const qdev_posix::EmbeddedStringTable r4690_embedded_strings __attribute__((weak));

namespace {

// Windows never writes more than this many bytes, terminating zero included.
constexpr int kWsprintfLimit = 1024;

}  // namespace

int WINAPI wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...) {
  if (lpOut == nullptr || lpFmt == nullptr) return 0;
  va_list args;
  va_start(args, lpFmt);
  int n = std::vsnprintf(lpOut, kWsprintfLimit, lpFmt, args);
  va_end(args);
  if (n < 0) {
    lpOut[0] = '\0';
    return 0;
  }
  // The count of characters stored, not of those that a larger buffer would have taken.
  return n < kWsprintfLimit ? n : kWsprintfLimit - 1;
}

int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
  if (lpBuffer == nullptr || cchBufferMax <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  lpBuffer[0] = '\0';
  // A null handle stands for the executable, as on Windows. Another module's table is out of
  // reach of this copy of the platform layer.
  const HMODULE module = hInstance != nullptr ? hInstance : qdev_posix::MainProgram();
  if (module != qdev_posix::ThisModule()) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  const qdev_posix::EmbeddedStringTable* table = &r4690_embedded_strings;
  if (table == nullptr || table->count == 0) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
  }
  // A string table is keyed by 16-bit ids: Windows looks at the id's low word only.
  const UINT id = uID & 0xFFFF;
  for (size_t i = 0; i < table->count; ++i) {
    const qdev_posix::EmbeddedString& entry = table->entries[i];
    // An empty string is no string, as in a STRINGTABLE.
    if (entry.id != id || entry.text[0] == '\0') continue;
    // Cut to the buffer, always terminated; the result counts the characters copied.
    const size_t length = std::min(std::strlen(entry.text), static_cast<size_t>(cchBufferMax - 1));
    std::memcpy(lpBuffer, entry.text, length);
    lpBuffer[length] = '\0';
    return static_cast<int>(length);
  }
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return 0;
}
