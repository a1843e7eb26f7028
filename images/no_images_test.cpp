// An executable built without the image_resources library links, and the lookup finds no
// image in it, as in a Windows executable without resources.
#include <gtest/gtest.h>

#include "images/image_list.h"
#include "images/image_lookup.h"
#include "platform/win32.h"

TEST(NoEmbeddedImages, EveryLookupFailsAtFindResource) {
  for (const images::ImageInfo& image : images::kImageList) {
    SetLastError(ERROR_SUCCESS);
    const images::ImageRange r = images::LookupImage(image.name);
    EXPECT_EQ(r.failedStep, images::LookupStep::kFindResource) << image.name;
    EXPECT_EQ(r.data, nullptr) << image.name;
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_DATA_NOT_FOUND) << image.name;
  }
}
