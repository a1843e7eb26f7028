// Traffic lines read back into the entries that wrote them.
#include "sim/testing/traffic_parse.h"

#include <cstdint>
#include <map>
#include <sstream>

#include "contract/driver_contract.h"
#include "sim/user_text.h"  // ParseNumber

namespace sim {

namespace dc = driver_contract;

// The words of a line are read loosely (a name, or an address, where the format puts one; a
// field that is missing reads as 0) and the line then formatted again from what was read: only a
// line that the format writes reads back.
bool ParseTrafficLine(const std::string& stamped, TrafficEntry* entry) {
  const std::string line = WithoutTimeStamp(stamped);
  std::istringstream words(line);
  std::string device, word;
  std::map<std::string, uint32_t> fields;
  words >> device;
  while (words >> word && word != "->") {
    const size_t equals = word.find('=');
    uint64_t n = 0;
    if (equals != std::string::npos && ParseNumber(word.substr(equals + 1), UINT32_MAX, &n)) {
      fields[word.substr(0, equals)] = static_cast<uint32_t>(n);
    }
  }
  if (word != "->") return false;
  TrafficEntry e;
  const uint32_t ioctl = fields["ioctl"];
  // A header only where the simulator decodes one.
  const bool hasHeader = fields.count("dir") != 0;
  const uint32_t in = hasHeader ? dc::kVendorRequestSize : fields["in"];
  if (CarriesHeader(ioctl, in) != hasHeader) return false;
  const dc::VendorRequest header{
      static_cast<uint16_t>(fields["dir"]), static_cast<uint16_t>(fields["req"]),
      static_cast<uint16_t>(fields["value"]), static_cast<uint16_t>(fields["index"])};
  e.request = MakeRequest(device, ioctl, in, hasHeader ? &header : nullptr, fields["len"]);

  // The outcome, and how long its answer was held back.
  static const std::map<std::string, Outcome> outcomes = {{"ok", Outcome::kOk},
                                                          {"refused", Outcome::kRefused},
                                                          {"no", Outcome::kNoAnswer},
                                                          {"short", Outcome::kShort}};
  const auto outcome = outcomes.find(words >> word ? word : "");
  if (outcome == outcomes.end()) return false;
  e.outcome = outcome->second;
  if (e.outcome == Outcome::kShort) words >> e.transferred;
  if (words >> word && word == "after") words >> e.delayMs;
  if (FormatTrafficLine(e) != line) return false;
  *entry = e;
  return true;
}

}  // namespace sim
