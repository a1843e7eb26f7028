// The resources of a module on systems without Windows resource sections: tables that the
// module's embedded data provides and the platform's resource functions serve.
// - The raw-data table of the executable (for this system, the image_resources object library),
//   which FindResourceA and its companions serve.
// - The string table of a module (the executable or a shared library: for this system, the
//   module interface library's error texts), which LoadStringA serves. The platform layer is
//   linked into each module that uses it, and each copy sees its own module's table.
// A module that embeds nothing defines no table and finds nothing, as a Windows module without
// resources.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qdev_posix {

struct EmbeddedResource {
  const char* name;      // resource name; looked up without regard to ASCII case
  uint16_t type;         // integer resource type, 10 for RT_RCDATA
  const uint8_t* begin;  // first byte; never null, even for an empty resource
  const uint8_t* end;    // one past the last byte
};

struct EmbeddedResourceTable {
  const EmbeddedResource* entries;
  size_t count;
};

struct EmbeddedString {
  uint16_t id;       // string identifier, as in a STRINGTABLE
  const char* text;  // zero-terminated, never null
};

struct EmbeddedStringTable {
  const EmbeddedString* entries;
  size_t count;
};

}  // namespace qdev_posix

// Defined at most once per executable, by whatever embeds the data.
extern "C" const qdev_posix::EmbeddedResourceTable r4690_embedded_resources;

// Defined at most once per module, by whatever embeds the strings. Hidden, so that each module
// sees its own table and never another module's.
extern "C" __attribute__((visibility("hidden")))
const qdev_posix::EmbeddedStringTable r4690_embedded_strings;
