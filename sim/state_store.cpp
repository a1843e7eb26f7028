// Saving and loading module memories in the state folder.
#include "sim/state_store.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace sim {

namespace fs = std::filesystem;

namespace {

// Why the last file operation failed, as far as the C library says ("" when it does not).
std::string Reason() {
  return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}

bool WriteWhole(const std::string& path, const std::vector<uint8_t>& data, std::string* error) {
  const std::string temporary = path + ".tmp";
  {
    errno = 0;
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    out.flush();
    if (!out) {
      *error = "cannot write " + temporary + Reason();
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) {
    *error = "cannot replace " + path + ": " + ec.message();
    return false;
  }
  return true;
}

// Reads a file that must hold exactly `size` bytes.
bool ReadWhole(const std::string& path, size_t size, std::vector<uint8_t>* data,
               std::string* error) {
  std::error_code ec;
  const uintmax_t actual = fs::file_size(path, ec);
  if (ec) {
    *error = "cannot read " + path + ": " + ec.message();
    return false;
  }
  if (actual != size) {
    *error = "state file " + path + " has " + std::to_string(actual) + " bytes, not " +
             std::to_string(size);
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  data->assign(size, 0);
  in.read(reinterpret_cast<char*>(data->data()), static_cast<std::streamsize>(size));
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  return true;
}

}  // namespace

bool StateStore::Open(const std::string& dir, std::string* error) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir, ec)) {
    *error = "cannot use the state folder " + dir + ": " +
             (ec ? ec.message() : std::string("not a folder"));
    return false;
  }
  const std::string probe = (fs::path(dir) / ".write-probe").string();
  {
    std::ofstream out(probe, std::ios::trunc);
    out << "probe\n";
    out.flush();
    if (!out) {
      *error = "cannot write in the state folder " + dir;
      return false;
    }
  }
  fs::remove(probe, ec);
  dir_ = dir;
  return true;
}

std::string StateStore::McuFlashPath(uint16_t slot) const {
  return (fs::path(dir_) / ("slot" + std::to_string(slot) + "-mcu-flash.bin")).string();
}

std::string StateStore::BootFlashPath(uint16_t slot) const {
  return (fs::path(dir_) / ("slot" + std::to_string(slot) + "-boot-flash.bin")).string();
}

StateStore::LoadResult StateStore::Load(uint16_t slot, std::vector<uint8_t>* mcuFlash,
                                        std::vector<uint8_t>* bootFlash, std::string* error) const {
  std::error_code ec;
  const bool haveMcu = fs::exists(McuFlashPath(slot), ec);
  const bool haveBoot = fs::exists(BootFlashPath(slot), ec);
  if (!haveMcu && !haveBoot) return LoadResult::kAbsent;
  if (!ReadWhole(McuFlashPath(slot), kMcuFlashSize, mcuFlash, error) ||
      !ReadWhole(BootFlashPath(slot), kBootFlashSize, bootFlash, error)) {
    return LoadResult::kDamaged;
  }
  return LoadResult::kLoaded;
}

bool StateStore::Create(uint16_t slot, const std::vector<uint8_t>& mcuFlash,
                        const std::vector<uint8_t>& bootFlash, std::string* error) const {
  return WriteWhole(McuFlashPath(slot), mcuFlash, error) &&
         WriteWhole(BootFlashPath(slot), bootFlash, error);
}

bool StateStore::WriteRange(uint16_t slot, Memory memory, uint32_t offset, const uint8_t* data,
                            size_t size, std::string* error) const {
  const bool mcu = memory == Memory::kMcuFlash;
  if ((!mcu && memory != Memory::kBootFlash) ||
      offset + uint64_t{size} > (mcu ? kMcuFlashSize : kBootFlashSize)) {
    *error = "no state file holds that memory range";
    return false;
  }
  const std::string path = mcu ? McuFlashPath(slot) : BootFlashPath(slot);
  // Opened for reading too, so that a missing file is an error and not created empty.
  errno = 0;
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!file) {
    *error = "cannot open " + path + Reason();
    return false;
  }
  file.seekp(offset);
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  file.flush();  // the bytes are the operating system's before the request is answered
  if (!file) {
    *error = "cannot write " + path + Reason();
    return false;
  }
  return true;
}

}  // namespace sim
