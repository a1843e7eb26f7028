// Instruction encodings checked against words that the AVR instruction set defines, and label
// resolution including the ranges that relative transfers cannot exceed.
#include "images/generator/avr_assembler.h"

#include <gtest/gtest.h>

namespace image_generator {
namespace {

struct EncodingCase {
  const char* text;
  uint16_t actual;
  uint16_t expected;
};

TEST(AvrAssembler, EncodesSingleWordInstructions) {
  const EncodingCase cases[] = {
      {"ldi r28,0xFF", AvrLdi(28, 0xFF), 0xEFCF}, {"ldi r29,0x04", AvrLdi(29, 0x04), 0xE0D4},
      {"ldi r16,0x5A", AvrLdi(16, 0x5A), 0xE50A}, {"eor r1,r1", AvrEor(1, 1), 0x2411},
      {"eor r31,r17", AvrEor(31, 17), 0x27F1},    {"dec r24", AvrDec(24), 0x958A},
      {"out 0x3f,r1", AvrOut(0x3F, 1), 0xBE1F},   {"out 0x3e,r29", AvrOut(0x3E, 29), 0xBFDE},
      {"out 0x17,r24", AvrOut(0x17, 24), 0xBB87}, {"in r24,0x16", AvrIn(24, 0x16), 0xB386},
      {"sbi 0x18,0", AvrSbi(0x18, 0), 0x9AC0},    {"cbi 0x18,7", AvrCbi(0x18, 7), 0x98C7},
  };
  for (const EncodingCase& c : cases) EXPECT_EQ(c.actual, c.expected) << c.text;
}

TEST(AvrAssembler, EncodesLongTransfers) {
  const struct {
    AvrLongWords actual;
    uint16_t first, second;
  } cases[] = {
      {AvrJmp(0x0000), 0x940C, 0x0000},   {AvrJmp(0x0038), 0x940C, 0x0038},
      {AvrCall(0x1234), 0x940E, 0x1234},  {AvrJmp(0x10000), 0x940D, 0x0000},
      {AvrJmp(0x3FFFFF), 0x95FD, 0xFFFF},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.actual.first, c.first);
    EXPECT_EQ(c.actual.second, c.second);
  }
}

TEST(AvrAssembler, EncodesRelativeTransfersWithinRange) {
  const struct {
    bool (*encode)(int, uint16_t*);
    int offset;
    bool ok;
    uint16_t word;
  } cases[] = {
      {AvrRjmp, -1, true, 0xCFFF}, {AvrRjmp, 2047, true, 0xC7FF}, {AvrRjmp, -2048, true, 0xC800},
      {AvrRjmp, 2048, false, 0},   {AvrRcall, 3, true, 0xD003},   {AvrRcall, -2049, false, 0},
      {AvrBrne, -2, true, 0xF7F1}, {AvrBrne, 63, true, 0xF5F9},   {AvrBrne, -64, true, 0xF601},
      {AvrBrne, 64, false, 0},     {AvrBrne, -65, false, 0},
  };
  for (const auto& c : cases) {
    uint16_t word = 0;
    EXPECT_EQ(c.encode(c.offset, &word), c.ok) << "offset " << c.offset;
    if (c.ok) {
      EXPECT_EQ(word, c.word) << "offset " << c.offset;
    }
  }
}

TEST(AvrProgram, ResolvesLabelsBothWays) {
  AvrProgram p(0x38);
  const auto top = p.NewLabel();
  const auto below = p.NewLabel();
  p.Place(top);    // 0x38
  p.Rjmp(below);   // 0x38 -> 0x3C: +3
  p.Call(below);   // 0x39..0x3A
  p.Brne(top);     // 0x3B -> 0x38: -4
  p.Place(below);  // 0x3C
  p.Jmp(top);      // 0x3C..0x3D
  ASSERT_TRUE(p.Finish());
  const std::vector<uint16_t> expected = {0xC003, 0x940E, 0x003C, 0xF7E1, 0x940C, 0x0038};
  EXPECT_EQ(p.Words(), expected);
  const std::vector<uint8_t> bytes = {0x03, 0xC0, 0x0E, 0x94, 0x3C, 0x00,
                                      0xE1, 0xF7, 0x0C, 0x94, 0x38, 0x00};
  EXPECT_EQ(p.Bytes(), bytes);
}

TEST(AvrProgram, RefusesUnplacedOrUnreachableLabels) {
  AvrProgram unplaced(0);
  unplaced.Rjmp(unplaced.NewLabel());
  EXPECT_FALSE(unplaced.Finish());

  AvrProgram distant(0);
  const auto end = distant.NewLabel();
  distant.Brne(end);
  for (int i = 0; i < 64; ++i) distant.Emit(0x0000);  // brne reaches 63 words ahead at most
  distant.Place(end);
  EXPECT_FALSE(distant.Finish());
}

}  // namespace
}  // namespace image_generator
