// The C interface (r4690module.h): every function refuses a null handle and a null argument. What
// each function sends is its C++ operation's (module_objects_test.cpp); a module opened by slot
// or by serial number, used and closed through it, is the Python package's tests' (python/tests,
// run by scripts/check-install).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modlib/r4690module.h"
#include "modlib/testing/error_texts.h"

namespace modlib_test {
namespace {

TEST(CInterfaceArguments, NullHandlesAndPointersAreRefused) {
  ModuleDescription module;
  FirmwareDescription firmware;
  BootLoaderDescription bootLoader;
  PldInfo pld;
  uint8_t bytes[R4690_USER_FLASH_SIZE];
  R4690Module* none = nullptr;
  // clang-format off
  const std::vector<int32_t> results = {
      r4690_close(none), r4690_module_description(none, &module),
      r4690_firmware_description(none, &firmware), r4690_boot_loader_description(none, &bootLoader),
      r4690_pld_info(none, &pld), r4690_read_user_flash(none, bytes),
      r4690_write_user_flash(none, bytes), r4690_read_memory(none, R4690_SEL_BOOT_FLASH, bytes, 1),
      r4690_write_memory(none, R4690_SEL_BOOT_FLASH, bytes, 1), r4690_start_application(none),
      r4690_start_boot_loader(none), r4690_restart_pld(none), r4690_verify_pld(none),
      r4690_last_error(none)};
  // clang-format on
  EXPECT_EQ(results, std::vector<int32_t>(results.size(), R4690_ERROR_NULL_HANDLE));

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

}  // namespace
}  // namespace modlib_test
