// The state folder: each module's two flash memories, one file each, so that a restart of the
// simulator is a power cycle of the modules. Loading reads the files and then judges their bytes
// alone (LoadMemories), so that what a folder may hold can be checked without files. A file is
// created whole, into a temporary file that then replaces the old one. After that every change is
// written in place, only the bytes that changed, and reaches the file (the operating system's copy
// of it) before the request that made it is answered: a killed simulator keeps every completed
// request. The file is opened by its name for every change, so that a file or folder that has been
// removed or replaced in the meantime makes the write fail instead of going to a file that the next
// start never reads.
//
//   <dir>/slot<N>-mcu-flash.bin    16 KiB
//   <dir>/slot<N>-boot-flash.bin   256 KiB
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/memory_map.h"

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

  // A state file as read.
  struct SavedFile {
    std::string path;                           // names the file in errors
    std::optional<std::vector<uint8_t>> bytes;  // nullopt: the file does not exist
  };
  // The memories of one slot from what its two files hold: kAbsent when neither exists, kLoaded
  // when each holds exactly the size of its memory, kDamaged otherwise (*error names the file).
  static LoadResult LoadMemories(const SavedFile& mcu, const SavedFile& boot,
                                 std::vector<uint8_t>* mcuFlash, std::vector<uint8_t>* bootFlash,
                                 std::string* error);

  // Writes both files of a slot whole (a first start, or a fresh one).
  bool Create(uint16_t slot, const std::vector<uint8_t>& mcuFlash,
              const std::vector<uint8_t>& bootFlash, std::string* error) const;

  // Writes `size` bytes at `offset` of a flash memory into its existing file, in place; refused
  // when the file is no longer a regular file of the memory's size.
  bool WriteRange(uint16_t slot, Memory memory, uint32_t offset, const uint8_t* data, size_t size,
                  std::string* error) const;

  std::string McuFlashPath(uint16_t slot) const;
  std::string BootFlashPath(uint16_t slot) const;

 private:
  std::string dir_;
};

}  // namespace sim
