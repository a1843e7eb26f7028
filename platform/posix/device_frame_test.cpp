// The device frames' headers on the wire: each type's fields in their words, little-endian, and
// back again, with the payload length that each type announces.
#include "platform/device_frame.h"

#include <gtest/gtest.h>

#include <cstdint>

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
      {"request",
       RequestHeader(77, 0x22003E, 8, 4096),
       {kMagic, kRequest, 77, 0x22003E, 8, 4096},
       8 + 4096},
      {"reply", ReplyHeader(77, 31, 3, 7), {kMagic, kReply, 77, 31, 3, 7}, 7},
      {"cancel", CancelHeader(78), {kMagic, kCancel, 78, 0, 0, 0}, 0},
  };
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(c.what);
    uint8_t bytes[kHeaderSize];
    EncodeHeader(c.header, bytes);
    for (int w = 0; w < 6; ++w) {
      const uint8_t* at = bytes + 4 * w;
      EXPECT_EQ(at[0] | at[1] << 8 | at[2] << 16 | uint32_t{at[3]} << 24, c.words[w]) << w;
    }
    const Header back = DecodeHeader(bytes);
    EXPECT_EQ(back.type, c.header.type);
    EXPECT_EQ(back.id, c.header.id);
    EXPECT_EQ(back.open.desiredAccess, c.header.open.desiredAccess);
    EXPECT_EQ(back.open.shareMode, c.header.open.shareMode);
    EXPECT_EQ(back.request.ioControlCode, c.header.request.ioControlCode);
    EXPECT_EQ(back.request.inputSize, c.header.request.inputSize);
    EXPECT_EQ(back.request.outputSize, c.header.request.outputSize);
    EXPECT_EQ(back.reply.error, c.header.reply.error);
    EXPECT_EQ(back.reply.information, c.header.reply.information);
    EXPECT_EQ(back.reply.dataSize, c.header.reply.dataSize);
    uint32_t payload = 0;
    ASSERT_TRUE(PayloadSize(back, &payload));
    EXPECT_EQ(payload, c.payload);
  }
}

TEST(DeviceFrame, MalformedHeadersAnnounceNoPayload) {
  Header wrongMagic = CancelHeader(1);
  wrongMagic.magic = 0;
  Header unknownType = CancelHeader(1);
  unknownType.type = 9;
  const Header tooLarge = RequestHeader(1, 0x22003E, kMaxPayload, 1);
  uint32_t payload = 0;
  EXPECT_FALSE(PayloadSize(wrongMagic, &payload));
  EXPECT_FALSE(PayloadSize(unknownType, &payload));
  EXPECT_FALSE(PayloadSize(tooLarge, &payload));
}

}  // namespace
