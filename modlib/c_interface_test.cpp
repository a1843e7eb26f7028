// The C interface (r4690module.h): every function refuses a null handle and a null argument. What
// each function sends is its C++ operation's (r4690_boot_loader_test.cpp); a module opened by slot
// or by serial number, used and closed through it, is the Python package's tests' (python/tests,
// run by scripts/check-install).
#include <gtest/gtest.h>

#include <functional>
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

}  // namespace
}  // namespace modlib_test
