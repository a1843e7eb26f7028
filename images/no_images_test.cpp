// An executable built without the image_resources library links, and the lookup finds no
// image in it, as in a Windows executable without resources.
#include <gtest/gtest.h>

#include "images/image_list.h"
#include "images/image_lookup.h"
#include "platform/win32.h"

namespace {

TEST(NoEmbeddedImages, EveryLookupFailsAtFindResource) {
  for (const char* name : {images::kR4690A_APPL, images::kR4690B_APPL, images::kR4690C_APPL,
                           images::kR4690CC_PLD, images::kR4690CI_PLD}) {
    SetLastError(ERROR_SUCCESS);
    const images::ImageRange r = images::LookupImage(name);
    EXPECT_EQ(r.failedStep, images::LookupStep::kFindResource) << name;
    EXPECT_EQ(r.data, nullptr) << name;
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_DATA_NOT_FOUND) << name;
  }
}

}  // namespace
