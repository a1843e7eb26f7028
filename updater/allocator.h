// Where the update's image buffers come from. The update allocates through this interface so
// that running out of memory is a failure it reports, never an abort, and so that tests can
// make an allocation fail.
#pragma once

#include <cstddef>
#include <cstdint>

namespace updater {

class Allocator {
 public:
  // A block of at least `size` bytes (a size of 0 is no failure), or null when there is none.
  virtual uint8_t* Allocate(size_t size) = 0;
  virtual void Free(uint8_t* block) = 0;

 protected:
  ~Allocator() = default;
};

// The process heap.
Allocator& HeapAllocator();

// An owned block from an Allocator, freed when it goes out of scope.
class Buffer {
 public:
  Buffer() = default;
  Buffer(Allocator& allocator, uint8_t* data, size_t size)
      : allocator_(&allocator), data_(data), size_(size) {}
  Buffer(Buffer&& other) noexcept { *this = static_cast<Buffer&&>(other); }
  Buffer& operator=(Buffer&& other) noexcept;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() { Reset(); }

  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  explicit operator bool() const { return data_ != nullptr; }
  void Reset();

 private:
  Allocator* allocator_ = nullptr;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// A zero-filled buffer of `size` bytes, or an empty Buffer when the allocation fails.
Buffer AllocateZeroed(Allocator& allocator, size_t size);

}  // namespace updater
