// Fuzz target: the device frames (platform/device_frame.h, platform/frame_buffer.h) as the
// client reads replies and the endpoint server reads requests: a byte stream that arrives in
// pieces of any size, decoded frame by frame from a ReceiveBuffer. The frames must be those that a
// second reading of the format, written here from its description, finds in the whole stream, in
// the same order however the stream was cut, with the same end (waiting for more, and for how
// much, or malformed); every request and reply must encode back to its bytes; and the reply that a
// server writes for a request must decode, as the client reads it, to what the server sent.
//
// Input (FuzzedDataProvider): the stream, then from the end the sizes of the pieces in which it
// arrives.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/device_frame.h"
#include "platform/frame_buffer.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace qf = qdev_frame;

uint32_t Word(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// A frame as the format describes it: six little-endian words, then a payload whose length the
// frame's type gives.
struct Found {
  size_t at = 0;  // where it starts in the stream
  uint32_t words[6] = {};
  uint32_t payloadSize = 0;
};

enum class End { kNeedMore, kMalformed };

struct Reading {
  std::vector<Found> frames;
  End end = End::kNeedMore;
  size_t consumed = 0;  // the bytes of the whole frames
  size_t awaited = 0;   // kNeedMore with a whole header: the bytes the next frame takes
};

Reading ReadStream(const std::vector<uint8_t>& s) {
  Reading r;
  for (;;) {
    const size_t left = s.size() - r.consumed;
    if (left < 24) return r;
    Found f;
    f.at = r.consumed;
    for (int i = 0; i < 6; ++i) f.words[i] = Word(&s[f.at + 4 * i]);
    uint64_t payload = 0;
    switch (f.words[1]) {
      case 1:  // open
      case 2:  // open reply
      case 5:  // cancel
        break;
      case 3:  // request: input and output buffers
        payload = uint64_t{f.words[4]} + f.words[5];
        break;
      case 4:  // reply: its data
        payload = f.words[5];
        break;
      default:
        r.end = End::kMalformed;
        return r;
    }
    if (f.words[0] != 0x56454451 || payload > (1u << 20)) {
      r.end = End::kMalformed;
      return r;
    }
    f.payloadSize = static_cast<uint32_t>(payload);
    if (left - 24 < payload) {
      r.awaited = 24 + f.payloadSize;
      return r;
    }
    r.frames.push_back(f);
    r.consumed += 24 + f.payloadSize;
  }
}

void CheckHeader(const qf::Header& h, const Found& f) {
  FUZZ_CHECK(h.magic == f.words[0] && h.type == f.words[1] && h.id == f.words[2]);
  switch (h.type) {
    case qf::kOpen:
      FUZZ_CHECK(h.open.desiredAccess == f.words[3] && h.open.shareMode == f.words[4]);
      break;
    case qf::kRequest:
      FUZZ_CHECK(h.request.ioControlCode == f.words[3] && h.request.inputSize == f.words[4] &&
                 h.request.outputSize == f.words[5]);
      break;
    case qf::kOpenReply:
    case qf::kReply:
      FUZZ_CHECK(h.reply.error == f.words[3] && h.reply.information == f.words[4] &&
                 h.reply.dataSize == f.words[5]);
      break;
    default:
      break;
  }
}

// A request and a reply encode back to their own bytes; the reply that a server writes for a
// request reads back, on the client's side, as what it sent.
void CheckEncoding(const qf::Frame& frame, const uint8_t* bytes) {
  const qf::Header& h = frame.header;
  std::vector<uint8_t> out(frame.size());
  if (h.type == qf::kRequest) {
    FUZZ_CHECK(qf::EncodeRequest(h.id, h.request.ioControlCode, frame.input(), h.request.inputSize,
                                 frame.output(), h.request.outputSize, out.data()) == frame.size());
    FUZZ_CHECK(std::memcmp(out.data(), bytes, frame.size()) == 0);

    // The server's reply: the request's output buffer back, as a handler that echoes it would.
    std::vector<uint8_t> reply(qf::kHeaderSize + h.request.outputSize);
    qf::EncodeReply(h.id, h.request.ioControlCode, h.request.inputSize, frame.output(),
                    h.request.outputSize, reply.data());
    qf::ReceiveBuffer client;
    client.Append(reply.data(), reply.size());
    qf::Frame read;
    FUZZ_CHECK(client.Next(&read) == qf::Decoded::kFrame);
    FUZZ_CHECK(read.header.type == qf::kReply && read.header.id == h.id);
    FUZZ_CHECK(read.header.reply.error == h.request.ioControlCode);
    FUZZ_CHECK(read.header.reply.information == h.request.inputSize);
    FUZZ_CHECK(read.payloadSize == h.request.outputSize);
    FUZZ_CHECK(read.payloadSize == 0 ||
               std::memcmp(read.payload, frame.output(), read.payloadSize) == 0);
    FUZZ_CHECK(client.Unconsumed() == 0);
  } else if (h.type == qf::kReply) {
    FUZZ_CHECK(qf::EncodeReply(h.id, h.reply.error, h.reply.information, frame.payload,
                               h.reply.dataSize, out.data()) == frame.size());
    FUZZ_CHECK(std::memcmp(out.data(), bytes, frame.size()) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const size_t pieces = in.ConsumeIntegralInRange<size_t>(0, 16);
  std::vector<size_t> cuts;
  for (size_t i = 0; i < pieces; ++i) cuts.push_back(in.ConsumeIntegralInRange<size_t>(1, 4096));
  const std::vector<uint8_t> stream = in.ConsumeRemainingBytes<uint8_t>();
  const Reading expected = ReadStream(stream);

  // The stream arrives in the pieces the input gives, then in one piece with the rest; after each,
  // the buffer gives up every whole frame it holds.
  qf::ReceiveBuffer buffer;
  size_t arrived = 0;
  size_t next = 0;  // the next frame expected
  qf::Decoded last = qf::Decoded::kNeedMore;
  qf::Frame frame;
  for (size_t piece = 0; piece <= cuts.size() && last != qf::Decoded::kMalformed; ++piece) {
    const size_t n = piece < cuts.size() ? std::min(cuts[piece], stream.size() - arrived)
                                         : stream.size() - arrived;
    // Room for more than arrives, as a read into a larger buffer leaves.
    uint8_t* space = buffer.Space(n + (piece % 3) * 64);
    if (n != 0) std::memcpy(space, stream.data() + arrived, n);
    buffer.Commit(n);
    arrived += n;
    while ((last = buffer.Next(&frame)) == qf::Decoded::kFrame) {
      FUZZ_CHECK(next < expected.frames.size());
      const Found& f = expected.frames[next++];
      CheckHeader(frame.header, f);
      FUZZ_CHECK(frame.payloadSize == f.payloadSize && frame.size() == 24 + f.payloadSize);
      FUZZ_CHECK(f.payloadSize == 0 ||
                 std::memcmp(frame.payload, stream.data() + f.at + 24, f.payloadSize) == 0);
      CheckEncoding(frame, stream.data() + f.at);
    }
  }
  FUZZ_CHECK(next == expected.frames.size());
  FUZZ_CHECK((last == qf::Decoded::kMalformed) == (expected.end == End::kMalformed));
  if (expected.end == End::kNeedMore) {
    FUZZ_CHECK(buffer.Unconsumed() == stream.size() - expected.consumed);
    if (expected.awaited != 0) FUZZ_CHECK(frame.size() == expected.awaited);
  }
  return 0;
}
