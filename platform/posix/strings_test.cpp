// wsprintfA as the device paths use it, and its 1024-byte bound; LoadStringA over this test
// executable's own string table, and the module handles it is asked with.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/resource_table.h"
#include "platform/win32.h"

namespace {

const qdev_posix::EmbeddedString kStrings[] = {
    {7, "seven"}, {8, ""}, {1001, "one thousand and one"}};

}  // namespace

extern "C" const qdev_posix::EmbeddedStringTable r4690_embedded_strings = {kStrings, 3};

namespace {

TEST(WsprintfTest, FormatsDevicePathsAndStopsAt1024BytesWithItsZero) {
  char buffer[32];
  EXPECT_EQ(wsprintfA(buffer, "\\\\.\\QDevUsb%d", 65535), 16);
  EXPECT_STREQ(buffer, "\\\\.\\QDevUsb65535");

  std::vector<char> big(2048, 'z');
  EXPECT_EQ(wsprintfA(big.data(), "%s", std::string(1500, 'a').c_str()), 1023);
  EXPECT_EQ(std::string(big.data()), std::string(1023, 'a'));
  EXPECT_EQ(big[1024], 'z');  // nothing beyond the bound is touched
}

// The module handles that LoadStringA is asked with: no name gives the executable, an address
// the module that holds it.
TEST(LoadStringTest, FindsThisModulesStringsOnly) {
  constexpr DWORD kFromAddress = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
  HMODULE executable = nullptr, ofStrings = nullptr, library = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(0, nullptr, &executable));
  ASSERT_TRUE(GetModuleHandleExA(kFromAddress, reinterpret_cast<LPCSTR>(&kStrings), &ofStrings));
  EXPECT_EQ(ofStrings, executable);
  ASSERT_TRUE(GetModuleHandleExA(kFromAddress, reinterpret_cast<LPCSTR>(&std::strlen), &library));
  EXPECT_NE(library, executable);
  const struct {
    const char* label;
    HINSTANCE module;
    UINT id;
    int size;
    int result;
    const char* text;  // what the buffer holds afterwards
    DWORD error;       // GetLastError after a result of 0
  } cases[] = {
      {"by handle", executable, 7, 64, 5, "seven", 0},
      {"null is the executable", nullptr, 1001, 64, 20, "one thousand and one", 0},
      {"the id's low word only", executable, 0x30007, 64, 5, "seven", 0},
      {"cut to the buffer", executable, 1001, 4, 3, "one", 0},
      {"room for the zero only", executable, 7, 1, 0, "", 0},
      {"empty is no string", executable, 8, 64, 0, "", ERROR_RESOURCE_NAME_NOT_FOUND},
      {"no such id", executable, 9, 64, 0, "", ERROR_RESOURCE_NAME_NOT_FOUND},
      {"another module", library, 7, 64, 0, "", ERROR_RESOURCE_DATA_NOT_FOUND},
  };
  for (const auto& c : cases) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(LoadStringA(c.module, c.id, buffer, c.size), c.result) << c.label;
    EXPECT_STREQ(buffer, c.text) << c.label;
    if (c.result == 0) {
      EXPECT_EQ(GetLastError(), c.error) << c.label;
    }
  }
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(LoadStringA(executable, 7, nullptr, 64), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  HMODULE module = executable;
  EXPECT_FALSE(GetModuleHandleExA(kFromAddress, nullptr, &module));
  EXPECT_EQ(module, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_FALSE(GetModuleHandleExA(0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
