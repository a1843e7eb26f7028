// The process-heap allocator and the owned Buffer through which the update holds its image copies.
#include "updater/allocator.h"

#include <cstdlib>
#include <cstring>

namespace updater {

namespace {

class ProcessHeap final : public Allocator {
 public:
  uint8_t* Allocate(size_t size) override {
    // malloc(0) may legally return null; asking for one byte keeps "null" meaning "out of memory".
    return static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
  }
  void Free(uint8_t* block) override { std::free(block); }
};

}  // namespace

Allocator& HeapAllocator() {
  static ProcessHeap heap;
  return heap;
}

Buffer& Buffer::operator=(Buffer&& other) noexcept {
  if (this != &other) {
    Reset();
    allocator_ = other.allocator_;
    data_ = other.data_;
    size_ = other.size_;
    other.allocator_ = nullptr;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

void Buffer::Reset() {
  if (data_ != nullptr && allocator_ != nullptr) allocator_->Free(data_);
  allocator_ = nullptr;
  data_ = nullptr;
  size_ = 0;
}

Buffer AllocateZeroed(Allocator& allocator, size_t size) {
  uint8_t* block = allocator.Allocate(size);
  if (block == nullptr) return Buffer();
  if (size != 0) std::memset(block, 0, size);
  return Buffer(allocator, block, size);
}

}  // namespace updater
