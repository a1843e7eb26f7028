// String functions: wsprintfA, bounded as on Windows, and LoadStringA, which finds no string
// table because programs built here carry none.
#include <cstdarg>
#include <cstdio>

#include "platform/win32.h"

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

int WINAPI LoadStringA(HINSTANCE /*hInstance*/, UINT /*uID*/, LPSTR lpBuffer, int cchBufferMax) {
  if (lpBuffer != nullptr && cchBufferMax > 0) lpBuffer[0] = '\0';
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return 0;
}
