// The C interface of r4690module.h. A handle owns one boot-loader interface object, made by
// CreateInstance, and every function is one or a few of that object's operations: the C interface
// has no module logic of its own beyond finding a module by its serial number. The handle keeps
// the code of its most recent failure; nothing else is shared between handles.
#include <climits>
#include <memory>
#include <new>

#include "contract/module_addresses.h"
#include "modlib/error_codes.h"
#include "modlib/interfaces.h"
#include "modlib/library_instance.h"
#include "modlib/r4690module.h"
#include "modlib/records.h"
#include "platform/win32.h"

// The header's constants are the contract's addresses and the codes of the library's list.
static_assert(R4690_SEL_MCU_FLASH == SEL_MCU_FLASH);
static_assert(R4690_SEL_MODULE_TG_DATA == SEL_MODULE_TG_DATA);
static_assert(R4690_SEL_PLD_INFO == SEL_PLD_INFO);
static_assert(R4690_SEL_BOOT_FLASH == SEL_BOOT_FLASH);
static_assert(R4690_SEL_MCU_FLASH_ALIAS == SEL_MCU_FLASH_ALIAS);
static_assert(R4690_APPLICATION_ENTRY == module_addresses::kApplicationEntry);
static_assert(R4690_BOOT_LOADER_ENTRY == module_addresses::kBootLoaderEntry);
static_assert(R4690_USER_FLASH_SIZE == module_addresses::kUserFlashSize);
static_assert(R4690_ERROR_NONE == module_error::kNone);
static_assert(R4690_ERROR_NO_TEXT == module_error::kNoErrorText);
static_assert(R4690_ERROR_NULL_HANDLE == module_error::kNullHandle);
static_assert(R4690_ERROR_NULL_ARGUMENT == module_error::kNullArgument);
static_assert(R4690_ERROR_NO_MEMORY == module_error::kNoMemory);
static_assert(R4690_ERROR_NOT_FOUND == module_error::kSerialNotFound);

struct R4690Module {
  IR4690_BOOT_LOADER* object;  // owned: released by r4690_close
  int32_t lastError;           // code of the most recent failure through this handle
};

namespace {

struct ReleaseObject {
  void operator()(IR4690_BOOT_LOADER* object) const { object->ReleaseInstance(); }
};
// An interface object that no handle owns yet.
using ObjectPtr = std::unique_ptr<IR4690_BOOT_LOADER, ReleaseObject>;

// The code of the object's last failure, as GetLastErrorInfo reports it.
int32_t ObjectError(IR4690_BOOT_LOADER& object) {
  LastErrorInfo info;
  object.GetLastErrorInfo(&info);
  return static_cast<int32_t>(info.ErrorNumber);
}

// The result of an operation of the handle's object: R4690_OK, or the object's code, which the
// handle keeps as its last error.
int32_t Result(R4690Module& module, bool succeeded) {
  if (succeeded) return R4690_OK;
  module.lastError = ObjectError(*module.object);
  return module.lastError;
}

// Opening a module puts its MCU in the boot loader. A module that is let go again gets its
// application back when it holds one (the start fails harmlessly when it does not), then it is
// closed: it is left as a module that nobody opened.
void LetGo(IR4690_BOOT_LOADER& object) {
  object.RunMcuApplication(R4690_APPLICATION_ENTRY, TRUE);
  object.CloseDevice();
}

// Opens the module in a slot and reads its module description, so that the operations that
// depend on the module's revision know it from the start. R4690_OK, or the failure's code with
// the module let go.
int32_t OpenInSlot(IR4690_BOOT_LOADER& object, uint16_t slot, ModuleDescription* description) {
  if (!object.OpenQDevice(slot)) return ObjectError(object);
  if (object.GET_MODULE_DESCRIPTION(description)) return R4690_OK;
  const int32_t code = ObjectError(object);
  LetGo(object);
  return code;
}

// Starts the search: *module null, and an object for the driver kind.
int32_t Begin(uint8_t driverKind, R4690Module** module, ObjectPtr* object) {
  if (module == nullptr) return R4690_ERROR_NULL_ARGUMENT;
  *module = nullptr;
  object->reset(static_cast<IR4690_BOOT_LOADER*>(
      CreateInstance(kR4690BootLoaderInterfaceName, driverKind, 0)));
  return *object != nullptr ? R4690_OK : R4690_ERROR_NO_MEMORY;
}

// Hands an object with its module open to a new handle.
int32_t Adopt(ObjectPtr object, R4690Module** module) {
  *module = new (std::nothrow) R4690Module{object.get(), R4690_ERROR_NONE};
  if (*module == nullptr) return R4690_ERROR_NO_MEMORY;
  object.release();
  return R4690_OK;
}

}  // namespace

int32_t r4690_open_slot(uint16_t slot, uint8_t driver_kind, R4690Module** module) {
  ObjectPtr object;
  int32_t code = Begin(driver_kind, module, &object);
  ModuleDescription description;
  if (code == R4690_OK) code = OpenInSlot(*object, slot, &description);
  return code == R4690_OK ? Adopt(std::move(object), module) : code;
}

int32_t r4690_open_serial(const char* serial, uint8_t driver_kind, R4690Module** module,
                          uint16_t* slot) {
  ObjectPtr object;
  const int32_t code = Begin(driver_kind, module, &object);
  if (code != R4690_OK) return code;
  if (serial == nullptr) return R4690_ERROR_NULL_ARGUMENT;
  for (uint16_t candidate = 0; candidate < R4690_SLOT_COUNT; ++candidate) {
    ModuleDescription description;
    if (OpenInSlot(*object, candidate, &description) != R4690_OK) continue;
    if (FieldText(description.SerialNumber) == serial) {
      if (slot != nullptr) *slot = candidate;
      return Adopt(std::move(object), module);
    }
    LetGo(*object);
  }
  return R4690_ERROR_NOT_FOUND;
}

int32_t r4690_close(R4690Module* module) {
  if (module == nullptr) return R4690_ERROR_NULL_HANDLE;
  IR4690_BOOT_LOADER* object = module->object;
  delete module;
  // Closed first, so that a failure's code can still be read; the release then closes nothing.
  const int32_t code = object->CloseDevice() ? R4690_OK : ObjectError(*object);
  object->ReleaseInstance();
  return code;
}

int32_t r4690_module_description(R4690Module* module, ModuleDescription* record) {
  if (module == nullptr) return R4690_ERROR_NULL_HANDLE;
  return Result(*module, module->object->GET_MODULE_DESCRIPTION(record));
}

int32_t r4690_firmware_description(R4690Module* module, FirmwareDescription* record) {
  if (module == nullptr) return R4690_ERROR_NULL_HANDLE;
  return Result(*module, module->object->GET_FIRMWARE_DESCRIPTION(record));
}

int32_t r4690_boot_loader_description(R4690Module* module, BootLoaderDescription* record) {
  if (module == nullptr) return R4690_ERROR_NULL_HANDLE;
  return Result(*module, module->object->GET_BOOT_LOADER_DESCRIPTION(record));
}

int32_t r4690_pld_info(R4690Module* module, PldInfo* record) {
  if (module == nullptr) return R4690_ERROR_NULL_HANDLE;
  return Result(*module, module->object->GET_PLD_INFO(record));
}

int32_t r4690_read_user_flash(R4690Module* module, uint8_t* data) {
  if (module == nullptr) return R4690_ERROR_NULL_HANDLE;
  return Result(*module, module->object->READ_USER_FLASH(data));
}

int32_t r4690_write_user_flash(R4690Module* module, const uint8_t* data) {
  if (module == nullptr) return R4690_ERROR_NULL_HANDLE;
  // Enabled for this write alone.
  IR4690_BOOT_LOADER& object = *module->object;
  object.ENABLE_USER_FLASH_WRITE(TRUE);
  const bool written = object.WRITE_USER_FLASH(data);
  object.ENABLE_USER_FLASH_WRITE(FALSE);
  return Result(*module, written);
}

int32_t r4690_read_memory(R4690Module* module, uint32_t address, void* data, uint32_t size) {
  if (module == nullptr) return R4690_ERROR_NULL_HANDLE;
  return Result(*module, module->object->GetArray(address, data, size));
}

int32_t r4690_write_memory(R4690Module* module, uint32_t address, const void* data, uint32_t size) {
  if (module == nullptr) return R4690_ERROR_NULL_HANDLE;
  return Result(*module, module->object->PutArray(address, data, size));
}

int32_t r4690_start_application(R4690Module* module) {
  if (module == nullptr) return R4690_ERROR_NULL_HANDLE;
  return Result(*module, module->object->RunMcuApplication(R4690_APPLICATION_ENTRY, TRUE));
}

int32_t r4690_start_boot_loader(R4690Module* module) {
  if (module == nullptr) return R4690_ERROR_NULL_HANDLE;
  return Result(*module, module->object->RunMcuApplication(R4690_BOOT_LOADER_ENTRY, FALSE));
}

int32_t r4690_restart_pld(R4690Module* module) {
  if (module == nullptr) return R4690_ERROR_NULL_HANDLE;
  return Result(*module, module->object->StartReloadPld());
}

int32_t r4690_verify_pld(R4690Module* module) {
  if (module == nullptr) return R4690_ERROR_NULL_HANDLE;
  return Result(*module, module->object->VerifyPld());
}

int32_t r4690_last_error(const R4690Module* module) {
  return module != nullptr ? module->lastError : R4690_ERROR_NULL_HANDLE;
}

int32_t r4690_error_text(int32_t code, char* text, uint32_t size) {
  if (text == nullptr || size == 0) return R4690_ERROR_NULL_ARGUMENT;
  const int capacity = size > INT_MAX ? INT_MAX : static_cast<int>(size);
  if (code > 0 && code <= 0xFFFF &&
      LoadStringA(modlib::LibraryInstance(), static_cast<UINT>(code), text, capacity) != 0) {
    return R4690_OK;
  }
  text[0] = '\0';
  return R4690_ERROR_NO_TEXT;
}
