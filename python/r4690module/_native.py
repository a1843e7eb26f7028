"""The library's C interface (modlib/r4690module.h) through ctypes: finding and loading the shared
library, the record structs and the functions' prototypes. The constants and layouts here mirror
the header, and the package's tests hold the two together."""
import ctypes
import functools
import os

# The path of the shared library, when it is not where the system looks for libraries.
LIBRARY_VARIABLE = "R4690MODULE_LIBRARY"
LIBRARY_NAME = "r4690module.dll" if os.name == "nt" else "libr4690module.so.1"

DRIVER_QDEVUSB = 0
DRIVER_QDEV = 1
DRIVER_QDEV_UNCHECKED = 2
SLOT_COUNT = 127

SEL_MCU_FLASH = 0x83000000
SEL_MODULE_TG_DATA = 0x8C000000
SEL_PLD_INFO = 0x8F000000
SEL_BOOT_FLASH = 0x90000000
SEL_MCU_FLASH_ALIAS = 0x91000000
APPLICATION_ENTRY = 0x83000000
BOOT_LOADER_ENTRY = 0x83003C00
USER_FLASH_SIZE = 512

OK = 0
ERROR_NONE = 100
ERROR_NO_TEXT = 199
ERROR_NULL_HANDLE = 2001
ERROR_NULL_ARGUMENT = 2002
ERROR_NO_MEMORY = 2003
ERROR_NOT_FOUND = 2004


def _text(size):
    return ctypes.c_char * size


class ModuleDescriptionRecord(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("Name", _text(16)), ("SerialNumber", _text(36)), ("Revision", ctypes.c_char),
                ("Reserved", ctypes.c_uint8 * 203)]


class FirmwareDescriptionRecord(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("McuName", _text(25)), ("Version", _text(10)), ("Created", _text(14)),
                ("Manufacturer", _text(25)), ("Author", _text(25)), ("Comments", _text(128))]


class BootLoaderDescriptionRecord(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("McuName", _text(20)), ("Version", _text(10)), ("Created", _text(49))]


class PldInfoRecord(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("PldName", _text(45)), ("Version", _text(10)), ("Created", _text(14)),
                ("Manufacturer", _text(25)), ("Author", _text(25)), ("Comments", _text(128))]


_handle = ctypes.c_void_p
_code = ctypes.c_int32
_PROTOTYPES = {
    "r4690_open_slot": [ctypes.c_uint16, ctypes.c_uint8, ctypes.POINTER(_handle)],
    "r4690_open_serial": [ctypes.c_char_p, ctypes.c_uint8, ctypes.POINTER(_handle),
                          ctypes.POINTER(ctypes.c_uint16)],
    "r4690_close": [_handle],
    "r4690_module_description": [_handle, ctypes.POINTER(ModuleDescriptionRecord)],
    "r4690_firmware_description": [_handle, ctypes.POINTER(FirmwareDescriptionRecord)],
    "r4690_boot_loader_description": [_handle, ctypes.POINTER(BootLoaderDescriptionRecord)],
    "r4690_pld_info": [_handle, ctypes.POINTER(PldInfoRecord)],
    "r4690_read_user_flash": [_handle, ctypes.c_char_p],
    "r4690_write_user_flash": [_handle, ctypes.c_char_p],
    "r4690_read_memory": [_handle, ctypes.c_uint32, ctypes.c_void_p, ctypes.c_uint32],
    "r4690_write_memory": [_handle, ctypes.c_uint32, ctypes.c_char_p, ctypes.c_uint32],
    "r4690_start_application": [_handle],
    "r4690_start_boot_loader": [_handle],
    "r4690_restart_pld": [_handle],
    "r4690_verify_pld": [_handle],
    "r4690_last_error": [_handle],
    "r4690_error_text": [_code, ctypes.c_char_p, ctypes.c_uint32],
}


def _places():
    """Where the library is looked for: the variable's path alone when it is set; else the
    system's own search by name, then the usual folders (on Windows those of PATH, which
    Python's loading of a DLL by name leaves out)."""
    explicit = os.environ.get(LIBRARY_VARIABLE)
    if explicit:
        return [explicit]
    if os.name == "nt":
        folders = os.environ.get("PATH", "").split(os.pathsep)
    else:
        folders = ["/usr/local/lib", "/usr/lib"]
    return [LIBRARY_NAME] + [os.path.join(folder, LIBRARY_NAME) for folder in folders if folder]


@functools.lru_cache(maxsize=None)
def library():
    """The loaded library with its functions' prototypes, loaded at the first call."""
    failures = []
    for place in _places():
        try:
            loaded = ctypes.CDLL(place)
            break
        except OSError as error:
            failures.append(str(error))
    else:
        raise OSError(f"the module interface library ({LIBRARY_NAME}) cannot be loaded; set "
                      f"{LIBRARY_VARIABLE} to its path ({'; '.join(failures)})")
    for name, arguments in _PROTOTYPES.items():
        function = getattr(loaded, name)
        function.argtypes = arguments
        function.restype = _code
    return loaded
