// The memories of a module at its first power-up, built from its configuration: MCU flash with
// application, module description and boot-loader description, and boot flash with a PLD
// container.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/pld.h"
#include "sim/scenario.h"

namespace sim {

// An embedded firmware image that a module uses: the default application of a revision, or a
// PLD image whose text the module knows. An empty range stands for an image that is not
// available; a module then starts without it (erased).
struct FirmwareImage {
  enum class Kind { kApplication, kPld };
  Kind kind = Kind::kApplication;
  char revision = 0;  // kApplication: the hardware revision it is for
  uint8_t grade = 0;  // kPld: its temperature grade, 0 commercial, 1 industrial
  ByteRange bytes;
};

// The embedded images by name ("R4690C_APPL").
using EmbeddedImages = std::map<std::string, FirmwareImage>;

// The application of a revision; revisions without one of their own (after the newest, or none)
// get the newest revision's. An empty range when there is none.
ByteRange ApplicationImage(const EmbeddedImages& images, char revision);

// The PLD image of a temperature grade; an empty range when there is none.
ByteRange PldImage(const EmbeddedImages& images, uint8_t grade);

// The text that a PLD configured from `loaded` reports when `loaded` is one of the embedded PLD
// images, byte for byte; null for any other image.
const char* EmbeddedPldText(const EmbeddedImages& images, const ByteRange& loaded);

// Layouts of the description records in MCU flash: the module's own memory format.
namespace layout {
constexpr size_t kModuleName = 0, kModuleNameSize = 16;
constexpr size_t kSerialNumber = 16, kSerialNumberSize = 36;
constexpr size_t kRevision = 52;
constexpr size_t kModuleDescriptionSize = 256;

constexpr size_t kFwMcuName = 0, kFwMcuNameSize = 25;
constexpr size_t kFwVersion = 25, kFwVersionSize = 10;
constexpr size_t kFwCreated = 35, kFwCreatedSize = 14;
constexpr size_t kFwManufacturer = 49, kFwManufacturerSize = 25;
constexpr size_t kFwAuthor = 74, kFwAuthorSize = 25;
constexpr size_t kFwComments = 99, kFwCommentsSize = 128;
constexpr size_t kFirmwareDescriptionSize = 227;
constexpr size_t kDescriptionFromEnd = 256;  // an application's description: its last 256 bytes

constexpr size_t kBlMcuName = 0, kBlMcuNameSize = 20;
constexpr size_t kBlVersion = 20, kBlVersionSize = 10;
constexpr size_t kBlCreated = 30, kBlCreatedSize = 49;
constexpr size_t kBootLoaderDescriptionSize = 79;

static_assert(kRevision + 1 + 203 == kModuleDescriptionSize);
static_assert(kFwComments + kFwCommentsSize == kFirmwareDescriptionSize);
static_assert(kBlCreated + kBlCreatedSize == kBootLoaderDescriptionSize);
}  // namespace layout

// An application that is none of the embedded ones: a vector table, a tiny program and a
// firmware description carrying `version`, laid out like the image of the revision.
std::vector<uint8_t> StandInApplication(char revision, const std::string& version);

std::vector<uint8_t> InitialMcuFlash(const ModuleConfig& config, const EmbeddedImages& images);
std::vector<uint8_t> InitialBootFlash(const ModuleConfig& config, const EmbeddedImages& images);

// Stores text in a zero-padded field of `width` bytes at `at`, cut to the width.
void PutText(std::vector<uint8_t>& memory, size_t at, size_t width, const std::string& text);

}  // namespace sim
