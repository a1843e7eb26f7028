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

}  // namespace qdev_frame
