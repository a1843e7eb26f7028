// Helpers for the simulator's tests.
#include "sim/testing/test_helpers.h"

#include <fstream>
#include <sstream>

#include "contract/driver_contract.h"

namespace sim_test {

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
