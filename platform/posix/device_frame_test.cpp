// The device frames on the wire: each type's header fields in their words, little-endian, and
// back again, with the payload length that each type announces; a receive buffer that consumes a
// batch of frames in one pass. Frames found in a stream however it is cut, malformed ones and
// unfinished ones kept across compaction among them, are the device_frames fuzz target's
// (tests/fuzz/device_frames.cpp), against a second reading of the format on every input.
#include "platform/device_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

#include "platform/frame_buffer.h"

namespace {

using namespace qdev_frame;

struct FrameCase {
  const char* what;
  Header header;
  uint32_t words[6];  // the six header words as they must be on the wire
  uint32_t payload;   // what PayloadSize announces
};

TEST(DeviceFrame, EachTypeKeepsItsFieldsInItsWords) {
  const FrameCase cases[] = {
      {"open", OpenHeader(0xC0000000, 3), {kMagic, kOpen, 0, 0xC0000000, 3, 0}, 0},
      {"open reply", OpenReplyHeader(32), {kMagic, kOpenReply, 0, 32, 0, 0}, 0},
      {"request", RequestHeader(77, 0x22003E, 8, 96), {kMagic, kRequest, 77, 0x22003E, 8, 96}, 104},
      {"reply", ReplyHeader(77, 31, 3, 7), {kMagic, kReply, 77, 31, 3, 7}, 7},
      {"cancel", CancelHeader(78), {kMagic, kCancel, 78, 0, 0, 0}, 0},
      {"largest reply",
       ReplyHeader(9, 0, 0, kMaxPayload),
       {kMagic, kReply, 9, 0, 0, kMaxPayload},
       kMaxPayload},
  };
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(c.what);
    uint8_t bytes[kHeaderSize];
    EncodeHeader(c.header, bytes);
    for (int w = 0; w < 6; ++w) {
      const uint8_t* at = bytes + 4 * w;
      EXPECT_EQ(at[0] | at[1] << 8 | at[2] << 16 | uint32_t{at[3]} << 24, c.words[w]) << w;
    }
    const Header back = DecodeHeader(bytes);  // and read back, it writes the same words
    uint8_t again[kHeaderSize];
    EncodeHeader(back, again);
    EXPECT_TRUE(std::equal(bytes, bytes + kHeaderSize, again));
    uint32_t payload = 0;
    ASSERT_TRUE(PayloadSize(back, &payload));
    EXPECT_EQ(payload, c.payload);
  }
  // One byte more than the largest payload is a malformed frame.
  uint32_t payload = 0;
  EXPECT_FALSE(PayloadSize(RequestHeader(9, 0, kMaxPayload, 1), &payload));
}

// A stream of frames of many sizes, read in pieces of every size from a byte to more than a
// frame, gives the frames back in order, each whole. The frames that one read brings stay where
// they were received until the buffer is given more bytes: a batch is consumed in one pass, and
// nothing is moved frame by frame (which made a batch of N frames cost N squared).
TEST(ReceiveBuffer, GivesTheFramesOfAStreamHoweverItArrives) {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint8_t> stream;
  for (uint32_t i = 0; i < 60; ++i) {
    std::vector<uint8_t> in(i % 9), out(i * 37 % 500), frame(kHeaderSize);
    std::iota(in.begin(), in.end(), uint8_t{5});
    std::iota(out.begin(), out.end(), static_cast<uint8_t>(i));
    if (i % 3 == 0) {
      EncodeHeader(CancelHeader(i), frame.data());
    } else {
      frame.resize(RequestFrameSize(in.size(), out.size()));
      EncodeRequest(i, 0x22003E, in.data(), in.size(), out.data(), out.size(), frame.data());
    }
    stream.insert(stream.end(), frame.begin(), frame.end());
    frames.push_back(std::move(frame));
  }
  for (size_t piece : std::vector<size_t>{1, 7, 24, 100, 1000, stream.size()}) {
    SCOPED_TRACE(piece);
    ReceiveBuffer buffer;
    size_t next = 0;
    for (size_t at = 0; at < stream.size(); at += piece) {
      const size_t n = std::min(piece, stream.size() - at);
      std::memcpy(buffer.Space(n), stream.data() + at, n);
      buffer.Commit(n);
      std::vector<Frame> batch;
      Frame f;
      while (buffer.Next(&f) == Decoded::kFrame) batch.push_back(f);
      // Every frame of the batch still lies whole where it was decoded.
      for (const Frame& got : batch) {
        ASSERT_LT(next, frames.size());
        const std::vector<uint8_t>& want = frames[next++];
        EXPECT_EQ(got.header.id, next - 1);
        ASSERT_EQ(got.size(), want.size());
        EXPECT_TRUE(std::equal(want.begin() + kHeaderSize, want.end(), got.payload));
      }
    }
    EXPECT_EQ(next, frames.size());
  }
}

// A malformed frame ends the stream: nothing after it is read, however often Next is asked.
TEST(ReceiveBuffer, StopsAtAMalformedFrameForGood) {
  std::vector<uint8_t> stream(2 * kHeaderSize);
  EncodeHeader(CancelHeader(1), stream.data() + kHeaderSize);
  ReceiveBuffer buffer;
  buffer.Append(stream.data(), stream.size());
  Frame f;
  EXPECT_EQ(buffer.Next(&f), Decoded::kMalformed);
  EXPECT_EQ(buffer.Next(&f), Decoded::kMalformed);
}

}  // namespace
