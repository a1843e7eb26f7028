// What a simulated module is made of: identity, memories at power-up, PLD behaviour and faults.
// A default-constructed ModuleConfig is a healthy module in slot 0; a default Scenario holds one.
// sim/README.md documents every item with its JSON key; sim/scenario_json.h reads the JSON form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/request.h"

namespace sim {

// Which device names a module is published under.
enum class Naming {
  kQDev,     // "QDev<slot>"
  kQDevUsb,  // "QDevUsb<slot>"
  kBoth,     // both names, one module behind them
};

// What the application area of MCU flash holds at first power-up.
enum class ApplicationKind {
  kEmbedded,  // the embedded MCU image of the module's revision
  kNone,      // erased
  kStandIn,   // a small application whose firmware description carries applicationVersion
};

// What boot flash holds at first power-up.
enum class BootFlashKind {
  kGradeImage,        // a valid container of the embedded PLD image of the module's grade
  kCommercialImage,   // a valid container of the commercial PLD image
  kIndustrialImage,   // a valid container of the industrial PLD image
  kOtherImage,        // a valid container of a stand-in PLD image (reports otherPldVersion)
  kErased,            // all 0xFF
  kBadHeader,         // the grade's container with a damaged header checksum
  kBadImageChecksum,  // the grade's container with one image byte changed after the checksum
  kBadSync,           // a valid container of an image that lacks the 0x6A sync byte
};

enum class FaultAction {
  kFail,       // complete the request with an error, transferring nothing; nothing is done
  kNoAnswer,   // never complete the request; nothing is done
  kShort,      // carry the request out but transfer fewer bytes than asked
  kPowerLoss,  // carry the request out and answer it, then the whole simulator loses power
  kDelay,      // carry the request out and answer it, delayMs after it arrived
};

// The longest delay a fault or a module's latency may give an answer, in ms: an hour.
constexpr uint32_t kMaxDelayMs = 3600000;

// One fault. A request is selected when it matches every filter that is set; with nth set, only
// the nth selected request (counted from power-up, 1-based) fires, otherwise every one does.
// Faults are tried in order and the first that fires decides.
struct Fault {
  FaultAction action = FaultAction::kFail;
  std::optional<uint32_t> request;  // vendor request code, or kDeviceInfoRequest
  std::optional<uint32_t> address;  // a module address that the request's data range touches
  uint32_t nth = 0;                 // 0: every selected request
  std::optional<uint32_t> bytes;    // kShort: bytes transferred; default one fewer than asked
  uint32_t delayMs = 0;             // kDelay: how long after its arrival the request is answered
};

struct ModuleConfig {
  uint16_t slot = 0;                 // virtual slot of the module's device names
  Naming naming = Naming::kQDev;     // device names it answers on
  uint32_t typeCode = 32;            // ModuleTypeCode of the device-information record
  std::string modelName = "R46-90";  // request 0x0B, at most 7 bytes, zero-padded
  uint8_t usbSpeed = 1;              // request 0x06
  char revision = 'C';               // Revision byte of the module description
  std::string name = "R46-90";       // Name of the module description (at most 16 bytes)
  std::string serialNumber = "4690C-20-001734";  // SerialNumber (at most 36 bytes)
  std::optional<bool> aliases;  // 0x91 addresses answered; unset: all revisions but 'A' and 'B'
  ApplicationKind application = ApplicationKind::kEmbedded;
  std::string applicationVersion = "3.1";  // kStandIn: its firmware version text
  std::string bootLoaderVersion = "3.1";   // Version of the boot-loader description
  uint8_t temperatureGrade = 0;            // the byte at 0x8C000000
  BootFlashKind bootFlash = BootFlashKind::kGradeImage;
  std::string otherPldVersion = "3.0.6c";  // version reported for a stand-in PLD image
  std::string otherPldText;                // whole text for a stand-in PLD image; empty: built
  bool configurePldAtPowerUp = true;       // false: the PLD stays unconfigured until reloaded
  // Each answer comes this long after its request; a delay fault's answer, after its own delay.
  uint32_t latencyMs = 0;
  bool heldOpen = false;  // another program has the device open without sharing it
  std::vector<Fault> faults;
};

struct Scenario {
  std::vector<ModuleConfig> modules{ModuleConfig{}};
};

// The first two hardware revisions: 12 KiB applications, and no 0x91 aliases by default.
inline bool IsRevisionAOrB(char revision) {
  return revision == 'A' || revision == 'B';
}

// Whether a module of this configuration answers the 0x91 aliases.
inline bool AliasesEnabled(const ModuleConfig& m) {
  if (m.aliases) return *m.aliases;
  return !IsRevisionAOrB(m.revision);
}

// Checks limits that the types alone don't enforce (text widths, unique slots, at least one
// module). False with a one-line reason.
bool ValidateScenario(const Scenario& scenario, std::string* error);

}  // namespace sim
