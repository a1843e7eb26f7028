// The framing between the platform's device I/O and a device endpoint.
//
// On systems without Windows, a device of the Win32 device namespace ("\\.\QDev5") is a local
// stream socket named after the device ("QDev5") in the device folder. The folder is
// $QDEV_DEVICE_DIR, or kDefaultDeviceDir when that is unset or empty. Whoever serves the socket
// (the module simulator, a test endpoint) plays the kernel driver.
//
// On Windows the device's kernel driver forwards its requests to a byte-mode named pipe named
// after the device: kPipeNamePrefix + "QDev5" in the pipe namespace ("\\.\pipe\" in user mode,
// "\Device\NamedPipe\" to a driver). The driver has done the open, so only kRequest and
// kCancel travel on the pipe, with their replies.
//
// Every frame is a 24-byte header of six little-endian 32-bit words, followed by a payload whose
// length the header gives:
//
//   client -> endpoint
//     kOpen     {magic, kOpen, 0, desiredAccess, shareMode, 0}           no payload
//     kRequest  {magic, kRequest, id, ioControlCode, inputSize, outputSize}
//               payload: inputSize bytes of input buffer, then outputSize bytes of output
//               buffer (the data of a host-to-device request travels there)
//     kCancel   {magic, kCancel, id, 0, 0, 0}                             no payload
//   endpoint -> client
//     kOpenReply {magic, kOpenReply, 0, error, 0, 0}                      no payload
//     kReply    {magic, kReply, id, error, information, dataSize}
//               payload: dataSize bytes, copied to the start of the output buffer
//
// `error` is a Windows error value (0 = success). `information` is the byte count that the
// request reports as transferred. Request ids are chosen by the client, never reused on one
// connection and not predictable, so that the late reply of a cancelled request, or a reply sent
// ahead of its request, is recognised and dropped. An endpoint may ignore kCancel; a request it
// never answers stays pending until the client cancels it or the connection ends.
//
// This header is the frame format's one decoder and encoder: bytes in, frames out, no OS and no
// runtime (the kernel-driver stand-in includes it too). DecodeFrame finds the frame at the start
// of a buffer without copying it; EncodeRequest and EncodeReply write a whole frame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contract/little_endian.h"

namespace qdev_frame {

constexpr char kDefaultDeviceDir[] = "/tmp/qdev";
constexpr char kDeviceDirVariable[] = "QDEV_DEVICE_DIR";
constexpr char kPipeNamePrefix[] = "r4690-qdev-";

constexpr uint32_t kMagic = 0x56454451;  // "QDEV" read as little-endian bytes
constexpr size_t kHeaderSize = 24;
// Larger payloads are refused by both sides; the system's largest transfer is 8 + 4096 bytes.
constexpr uint32_t kMaxPayload = 1u << 20;

enum FrameType : uint32_t {
  kOpen = 1,
  kOpenReply = 2,
  kRequest = 3,
  kReply = 4,
  kCancel = 5,
};

// A frame header, decoded. magic, type and id are common to every type; the three words that
// follow mean something different in each, so each type has its own names for them and only
// the names of the header's type are used.
struct Header {
  uint32_t magic = kMagic;
  uint32_t type = 0;
  uint32_t id = 0;  // kRequest, kReply, kCancel: the request id; 0 in the others
  struct {
    uint32_t desiredAccess = 0;
    uint32_t shareMode = 0;
  } open;  // kOpen
  struct {
    uint32_t ioControlCode = 0;
    uint32_t inputSize = 0;
    uint32_t outputSize = 0;
  } request;  // kRequest
  struct {
    uint32_t error = 0;        // a Windows error value, 0 for success
    uint32_t information = 0;  // kReply: the byte count reported as transferred
    uint32_t dataSize = 0;     // kReply: the payload's length
  } reply;                     // kOpenReply (error only) and kReply
};

inline Header OpenHeader(uint32_t desiredAccess, uint32_t shareMode) {
  Header h;
  h.type = kOpen;
  h.open = {desiredAccess, shareMode};
  return h;
}

inline Header OpenReplyHeader(uint32_t error) {
  Header h;
  h.type = kOpenReply;
  h.reply.error = error;
  return h;
}

inline Header RequestHeader(uint32_t id, uint32_t ioControlCode, uint32_t inputSize,
                            uint32_t outputSize) {
  Header h;
  h.type = kRequest;
  h.id = id;
  h.request = {ioControlCode, inputSize, outputSize};
  return h;
}

inline Header ReplyHeader(uint32_t id, uint32_t error, uint32_t information, uint32_t dataSize) {
  Header h;
  h.type = kReply;
  h.id = id;
  h.reply = {error, information, dataSize};
  return h;
}

inline Header CancelHeader(uint32_t id) {
  Header h;
  h.type = kCancel;
  h.id = id;
  return h;
}

inline void EncodeHeader(const Header& h, uint8_t out[kHeaderSize]) {
  uint32_t words[3] = {0, 0, 0};
  switch (h.type) {
    case kOpen:
      words[0] = h.open.desiredAccess;
      words[1] = h.open.shareMode;
      break;
    case kRequest:
      words[0] = h.request.ioControlCode;
      words[1] = h.request.inputSize;
      words[2] = h.request.outputSize;
      break;
    case kOpenReply:
    case kReply:
      words[0] = h.reply.error;
      words[1] = h.reply.information;
      words[2] = h.reply.dataSize;
      break;
    default:
      break;
  }
  little_endian::Store32(out + 0, h.magic);
  little_endian::Store32(out + 4, h.type);
  little_endian::Store32(out + 8, h.id);
  for (int i = 0; i < 3; ++i) little_endian::Store32(out + 12 + 4 * i, words[i]);
}

inline Header DecodeHeader(const uint8_t in[kHeaderSize]) {
  Header h;
  h.magic = little_endian::Load32(in + 0);
  h.type = little_endian::Load32(in + 4);
  h.id = little_endian::Load32(in + 8);
  const uint32_t words[3] = {little_endian::Load32(in + 12), little_endian::Load32(in + 16),
                             little_endian::Load32(in + 20)};
  switch (h.type) {
    case kOpen:
      h.open = {words[0], words[1]};
      break;
    case kRequest:
      h.request = {words[0], words[1], words[2]};
      break;
    case kOpenReply:
    case kReply:
      h.reply = {words[0], words[1], words[2]};
      break;
    default:
      break;
  }
  return h;
}

// Payload length that follows a header, or false when the header is malformed.
inline bool PayloadSize(const Header& h, uint32_t* size) {
  if (h.magic != kMagic) return false;
  uint64_t n = 0;
  switch (h.type) {
    case kOpen:
    case kOpenReply:
    case kCancel:
      n = 0;
      break;
    case kRequest:
      n = static_cast<uint64_t>(h.request.inputSize) + h.request.outputSize;
      break;
    case kReply:
      n = h.reply.dataSize;
      break;
    default:
      return false;
  }
  if (n > kMaxPayload) return false;
  *size = static_cast<uint32_t>(n);
  return true;
}

// A frame as it lies in a buffer: its header, and its payload where it is (nothing is copied).
struct Frame {
  Header header;
  const uint8_t* payload = nullptr;
  uint32_t payloadSize = 0;

  // The bytes that the whole frame takes in the stream.
  size_t size() const { return kHeaderSize + payloadSize; }
  // kRequest: the input buffer, then the output buffer as the client sent it.
  const uint8_t* input() const { return payload; }
  const uint8_t* output() const { return payload + header.request.inputSize; }
};

enum class Decoded {
  kFrame,      // a whole frame
  kNeedMore,   // the bytes end before the frame does
  kMalformed,  // not a frame of this format: the stream cannot be read on
};

// Decodes the frame at the start of data[0, size). With kNeedMore, once the header is there,
// frame->header and frame->payloadSize are set, so frame->size() tells how many bytes to wait for.
inline Decoded DecodeFrame(const uint8_t* data, size_t size, Frame* frame) {
  if (size < kHeaderSize) return Decoded::kNeedMore;
  frame->header = DecodeHeader(data);
  if (!PayloadSize(frame->header, &frame->payloadSize)) return Decoded::kMalformed;
  if (size - kHeaderSize < frame->payloadSize) {
    frame->payload = nullptr;
    return Decoded::kNeedMore;
  }
  frame->payload = data + kHeaderSize;
  return Decoded::kFrame;
}

namespace detail {
// The compiler's own copy: inline or a call of memcpy, which a kernel driver gets from the kernel.
inline uint8_t* CopyBytes(uint8_t* to, const uint8_t* from, size_t n) {
  if (n != 0) __builtin_memcpy(to, from, n);
  return to + n;
}
}  // namespace detail

// The bytes of a kRequest frame with its input and output buffers.
inline size_t RequestFrameSize(uint32_t inputSize, uint32_t outputSize) {
  return kHeaderSize + static_cast<size_t>(inputSize) + outputSize;
}

// Writes a kRequest frame, RequestFrameSize(inputSize, outputSize) bytes, to `out`. The sizes
// must together stay within kMaxPayload.
inline size_t EncodeRequest(uint32_t id, uint32_t ioControlCode, const uint8_t* input,
                            uint32_t inputSize, const uint8_t* output, uint32_t outputSize,
                            uint8_t* out) {
  EncodeHeader(RequestHeader(id, ioControlCode, inputSize, outputSize), out);
  uint8_t* end = detail::CopyBytes(out + kHeaderSize, input, inputSize);
  detail::CopyBytes(end, output, outputSize);
  return RequestFrameSize(inputSize, outputSize);
}

// Writes a kReply frame carrying `dataSize` bytes of data (at most kMaxPayload) to `out`, which
// holds kHeaderSize + dataSize bytes.
inline size_t EncodeReply(uint32_t id, uint32_t error, uint32_t information, const uint8_t* data,
                          uint32_t dataSize, uint8_t* out) {
  EncodeHeader(ReplyHeader(id, error, information, dataSize), out);
  detail::CopyBytes(out + kHeaderSize, data, dataSize);
  return kHeaderSize + dataSize;
}

}  // namespace qdev_frame
