// The state folder: each module's two flash memories, one file each, so that a restart of the
// simulator is a power cycle of the modules. A memory is saved whole after every write that
// changed it, into a temporary file that then replaces the old one, so that a killed simulator
// leaves either the old or the new contents, never half of each.
//
//   <dir>/slot<N>-mcu-flash.bin    16 KiB
//   <dir>/slot<N>-boot-flash.bin   256 KiB
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class StateStore {
 public:
  // Creates the folder when it is missing and checks that files can be written in it.
  bool Open(const std::string& dir, std::string* error);
  bool IsOpen() const { return !dir_.empty(); }

  enum class LoadResult {
    kAbsent,   // nothing saved for the slot
    kLoaded,   // both memories read
    kDamaged,  // a file is missing, unreadable or of the wrong size (*error says which)
  };
  LoadResult Load(uint16_t slot, std::vector<uint8_t>* mcuFlash, std::vector<uint8_t>* bootFlash,
                  std::string* error) const;

  bool SaveMcuFlash(uint16_t slot, const std::vector<uint8_t>& data, std::string* error) const;
  bool SaveBootFlash(uint16_t slot, const std::vector<uint8_t>& data, std::string* error) const;

  std::string McuFlashPath(uint16_t slot) const;
  std::string BootFlashPath(uint16_t slot) const;

 private:
  std::string dir_;
};

}  // namespace sim
