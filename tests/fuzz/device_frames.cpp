// Fuzz target: the device frames (platform/device_frame.h, platform/frame_buffer.h) as the
// client reads replies and the endpoint server reads requests: a byte stream that arrives in
// pieces of any size, decoded frame by frame from a ReceiveBuffer. The frames must be those that a
// second reading of the format finds in the whole stream, in the same order however the stream
// was cut, with the same end (waiting for more, and for how much, or malformed); every request
// and reply must encode back to its bytes; and the reply that a server writes for a request must
// decode, as the client reads it, to what the server sent.
//
// Input (FuzzedDataProvider): the stream, then from the end the sizes of the pieces in which it
// arrives.

#include "platform/device_frame.h"
#include "platform/frame_buffer.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace qf = qdev_frame;
using fuzz::Load32;

// The format: six little-endian words (magic "QDEV", type, id, three by type), then a payload of
// the request's input and output buffers or the reply's data, at most 1 MiB; types 1 to 5.
struct Reading {
  std::vector<size_t> starts;  // of the whole frames
  bool malformed = false;
  size_t consumed = 0;  // the bytes of the whole frames
  size_t awaited = 0;   // with a whole header but not its payload: the bytes the frame takes
};

Reading ReadStream(const std::vector<uint8_t>& s) {
  Reading r;
  while (s.size() - r.consumed >= 24) {
    const uint8_t* w = s.data() + r.consumed;
    const uint32_t type = Load32(w + 4);
    const uint64_t payload = type == 3   ? uint64_t{Load32(w + 16)} + Load32(w + 20)
                             : type == 4 ? Load32(w + 20)
                                         : 0;
    r.malformed = Load32(w) != 0x56454451 || type < 1 || type > 5 || payload > (1u << 20);
    r.awaited = !r.malformed && s.size() - r.consumed - 24 < payload ? 24 + payload : 0;
    if (r.malformed || r.awaited != 0) break;
    r.starts.push_back(r.consumed);
    r.consumed += 24 + payload;
  }
  return r;
}

// The frame is the stream's bytes at `at`: its header words and payload, and for a request or a
// reply, its encoding; a server's reply to a request reads back as sent.
void CheckFrame(const qf::Frame& frame, const uint8_t* at) {
  const qf::Header& h = frame.header;
  FUZZ_CHECK(h.magic == Load32(at) && h.type == Load32(at + 4) && h.id == Load32(at + 8));
  FUZZ_CHECK(std::equal(frame.payload, frame.payload + frame.payloadSize, at + 24));
  std::vector<uint8_t> out(frame.size());
  if (h.type == qf::kOpen) {
    FUZZ_CHECK(h.open.desiredAccess == Load32(at + 12) && h.open.shareMode == Load32(at + 16));
  } else if (h.type == qf::kOpenReply) {
    FUZZ_CHECK(h.reply.error == Load32(at + 12) && h.reply.information == Load32(at + 16) &&
               h.reply.dataSize == Load32(at + 20));
  } else if (h.type == qf::kReply) {
    FUZZ_CHECK(qf::EncodeReply(h.id, h.reply.error, h.reply.information, frame.payload,
                               h.reply.dataSize, out.data()) == frame.size() &&
               std::memcmp(out.data(), at, frame.size()) == 0);
  } else if (h.type == qf::kRequest) {
    FUZZ_CHECK(qf::EncodeRequest(h.id, h.request.ioControlCode, frame.input(), h.request.inputSize,
                                 frame.output(), h.request.outputSize,
                                 out.data()) == frame.size() &&
               std::memcmp(out.data(), at, frame.size()) == 0);
    // The server's reply: the request's output buffer back, as a handler that echoes it would.
    std::vector<uint8_t> reply(qf::kHeaderSize + h.request.outputSize);
    qf::EncodeReply(h.id, h.request.ioControlCode, h.request.inputSize, frame.output(),
                    h.request.outputSize, reply.data());
    qf::ReceiveBuffer client;
    client.Append(reply.data(), reply.size());
    qf::Frame read;
    FUZZ_CHECK(client.Next(&read) == qf::Decoded::kFrame && client.Unconsumed() == 0);
    const qf::Header& r = read.header;
    FUZZ_CHECK(r.type == qf::kReply && r.id == h.id && r.reply.error == h.request.ioControlCode &&
               r.reply.information == h.request.inputSize &&
               read.payloadSize == h.request.outputSize);
    FUZZ_CHECK(std::equal(read.payload, read.payload + read.payloadSize, frame.output()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<size_t> cuts(in.ConsumeIntegralInRange<size_t>(0, 16));
  for (size_t& cut : cuts) cut = in.ConsumeIntegralInRange<size_t>(1, 4096);
  const std::vector<uint8_t> stream = in.ConsumeRemainingBytes<uint8_t>();
  const Reading expected = ReadStream(stream);

  // The stream arrives in the pieces the input gives, then in one piece with the rest; after each,
  // the buffer gives up every whole frame it holds.
  qf::ReceiveBuffer buffer;
  size_t arrived = 0, next = 0;
  qf::Decoded last = qf::Decoded::kNeedMore;
  qf::Frame frame;
  for (size_t piece = 0; piece <= cuts.size() && last != qf::Decoded::kMalformed; ++piece) {
    const size_t n = piece < cuts.size() ? std::min(cuts[piece], stream.size() - arrived)
                                         : stream.size() - arrived;
    // Room for more than arrives, as a read into a larger buffer leaves.
    std::copy_n(stream.begin() + arrived, n, buffer.Space(n + (piece % 3) * 64));
    buffer.Commit(n);
    arrived += n;
    while ((last = buffer.Next(&frame)) == qf::Decoded::kFrame) {
      FUZZ_CHECK(next < expected.starts.size());
      const size_t at = expected.starts[next++];
      FUZZ_CHECK(at + frame.size() ==
                 (next < expected.starts.size() ? expected.starts[next] : expected.consumed));
      CheckFrame(frame, stream.data() + at);
    }
  }
  FUZZ_CHECK(next == expected.starts.size() &&
             (last == qf::Decoded::kMalformed) == expected.malformed);
  FUZZ_CHECK(expected.malformed || (buffer.Unconsumed() == stream.size() - expected.consumed &&
                                    (expected.awaited == 0 || frame.size() == expected.awaited)));
  return 0;
}
