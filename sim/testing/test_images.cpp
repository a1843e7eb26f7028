// Synthetic images and helpers for the simulator's tests.
#include "sim/testing/test_images.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "contract/driver_contract.h"
#include "images/image_list.h"
#include "sim/pld.h"

namespace sim_test {

namespace {

std::vector<uint8_t> MakePld(uint8_t step) {
  std::vector<uint8_t> image(sim::kPldSyncOnes, 0xFF);
  image.push_back(sim::kPldSyncByte);
  for (int i = 0; i < 700; ++i) image.push_back(static_cast<uint8_t>(i * step));
  image.insert(image.end(), 74, 0xFF);
  return image;
}

const std::vector<uint8_t>& TestPldImage(bool industrial) {
  static const std::vector<uint8_t> images[2] = {MakePld(3), MakePld(5)};
  return images[industrial ? 1 : 0];
}

}  // namespace

const sim::EmbeddedImages& TestImages() {
  // Stand-in applications with the versions of the embedded ones, kept for the process's life.
  static std::vector<std::vector<uint8_t>> applications;
  static const sim::EmbeddedImages images = [] {
    sim::EmbeddedImages e;
    applications.reserve(std::size(images::kImageList));
    for (const images::ImageInfo& listed : images::kImageList) {
      sim::FirmwareImage image;
      if (listed.kind == images::ImageKind::kMcuApplication) {
        applications.push_back(sim::StandInApplication(listed.variant, listed.version));
        image.kind = sim::FirmwareImage::Kind::kApplication;
        image.revision = listed.variant;
        image.bytes = {applications.back().data(), applications.back().size()};
      } else {
        const std::vector<uint8_t>& pld = TestPldImage(listed.variant == 1);
        image.kind = sim::FirmwareImage::Kind::kPld;
        image.grade = static_cast<uint8_t>(listed.variant);
        image.bytes = {pld.data(), pld.size()};
      }
      e[listed.name] = image;
    }
    return e;
  }();
  return images;
}

std::vector<uint8_t> Header(uint16_t direction, uint16_t code, uint16_t value, uint16_t index) {
  std::vector<uint8_t> h(driver_contract::kVendorRequestSize);
  driver_contract::EncodeVendorRequest({direction, code, value, index}, h.data());
  return h;
}

sim::Fault MakeFault(sim::FaultAction action, std::optional<uint32_t> request,
                     std::optional<uint32_t> address, uint32_t nth, std::optional<uint32_t> bytes) {
  return sim::Fault{action, request, address, nth, bytes};
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace sim_test
