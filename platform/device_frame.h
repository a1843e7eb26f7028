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

struct Header {
  uint32_t magic;
  uint32_t type;
  uint32_t id;
  uint32_t word3;  // kOpen: desiredAccess; kRequest: ioControlCode; replies: error
  uint32_t word4;  // kOpen: shareMode; kRequest: inputSize; kReply: information
  uint32_t word5;  // kRequest: outputSize; kReply: dataSize
};

inline void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void EncodeHeader(const Header& h, uint8_t out[kHeaderSize]) {
  PutLe32(out + 0, h.magic);
  PutLe32(out + 4, h.type);
  PutLe32(out + 8, h.id);
  PutLe32(out + 12, h.word3);
  PutLe32(out + 16, h.word4);
  PutLe32(out + 20, h.word5);
}

inline Header DecodeHeader(const uint8_t in[kHeaderSize]) {
  return Header{GetLe32(in + 0),  GetLe32(in + 4),  GetLe32(in + 8),
                GetLe32(in + 12), GetLe32(in + 16), GetLe32(in + 20)};
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
      n = static_cast<uint64_t>(h.word4) + h.word5;
      break;
    case kReply:
      n = h.word5;
      break;
    default:
      return false;
  }
  if (n > kMaxPayload) return false;
  *size = static_cast<uint32_t>(n);
  return true;
}

}  // namespace qdev_frame
