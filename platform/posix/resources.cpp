// FindResourceA, LoadResource, LockResource and SizeofResource over the executable's embedded
// resource table. Lookups follow Windows: names and types may be strings, "#nnn" or integer
// IDs from MAKEINTRESOURCEA; string names compare without regard to ASCII case; failures set
// the error values that Windows sets. A loaded resource is its read-only bytes, which live as
// long as the process.
#include <atomic>
#include <cstdint>

#include "platform/ascii_case.h"
#include "platform/posix/handles.h"
#include "platform/resource_table.h"
#include "platform/testing/test_facilities.h"
#include "platform/win32.h"

// Weak, so that an executable without embedded resources still links; the table's address is
// then null and nothing is found.
extern "C" const qdev_posix::EmbeddedResourceTable r4690_embedded_resources __attribute__((weak));

namespace {

// A resource name or type as Windows reads it: an integer ID, or a string.
struct ResourceKey {
  bool isId = false;
  uint16_t id = 0;
  const char* text = nullptr;
};

ResourceKey ReadKey(LPCSTR value) {
  ResourceKey key;
  const uintptr_t raw = reinterpret_cast<uintptr_t>(value);
  if (raw <= 0xFFFF) {  // MAKEINTRESOURCEA: the ID is the pointer's value
    key.isId = true;
    key.id = static_cast<uint16_t>(raw);
    return key;
  }
  if (value[0] == '#' && value[1] != '\0') {
    uint32_t n = 0;
    const char* p = value + 1;
    for (; *p >= '0' && *p <= '9' && n <= 0xFFFF; ++p) n = n * 10 + static_cast<uint32_t>(*p - '0');
    if (*p == '\0' && n <= 0xFFFF) {
      key.isId = true;
      key.id = static_cast<uint16_t>(n);
      return key;
    }
  }
  key.text = value;
  return key;
}

// Names in the table are strings, types are integer IDs.
bool NameMatches(const ResourceKey& key, const qdev_posix::EmbeddedResource& r) {
  return !key.isId && qdev::SameIgnoringAsciiCase(key.text, r.name);
}

bool TypeMatches(const ResourceKey& key, const qdev_posix::EmbeddedResource& r) {
  return key.isId && key.id == r.type;
}

const qdev_posix::EmbeddedResourceTable* Table() {
  const qdev_posix::EmbeddedResourceTable* table = &r4690_embedded_resources;
  return (table != nullptr && table->count != 0) ? table : nullptr;
}

// The table entry that a resource handle stands for, or null for a handle we did not give out.
const qdev_posix::EmbeddedResource* EntryOf(HRSRC handle) {
  const qdev_posix::EmbeddedResourceTable* table = Table();
  if (table == nullptr || handle == nullptr) return nullptr;
  for (size_t i = 0; i < table->count; ++i)
    if (static_cast<const void*>(&table->entries[i]) == handle) return &table->entries[i];
  return nullptr;
}

}  // namespace

HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
  const qdev_posix::EmbeddedResourceTable* table = Table();
  // The executable is the only module here, and it may carry no resources at all.
  if (hModule != nullptr || table == nullptr) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  const ResourceKey name = ReadKey(lpName);
  const ResourceKey type = ReadKey(lpType);
  bool typeFound = false;
  for (size_t i = 0; i < table->count; ++i) {
    const qdev_posix::EmbeddedResource& r = table->entries[i];
    if (!TypeMatches(type, r)) continue;
    typeFound = true;
    if (NameMatches(name, r))
      return const_cast<qdev_posix::EmbeddedResource*>(&r);  // HRSRC is untyped, as on Windows
  }
  SetLastError(typeFound ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

namespace {

std::atomic<uint32_t> failResourceCountdown{0};

// Counts one LoadResource or LockResource against the fault hook; true when it is to fail.
bool ResourceFaultFires() {
  if (!qdev_posix::FaultFires(failResourceCountdown)) return false;
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return true;
}

}  // namespace

void qdev_test::FailNthResourceCall(uint32_t n) {
  failResourceCountdown.store(n);
}

HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) {
  const qdev_posix::EmbeddedResource* r = EntryOf(hResInfo);
  if (hModule != nullptr || r == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return ResourceFaultFires() ? nullptr : const_cast<uint8_t*>(r->begin);
}

LPVOID WINAPI LockResource(HGLOBAL hResData) {
  // A loaded resource already is the address of its bytes.
  return ResourceFaultFires() ? nullptr : hResData;
}

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) {
  const qdev_posix::EmbeddedResource* r = EntryOf(hResInfo);
  if (hModule != nullptr || r == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return static_cast<DWORD>(reinterpret_cast<uintptr_t>(r->end) -
                            reinterpret_cast<uintptr_t>(r->begin));
}
