// Saving and loading module memories in the state folder.
#include "sim/state_store.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <utility>

namespace sim {

namespace fs = std::filesystem;

namespace {

// Why the last file operation failed, as far as the C library says ("" when it does not).
std::string Reason() {
  return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}

// Whether a path names something other than a regular file, which a state file must be: a FIFO
// would block its reader and writer for ever, and a device or a folder holds no memory.
bool OtherThanAFile(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  return fs::exists(status) && !fs::is_regular_file(status);
}

std::string NotAFile(const std::string& path) {
  return "state file " + path + " is not a regular file";
}

// Why a state file of `actual` bytes cannot be a memory of `size` bytes.
std::string WrongSize(const std::string& path, uint64_t actual, size_t size) {
  return "state file " + path + " has " +
         (actual > size ? "more than " + std::to_string(size) + " bytes"
                        : std::to_string(actual) + " bytes, not " + std::to_string(size));
}

bool WriteWhole(const std::string& path, const std::vector<uint8_t>& data, std::string* error) {
  const std::string temporary = path + ".tmp";
  std::error_code ignored;
  fs::remove(temporary, ignored);  // whatever a crash left there, a FIFO even
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

// Reads a state file, at most `limit` bytes of it; true with nullopt when it does not exist.
bool ReadSavedFile(const std::string& path, size_t limit,
                   std::optional<std::vector<uint8_t>>* bytes, std::string* error) {
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    if (!ec) {
      bytes->reset();
      return true;
    }
    *error = "cannot read " + path + ": " + ec.message();
    return false;
  }
  if (OtherThanAFile(path)) {
    *error = NotAFile(path);
    return false;
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> data(limit);
  if (in) in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(limit));
  if (!in.is_open() || in.bad()) {
    *error = "cannot read " + path + Reason();
    return false;
  }
  data.resize(static_cast<size_t>(in.gcount()));
  *bytes = std::move(data);
  return true;
}

// One memory from its file's bytes, which must be exactly `size` of them.
bool TakeMemory(const StateStore::SavedFile& file, size_t size, std::vector<uint8_t>* memory,
                std::string* error) {
  if (!file.bytes) {
    *error = "state file " + file.path + " is missing";
    return false;
  }
  if (file.bytes->size() != size) {
    *error = WrongSize(file.path, file.bytes->size(), size);
    return false;
  }
  *memory = *file.bytes;
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
  fs::remove(probe, ec);
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
  // One byte more than a memory holds tells a longer file from one of the right size.
  SavedFile mcu{McuFlashPath(slot), std::nullopt};
  SavedFile boot{BootFlashPath(slot), std::nullopt};
  if (!ReadSavedFile(mcu.path, kMcuFlashSize + 1, &mcu.bytes, error) ||
      !ReadSavedFile(boot.path, kBootFlashSize + 1, &boot.bytes, error)) {
    return LoadResult::kDamaged;
  }
  return LoadMemories(mcu, boot, mcuFlash, bootFlash, error);
}

StateStore::LoadResult StateStore::LoadMemories(const SavedFile& mcu, const SavedFile& boot,
                                                std::vector<uint8_t>* mcuFlash,
                                                std::vector<uint8_t>* bootFlash,
                                                std::string* error) {
  if (!mcu.bytes && !boot.bytes) return LoadResult::kAbsent;
  if (!TakeMemory(mcu, kMcuFlashSize, mcuFlash, error) ||
      !TakeMemory(boot, kBootFlashSize, bootFlash, error)) {
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
  const size_t memorySize = mcu ? kMcuFlashSize : kBootFlashSize;
  if ((!mcu && memory != Memory::kBootFlash) || offset + uint64_t{size} > memorySize) {
    *error = "no state file holds that memory range";
    return false;
  }
  const std::string path = mcu ? McuFlashPath(slot) : BootFlashPath(slot);
  if (OtherThanAFile(path)) {
    *error = NotAFile(path);
    return false;
  }
  // Opened for reading too, so that a missing file is an error and not created empty.
  errno = 0;
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!file) {
    *error = "cannot open " + path + Reason();
    return false;
  }
  // A file cut short (or grown) since the start is not the memory any more: the next start would
  // refuse it, so the change is not kept in it either.
  const std::streamoff actual = file.seekg(0, std::ios::end).tellg();
  if (actual != static_cast<std::streamoff>(memorySize)) {
    *error = WrongSize(path, actual < 0 ? 0 : static_cast<uint64_t>(actual), memorySize);
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
