// The module's description records for C++: fixed byte layouts that the module keeps in its
// memory (module, MCU application firmware, MCU boot loader) and the PLD information record built
// from the module's PLD text. The records themselves are declared once, for C and C++ alike, in
// r4690module.h; their layout is pinned here. Text fields are 8-bit, zero-padded, and have no
// terminating zero when the text fills the field, so they are read only through FieldText.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "modlib/r4690module.h"

static_assert(sizeof(ModuleDescription) == 256);
static_assert(offsetof(ModuleDescription, Name) == 0);
static_assert(offsetof(ModuleDescription, SerialNumber) == 16);
static_assert(offsetof(ModuleDescription, Revision) == 52);
static_assert(offsetof(ModuleDescription, Reserved) == 53);

static_assert(sizeof(FirmwareDescription) == 227);
static_assert(offsetof(FirmwareDescription, McuName) == 0);
static_assert(offsetof(FirmwareDescription, Version) == 25);
static_assert(offsetof(FirmwareDescription, Created) == 35);
static_assert(offsetof(FirmwareDescription, Manufacturer) == 49);
static_assert(offsetof(FirmwareDescription, Author) == 74);
static_assert(offsetof(FirmwareDescription, Comments) == 99);

static_assert(sizeof(BootLoaderDescription) == 79);
static_assert(offsetof(BootLoaderDescription, McuName) == 0);
static_assert(offsetof(BootLoaderDescription, Version) == 20);
static_assert(offsetof(BootLoaderDescription, Created) == 30);

static_assert(sizeof(PldInfo) == 247);
static_assert(offsetof(PldInfo, PldName) == 0);
static_assert(offsetof(PldInfo, Version) == 45);
static_assert(offsetof(PldInfo, Created) == 55);
static_assert(offsetof(PldInfo, Manufacturer) == 69);
static_assert(offsetof(PldInfo, Author) == 94);
static_assert(offsetof(PldInfo, Comments) == 119);

// The text of a field: its bytes up to the first zero byte, or all of them when the text fills
// the field.
template <size_t N>
std::string_view FieldText(const char (&field)[N]) {
  size_t n = 0;
  while (n < N && field[n] != '\0') ++n;
  return std::string_view(field, n);
}

// Stores a text in a field: at most N bytes of it, zero bytes after them.
template <size_t N>
void SetFieldText(char (&field)[N], std::string_view text) {
  size_t i = 0;
  for (; i < N && i < text.size(); ++i) field[i] = text[i];
  for (; i < N; ++i) field[i] = '\0';
}
