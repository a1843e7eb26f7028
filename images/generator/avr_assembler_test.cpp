// Instruction encodings checked against words that the AVR instruction set defines, and label
// resolution including the range that a branch cannot exceed.
#include "images/generator/avr_assembler.h"

#include <gtest/gtest.h>

namespace image_generator {
namespace {

TEST(AvrAssembler, EncodesAsTheInstructionSetDefines) {
  EXPECT_EQ(AvrLdi(28, 0xFF), 0xEFCF);
  EXPECT_EQ(AvrEor(31, 17), 0x27F1);
  EXPECT_EQ(AvrDec(24), 0x958A);
  EXPECT_EQ(AvrOut(0x3E, 29), 0xBFDE);
  EXPECT_EQ(AvrIn(24, 0x16), 0xB386);
  EXPECT_EQ(AvrSbi(0x18, 0), 0x9AC0);
  EXPECT_EQ(AvrCbi(0x18, 7), 0x98C7);
}

// Relative and long transfers to labels both ways, and a branch out of reach.
TEST(AvrProgram, ResolvesLabelsBothWaysAndRefusesUnreachableOnes) {
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
  EXPECT_EQ(p.Bytes(), (std::vector<uint8_t>{0x03, 0xC0, 0x0E, 0x94, 0x3C, 0x00, 0xE1, 0xF7, 0x0C,
                                             0x94, 0x38, 0x00}));

  AvrProgram distant(0);
  const auto end = distant.NewLabel();
  distant.Brne(end);
  for (int i = 0; i < 64; ++i) distant.Emit(0x0000);  // brne reaches 63 words ahead at most
  distant.Place(end);
  EXPECT_FALSE(distant.Finish());
}

}  // namespace
}  // namespace image_generator
