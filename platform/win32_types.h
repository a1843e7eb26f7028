// The Win32 types of the module interface contract: HANDLE, BOOL and their kin, the only part of
// the platform layer that a program using the module interface library sees. On Windows they come
// from <windows.h>; elsewhere they are declared here with Windows' names, sizes and values.
// platform/win32.h adds the functions of the subset that the system calls. A program that uses
// the library includes this header too, so it defines no macro of its own that would change what
// <windows.h> gives that program; the system's own build sets WIN32_LEAN_AND_MEAN and NOMINMAX
// for itself (platform/CMakeLists.txt).
#pragma once

#ifdef _WIN32

#include <windows.h>

#else  // !_WIN32

#include <cstddef>
#include <cstdint>

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;  // 32 bits as on Windows, not the 64-bit unsigned long of LP64
typedef uint32_t UINT;
typedef int32_t LONG;
typedef uintptr_t ULONG_PTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;

typedef void* HANDLE;
typedef HANDLE HINSTANCE;
typedef HANDLE HMODULE;
typedef HANDLE HRSRC;
typedef HANDLE HGLOBAL;

#define TRUE 1
#define FALSE 0

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

#endif  // _WIN32
