// The C interface (r4690module.h): every function refuses a null handle, and a module found by its
// serial number is written, read and closed through it with the revision that the open read.
// What each function sends is its C++ operation's (r4690_boot_loader_test.cpp); the Python
// package's tests (python/tests) check the search's care for the modules it passes over.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "modlib/r4690module.h"
#include "modlib/testing/error_texts.h"
#include "modlib/testing/simulated_module_fixture.h"

namespace modlib_test {
namespace {

TEST(CInterfaceArguments, NullHandlesAndPointersAreRefused) {
  ModuleDescription module;
  FirmwareDescription firmware;
  BootLoaderDescription bootLoader;
  PldInfo pld;
  uint8_t bytes[R4690_USER_FLASH_SIZE];
  R4690Module* none = nullptr;
  const std::vector<std::function<int32_t()>> calls = {
      [&] { return r4690_close(none); },
      [&] { return r4690_module_description(none, &module); },
      [&] { return r4690_firmware_description(none, &firmware); },
      [&] { return r4690_boot_loader_description(none, &bootLoader); },
      [&] { return r4690_pld_info(none, &pld); },
      [&] { return r4690_read_user_flash(none, bytes); },
      [&] { return r4690_write_user_flash(none, bytes); },
      [&] { return r4690_read_memory(none, R4690_SEL_BOOT_FLASH, bytes, 1); },
      [&] { return r4690_write_memory(none, R4690_SEL_BOOT_FLASH, bytes, 1); },
      [&] { return r4690_start_application(none); },
      [&] { return r4690_start_boot_loader(none); },
      [&] { return r4690_restart_pld(none); },
      [&] { return r4690_verify_pld(none); },
      [&] { return r4690_last_error(none); }};
  for (size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i](), R4690_ERROR_NULL_HANDLE) << i;

  EXPECT_EQ(r4690_open_slot(0, R4690_DRIVER_QDEV, nullptr), R4690_ERROR_NULL_ARGUMENT);
  R4690Module* opened = reinterpret_cast<R4690Module*>(&module);  // the open must set it null
  EXPECT_EQ(r4690_open_serial(nullptr, R4690_DRIVER_QDEV, &opened, nullptr),
            R4690_ERROR_NULL_ARGUMENT);
  EXPECT_EQ(opened, nullptr);

  char text[8];
  EXPECT_EQ(r4690_error_text(R4690_ERROR_NOT_FOUND, nullptr, sizeof text),
            R4690_ERROR_NULL_ARGUMENT);
  EXPECT_EQ(r4690_error_text(R4690_ERROR_NOT_FOUND, text, sizeof text), R4690_OK);
  EXPECT_EQ(std::string(text), ErrorText(R4690_ERROR_NOT_FOUND).substr(0, sizeof text - 1));
  EXPECT_EQ(r4690_error_text(12345, text, sizeof text), R4690_ERROR_NO_TEXT);
  EXPECT_EQ(text[0], '\0');
}

using CInterface = ModuleTest;

// Revision B without the 0x91 addresses: the user flash is written at 0x83002D00 only because the
// open has read the revision.
TEST_F(CInterface, AModuleFoundBySerialNumberIsWrittenReadAndClosed) {
  Start(R"({"slot":0},{"slot":1,"serialNumber":"second","revision":"B","aliases":false})");
  R4690Module* module = nullptr;
  uint16_t slot = 0;
  ASSERT_EQ(r4690_open_serial("second", R4690_DRIVER_QDEV, &module, &slot), R4690_OK);
  EXPECT_EQ(slot, 1);
  uint8_t written[R4690_USER_FLASH_SIZE], read[R4690_USER_FLASH_SIZE];
  for (size_t i = 0; i < sizeof written; ++i) written[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(r4690_write_user_flash(module, written), R4690_OK);
  EXPECT_EQ(r4690_read_user_flash(module, read), R4690_OK);
  EXPECT_EQ(std::memcmp(written, read, sizeof read), 0);
  EXPECT_EQ(r4690_last_error(module), R4690_ERROR_NONE);
  EXPECT_EQ(r4690_read_memory(module, 0, read, 4), module_error::kOperationFailed);
  EXPECT_EQ(r4690_last_error(module), module_error::kOperationFailed);
  EXPECT_EQ(r4690_close(module), R4690_OK);

  EXPECT_EQ(r4690_open_serial("third", R4690_DRIVER_QDEV, &module, nullptr), R4690_ERROR_NOT_FOUND);
  EXPECT_EQ(module, nullptr);
}

}  // namespace
}  // namespace modlib_test
