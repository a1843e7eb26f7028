// Builds a module's memories at first power-up.
#include "sim/module_content.h"

#include <algorithm>

#include "contract/little_endian.h"
#include "sim/memory_map.h"

namespace sim {

namespace {

constexpr char kMcuName[] = "AVR ATmega162";
constexpr char kBootLoaderCreated[] = "Sep 14 2016";

// Where the default PLD image comes from for each kind of boot flash content.
ByteRange PldImageFor(const ModuleConfig& config, const EmbeddedImages& images) {
  switch (config.bootFlash) {
    case BootFlashKind::kCommercialImage:
      return PldImage(images, 0);
    case BootFlashKind::kIndustrialImage:
      return PldImage(images, 1);
    default:
      return PldImage(images, config.temperatureGrade == 1 ? 1 : 0);
  }
}

bool SameBytes(const ByteRange& a, const ByteRange& b) {
  return a.data != nullptr && b.data != nullptr && a.size == b.size &&
         std::equal(a.data, a.data + a.size, b.data);
}

}  // namespace

ByteRange ApplicationImage(const EmbeddedImages& images, char revision) {
  const FirmwareImage* newest = nullptr;
  for (const auto& [name, image] : images) {
    if (image.kind != FirmwareImage::Kind::kApplication) continue;
    if (image.revision == revision) return image.bytes;
    if (newest == nullptr || image.revision > newest->revision) newest = &image;
  }
  return newest != nullptr ? newest->bytes : ByteRange{};
}

ByteRange PldImage(const EmbeddedImages& images, uint8_t grade) {
  for (const auto& [name, image] : images) {
    if (image.kind == FirmwareImage::Kind::kPld && image.grade == grade) return image.bytes;
  }
  return {};
}

const char* EmbeddedPldText(const EmbeddedImages& images, const ByteRange& loaded) {
  for (const auto& [name, image] : images) {
    if (image.kind == FirmwareImage::Kind::kPld && SameBytes(loaded, image.bytes)) {
      return image.grade == 1 ? kIndustrialPldText : kCommercialPldText;
    }
  }
  return nullptr;
}

void PutText(std::vector<uint8_t>& memory, size_t at, size_t width, const std::string& text) {
  for (size_t i = 0; i < width; ++i) {
    memory[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
  }
}

std::vector<uint8_t> StandInApplication(char revision, const std::string& version) {
  const size_t size = IsRevisionAOrB(revision) ? 0x3000 : 0x2000;
  std::vector<uint8_t> app(size, 0);
  // 28 vectors of "jmp": reset to the program after the table, the rest to a "reti" beside it.
  constexpr uint16_t kProgram = 112 / 2, kReti = kProgram + 1;
  for (size_t v = 0; v < 28; ++v) {
    const uint16_t target = v == 0 ? kProgram : kReti;
    little_endian::Store16(&app[4 * v], 0x940C);  // jmp, then its target word
    little_endian::Store16(&app[4 * v + 2], target);
  }
  app[112] = 0xFF;  // rjmp .-2: an endless loop
  app[113] = 0xCF;
  app[114] = 0x18;  // reti
  app[115] = 0x95;
  const size_t d = size - layout::kDescriptionFromEnd;
  PutText(app, d + layout::kFwMcuName, layout::kFwMcuNameSize, kMcuName);
  PutText(app, d + layout::kFwVersion, layout::kFwVersionSize, version);
  PutText(app, d + layout::kFwCreated, layout::kFwCreatedSize, "Mar 14 2019");
  PutText(app, d + layout::kFwManufacturer, layout::kFwManufacturerSize, "Tevron Ltd.");
  PutText(app, d + layout::kFwAuthor, layout::kFwAuthorSize, "");
  PutText(app, d + layout::kFwComments, layout::kFwCommentsSize, "Stand-in application");
  return app;
}

std::vector<uint8_t> InitialMcuFlash(const ModuleConfig& config, const EmbeddedImages& images) {
  std::vector<uint8_t> flash(kMcuFlashSize, 0xFF);
  std::vector<uint8_t> app;
  if (config.application == ApplicationKind::kEmbedded) {
    const ByteRange image = ApplicationImage(images, config.revision);
    if (image.data != nullptr) app.assign(image.data, image.data + image.size);
  } else if (config.application == ApplicationKind::kStandIn) {
    app = StandInApplication(config.revision, config.applicationVersion);
  }
  std::copy_n(app.begin(), std::min<size_t>(app.size(), kApplicationAreaSize), flash.begin());

  const size_t m = kModuleDescriptionOffset;
  std::fill_n(flash.begin() + m, layout::kModuleDescriptionSize, 0);
  PutText(flash, m + layout::kModuleName, layout::kModuleNameSize, config.name);
  PutText(flash, m + layout::kSerialNumber, layout::kSerialNumberSize, config.serialNumber);
  flash[m + layout::kRevision] = static_cast<uint8_t>(config.revision);

  const size_t b = kBootLoaderDescriptionOffset;
  PutText(flash, b + layout::kBlMcuName, layout::kBlMcuNameSize, kMcuName);
  PutText(flash, b + layout::kBlVersion, layout::kBlVersionSize, config.bootLoaderVersion);
  PutText(flash, b + layout::kBlCreated, layout::kBlCreatedSize, kBootLoaderCreated);
  return flash;
}

std::vector<uint8_t> InitialBootFlash(const ModuleConfig& config, const EmbeddedImages& images) {
  std::vector<uint8_t> flash(kBootFlashSize, 0xFF);
  std::vector<uint8_t> image;
  if (config.bootFlash == BootFlashKind::kErased) return flash;
  if (config.bootFlash == BootFlashKind::kOtherImage) {
    image = StandInPldImage();
  } else {
    const ByteRange range = PldImageFor(config, images);
    if (range.data == nullptr) return flash;
    image.assign(range.data, range.data + range.size);
  }
  if (config.bootFlash == BootFlashKind::kBadSync && image.size() > kPldSyncOnes) {
    image[kPldSyncOnes] ^= 0x01;
  }
  std::vector<uint8_t> container = BuildContainer(image.data(), image.size());
  if (config.bootFlash == BootFlashKind::kBadHeader) container[0] ^= 0x01;
  if (config.bootFlash == BootFlashKind::kBadImageChecksum && !image.empty()) {
    container[256 + image.size() / 2] ^= 0x01;
  }
  std::copy_n(container.begin(), std::min(container.size(), flash.size()), flash.begin());
  return flash;
}

}  // namespace sim
