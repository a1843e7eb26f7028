// wsprintfA as the device paths use it, and its 1024-byte bound.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32.h"

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

}  // namespace
