// A receive buffer for a stream of device frames (platform/device_frame.h), consumed in one pass:
// bytes are read into it where they will stay, frames are decoded where they lie, and only the
// unfinished frame at the end of what has arrived is ever moved, once, to the front. A batch of N
// frames therefore costs N, however many arrive at once. Plain C++, no OS: both systems' device
// endpoints and the client side of the platform read through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/device_frame.h"

namespace qdev_frame {

class ReceiveBuffer {
 public:
  // Room for at least n more bytes after those received so far; read into it, then Commit what
  // arrived. Makes room by moving the unconsumed bytes to the front when the end is short of it,
  // so the frames decoded before the call must no longer be used. The room is not cleared:
  // reading into it is what fills it.
  uint8_t* Space(size_t n) {
    if (capacity_ - end_ < n) {
      Compact();
      if (capacity_ - end_ < n) Grow(end_ + n);
    }
    return bytes_.get() + end_;
  }

  // n bytes have been written at the start of the last Space.
  void Commit(size_t n) { end_ += n; }

  // Appends bytes (for callers that have them elsewhere already).
  void Append(const uint8_t* data, size_t n) {
    if (n == 0) return;
    std::memcpy(Space(n), data, n);
    Commit(n);
  }

  // The next whole frame, which is then consumed. Its payload stays where it is, valid until the
  // next Space or Compact. kNeedMore consumes nothing; kMalformed means that the stream cannot
  // be read on.
  Decoded Next(Frame* frame) {
    const Decoded d = DecodeFrame(bytes_.get() + begin_, end_ - begin_, frame);
    if (d == Decoded::kFrame) begin_ += frame->size();
    return d;
  }

  // Bytes received and not yet consumed: at most the start of one frame after Next has said
  // kNeedMore.
  size_t Unconsumed() const { return end_ - begin_; }

  // Moves the unconsumed bytes to the front; nothing moves when everything has been consumed.
  void Compact() {
    if (begin_ == 0) return;
    const size_t left = end_ - begin_;
    if (left != 0) std::memmove(bytes_.get(), bytes_.get() + begin_, left);
    begin_ = 0;
    end_ = left;
  }

 private:
  void Grow(size_t needed) {
    size_t capacity = capacity_ == 0 ? 256 : capacity_;
    while (capacity < needed) capacity *= 2;
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[capacity]);
    if (end_ != 0) std::memcpy(bytes.get(), bytes_.get(), end_);
    bytes_ = std::move(bytes);
    capacity_ = capacity;
  }

  std::unique_ptr<uint8_t[]> bytes_;
  size_t capacity_ = 0;
  size_t begin_ = 0;  // the first unconsumed byte
  size_t end_ = 0;    // one past the last byte received
};

}  // namespace qdev_frame
