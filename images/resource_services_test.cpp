// The platform's resource functions as the image lookup relies on them, with the error values
// that Windows gives: the same expectations hold for the real Windows functions in the
// cross-built tests.
#include <gtest/gtest.h>

#include <string>

#include "images/image_names.h"
#include "platform/win32.h"

namespace {

struct MissCase {
  const char* label;
  LPCSTR name;
  LPCSTR type;
  DWORD error;
};

class ResourceMissTest : public testing::TestWithParam<MissCase> {};

TEST_P(ResourceMissTest, FailsWithTheWindowsError) {
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(FindResourceA(nullptr, GetParam().name, GetParam().type), nullptr);
  EXPECT_EQ(GetLastError(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    UnknownNamesAndTypes, ResourceMissTest,
    testing::Values(
        MissCase{"UnknownName", "NO_SUCH_IMAGE", RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},
        MissCase{"IntegerName", MAKEINTRESOURCEA(1), RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},
        MissCase{"NumberedName", "#1", RT_RCDATA, ERROR_RESOURCE_NAME_NOT_FOUND},
        MissCase{"UnknownIntegerType", images::kR4690A_APPL, MAKEINTRESOURCEA(77),
                 ERROR_RESOURCE_TYPE_NOT_FOUND},
        MissCase{"UnknownStringType", images::kR4690A_APPL, "NO_SUCH_TYPE",
                 ERROR_RESOURCE_TYPE_NOT_FOUND}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ResourceServices, FoundResourceLoadsLocksAndSizes) {
  // "#10" is RT_RCDATA written as a string; lower case finds the upper-case name.
  const LPCSTR types[] = {RT_RCDATA, "#10"};
  for (LPCSTR type : types) {
    HRSRC resource = FindResourceA(nullptr, "r4690c_appl", type);
    ASSERT_NE(resource, nullptr);
    HGLOBAL loaded = LoadResource(nullptr, resource);
    ASSERT_NE(loaded, nullptr);
    const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, resource), 8192u);
    EXPECT_EQ(bytes[0], 0x0C);  // the first JMP of the vector table
    EXPECT_EQ(bytes[1], 0x94);
  }
}

}  // namespace
