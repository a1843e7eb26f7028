// The embedded images as the update sequence finds them: each name of the list resolves to
// exactly its committed bytes, any other name to nothing; and the resource functions underneath
// fail as Windows' do. What the images hold is the generator's (tools/image-generator), whose
// test pins the committed bytes.
#include "images/image_lookup.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "images/image_list.h"
#include "images/testing/committed_images.h"
#include "platform/testing/test_facilities.h"
#include "platform/win32.h"

namespace {

using images::LookupImage;
using images::LookupStep;

TEST(LookupImage, EveryListedNameResolvesToItsCommittedBytes) {
  for (const images::ImageInfo& image : images::kImageList) {
    const images::ImageRange r = LookupImage(image.name);
    ASSERT_EQ(r.failedStep, LookupStep::kNone) << image.name;
    EXPECT_EQ(std::vector<uint8_t>(r.data, r.data + r.size), images_test::ReadImageFile(image.name))
        << image.name;
  }
}

TEST(LookupImage, UnknownNamesFailAtFindResource) {
  for (const char* name : {"R4690D_APPL", "R4690A_APP", "R4690A_APPL_", "R4690CC", ""})
    EXPECT_EQ(LookupImage(name).failedStep, LookupStep::kFindResource) << name;
}

#ifndef _WIN32
// A resource found but not loaded, or loaded but not locked, fails at that step.
TEST(LookupImage, EachFailingResourceCallNamesItsStep) {
  for (const auto& [nth, step] :
       {std::pair{1u, LookupStep::kLoadResource}, std::pair{2u, LookupStep::kLockResource}}) {
    qdev_test::FailNthResourceCall(nth);
    const images::ImageRange r = LookupImage(images::kR4690C_APPL);
    EXPECT_EQ(r.failedStep, step);
    EXPECT_EQ(r.data, nullptr);
  }
  qdev_test::ClearFaults();
}
#endif

// The resource functions underneath, with the errors that Windows gives: the cross-built tests
// hold the real Windows functions to the same.
TEST(ResourceServices, FindLoadLockAndSizeAsOnWindows) {
  const struct {
    LPCSTR name, type;
    DWORD error;
  } misses[] = {
      {"NO_SUCH_IMAGE", RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},
      {images::kR4690A_APPL, MAKEINTRESOURCEA(77), ERROR_RESOURCE_TYPE_NOT_FOUND},
      {images::kR4690A_APPL, "NO_SUCH_TYPE", ERROR_RESOURCE_TYPE_NOT_FOUND},
  };
  for (const auto& m : misses) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(FindResourceA(nullptr, m.name, m.type), nullptr);
    EXPECT_EQ(GetLastError(), m.error);
  }
  // "#10" is RT_RCDATA written as a string; lower case finds the upper-case name.
  HRSRC resource = FindResourceA(nullptr, "r4690c_appl", "#10");
  ASSERT_NE(resource, nullptr);
  EXPECT_EQ(SizeofResource(nullptr, resource), 8192u);
  EXPECT_EQ(LockResource(LoadResource(nullptr, resource)), LookupImage(images::kR4690C_APPL).data);
}

}  // namespace
