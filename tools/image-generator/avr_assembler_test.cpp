// The reach of the relative transfers: a label within it resolves, one beyond it fails the
// program. The encodings that the images use are pinned by the committed images
// (image_set_test.cpp).
#include "tools/image-generator/avr_assembler.h"

#include <gtest/gtest.h>

namespace image_generator {
namespace {

TEST(AvrProgram, BrneReachesSixtyThreeWordsAheadAndNoFurther) {
  for (const int gap : {63, 64}) {
    AvrProgram p(0);
    const auto end = p.NewLabel();
    p.Brne(end);
    for (int i = 0; i < gap; ++i) p.Emit(0x0000);
    p.Place(end);
    EXPECT_EQ(p.Finish(), gap == 63) << gap;  // counted from the word after the branch
  }
}

}  // namespace
}  // namespace image_generator
