// LibraryInstance (modlib/library_instance.h): the module that holds this code.
#include "modlib/library_instance.h"

namespace modlib {

HINSTANCE LibraryInstance() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&LibraryInstance), &module)) {
    return nullptr;
  }
  return module;
}

}  // namespace modlib
