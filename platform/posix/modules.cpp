// GetModuleHandleExA and the module lookups behind it, on the dynamic loader's dladdr. The
// executable is found through the address of its program headers, which the loader hands to every
// process (AT_PHDR) and which lie inside the executable's first loaded segment.
#include "platform/posix/modules.h"

#include <dlfcn.h>
#include <sys/auxv.h>

namespace qdev_posix {

HMODULE ModuleOfAddress(const void* address) {
  Dl_info info;
  if (address == nullptr || dladdr(address, &info) == 0) return nullptr;
  return info.dli_fbase;
}

HMODULE ThisModule() {
  return ModuleOfAddress(reinterpret_cast<const void*>(&ThisModule));
}

HMODULE MainProgram() {
  return ModuleOfAddress(reinterpret_cast<const void*>(getauxval(AT_PHDR)));
}

}  // namespace qdev_posix

BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule) {
  if (phModule == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Modules are never unloaded here, so no reference count is kept and the flag that leaves it
  // alone changes nothing.
  HMODULE module = nullptr;
  if ((dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) != 0) {
    module = qdev_posix::ModuleOfAddress(lpModuleName);
  } else if (lpModuleName == nullptr) {
    module = qdev_posix::MainProgram();
  }  // a module named by its file name is not looked up: nothing here asks for one
  *phModule = module;
  if (module == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}
