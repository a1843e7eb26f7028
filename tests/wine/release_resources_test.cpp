// What Windows reads from the utility's file, through the Win32 API: its version information and
// application manifest, from the file that the build made, loaded as data. (The module interface
// DLL's export and its texts from its own string table: scripts/check-windows-imports and the
// example consumer's run without a driver in scripts/test-windows.)
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "r4690_version.h"

namespace {

// The utility of the build folder, found from this executable's place in it (tests/wine/).
const std::string kUtility = [] {
  char path[MAX_PATH];
  std::string folder(path, GetModuleFileNameA(nullptr, path, sizeof path));
  for (int up = 0; up < 3; ++up) folder.erase(folder.find_last_of('\\'));
  return folder + "\\updater\\r4690-update.exe";
}();

TEST(UtilityVersionInfo, FixedPartAndTextsAreThoseOfTheRelease) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(kUtility.c_str(), &ignored);
  ASSERT_NE(size, 0u) << kUtility;
  std::string data(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoA(kUtility.c_str(), 0, size, data.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(length, sizeof *fixed);
  const DWORD versionMs = (R4690_VERSION_MAJOR << 16) | R4690_VERSION_MINOR;
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, versionMs);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, versionMs);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);  // a release: no debug, no patch
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  // The texts, in the language and code page that the translation table names.
  WORD* translation = nullptr;  // language, code page
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 2 * sizeof(WORD));
  EXPECT_EQ(translation[0], 0x409);
  char block[64];
  wsprintfA(block, "\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
  const std::pair<const char*, std::string> texts[] = {
      {"FileDescription", "Update Utility for R46-90 Module"},
      {"OriginalFilename", "r4690-update.exe"},
      {"InternalName", "r4690-update"},
      {"ProductName", "R46-90 Firmware Update Utility"},
      {"FileVersion", R4690_VERSION_TEXT},
      {"ProductVersion", R4690_VERSION_TEXT},
  };
  for (const auto& [name, expected] : texts) {
    char* value = nullptr;
    ASSERT_TRUE(VerQueryValueA(data.data(), (std::string(block) + name).c_str(),
                               reinterpret_cast<void**>(&value), &length))
        << name;
    EXPECT_EQ(std::string(value), expected) << name;
  }
}

TEST(UtilityManifest, RunsAsInvokerForTheWindowsVersionsItNames) {
  HMODULE file = LoadLibraryExA(kUtility.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(file, nullptr) << kUtility;
  HRSRC found = FindResourceA(file, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(found, nullptr);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(file, found)));
  const std::string manifest(bytes, SizeofResource(file, found));
  FreeLibrary(file);

  EXPECT_NE(manifest.find(R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)"),
            std::string::npos);
  for (const char* os : {"{e2011457-1546-43c5-a5fe-008deee3d3f0}",     // Vista
                         "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",     // 7
                         "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",     // 8
                         "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",     // 8.1
                         "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {  // 10 and 11
    EXPECT_NE(manifest.find(std::string(R"(<supportedOS Id=")") + os + R"("/>)"), std::string::npos)
        << os;
  }
  // Nothing that changes what the console shows or how the window behaves.
  for (const char* setting : {"activeCodePage", "dpiAware", "gdiScaling", "printerDriverIsolation"})
    EXPECT_EQ(manifest.find(setting), std::string::npos) << setting;
}

}  // namespace
