// The resources of an executable on systems without Windows resource sections: a table that
// the executable's embedded data provides (for this system, the image_resources object
// library) and that FindResourceA and its companions serve. An executable that embeds nothing
// defines no table and finds no resources, as a Windows executable without resources.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

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

}  // namespace platform

// Defined at most once per executable, by whatever embeds the data.
extern "C" const platform::EmbeddedResourceTable r4690_embedded_resources;
