// The case-insensitive lookup of device names: what it finds follows the folder through every
// change (names that come, go, are renamed; the folder removed and made again; another folder),
// as a listing at the time of the call would, also when the folder had settled and its names were
// kept. That an open falls back on this lookup is device_io_test's (OpensFindTheDeviceAsOnWindows).
#include "platform/posix/device_names.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/posix/test_endpoint.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

TEST(DeviceNamesTest, FollowsTheFolderThroughEveryChange) {
  qdev_test::TempDeviceDir dir, other;
  const std::string a = dir.path(), b = other.path();
  auto make = [](const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "";
  };
  for (int i = 0; i < 300; ++i) make(a + "/QDevUsb" + std::to_string(i));
  // The change: m makes `path` (and its folder), r removes it and all below, n renames it `to`.
  const struct {
    const char* step;
    char change;
    std::string path, to, folder, name;
    Names found;
  } steps[] = {
      {"nothing like it", '-', "", "", a, "QDev5", {}},
      {"a name in another case", 'm', a + "/qdev5", "", a, "QDev5", {"qdev5"}},
      {"and one more", 'm', a + "/QDEV5", "", a, "QDev5", {"QDEV5", "qdev5"}},
      {"the exact name is not another", 'm', a + "/QDev5", "", a, "QDev5", {"QDEV5", "qdev5"}},
      {"one goes", 'r', a + "/qdev5", "", a, "QDev5", {"QDEV5"}},
      {"renamed away", 'n', a + "/QDEV5", a + "/QDev6", a, "qdev5", {"QDev5"}},
      {"renamed in", 'n', a + "/QDev6", a + "/QDEV5", a, "qdev5", {"QDEV5", "QDev5"}},
      {"another folder", 'm', b + "/qDev5", "", b, "QDev5", {"qDev5"}},
      {"back", '-', "", "", a, "QDevUSB299", {"QDevUsb299"}},
      {"the folder removed", 'r', a, "", a, "QDev5", {}},
      {"and made again", 'm', a + "/QDEV5", "", a, "QDev5", {"QDEV5"}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.step);
    // The folder settles and a lookup keeps its names; then it changes.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    qdev_posix::NamesIgnoringCase(s.folder, s.name);
    if (s.change == 'm') make(s.path);
    if (s.change == 'r') fs::remove_all(s.path);
    if (s.change == 'n') fs::rename(s.path, s.to);
    EXPECT_EQ(qdev_posix::NamesIgnoringCase(s.folder, s.name), s.found);
  }
}

}  // namespace
