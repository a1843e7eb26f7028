"""The R46-90 module interface library for Python, over the library's C interface.

    import r4690module

    with r4690module.Module.open(slot=0) as module:          # or open(serial="4690C-20-001734")
        print(module.module_description().serial_number)
        flash = module.read_user_flash()                       # 512 bytes

A failing operation raises ModuleError, which carries the library's error code and its text.
docs/library.md of the project is the reference.
"""
import ctypes
from dataclasses import dataclass

from . import _native
from ._native import (APPLICATION_ENTRY, BOOT_LOADER_ENTRY, DRIVER_QDEV, DRIVER_QDEV_UNCHECKED,
                      DRIVER_QDEVUSB, ERROR_NO_MEMORY, ERROR_NO_TEXT, ERROR_NONE,
                      ERROR_NOT_FOUND, ERROR_NULL_ARGUMENT, ERROR_NULL_HANDLE, LIBRARY_VARIABLE,
                      OK, SEL_BOOT_FLASH, SEL_MCU_FLASH, SEL_MCU_FLASH_ALIAS, SEL_MODULE_TG_DATA,
                      SEL_PLD_INFO, SLOT_COUNT, USER_FLASH_SIZE)

# The texts of the records are 8-bit; the module's images write theirs in code page 1251.
TEXT_ENCODING = "cp1251"


def error_text(code):
    """The library's text for an error code; "" for a code without one."""
    text = ctypes.create_string_buffer(256)
    _native.library().r4690_error_text(code, text, len(text))
    return text.value.decode(TEXT_ENCODING, "replace")


class ModuleError(Exception):
    """A failed operation: the library's error code and its text."""

    def __init__(self, code):
        self.code = code
        self.text = error_text(code)
        super().__init__(f"error {code}: {self.text}")


def _check(code):
    if code != OK:
        raise ModuleError(code)


def _texts(record):
    """The record's text fields by their names in snake case, each bounded by its width."""
    texts = {}
    for field, kind in record._fields_:
        if kind is ctypes.c_char or getattr(kind, "_type_", None) is ctypes.c_char:
            snake = "".join("_" + c.lower() if c.isupper() else c for c in field).lstrip("_")
            text = getattr(record, field).split(b"\0", 1)[0]
            texts[snake] = text.decode(TEXT_ENCODING, "replace")
    return texts


@dataclass(frozen=True)
class ModuleDescription:
    name: str
    serial_number: str
    revision: str  # one letter, or "" when the module reports none
    raw: bytes     # the record's 256 bytes


@dataclass(frozen=True)
class FirmwareDescription:
    mcu_name: str
    version: str
    created: str
    manufacturer: str
    author: str
    comments: str
    raw: bytes


@dataclass(frozen=True)
class BootLoaderDescription:
    mcu_name: str
    version: str
    created: str
    raw: bytes


@dataclass(frozen=True)
class PldInfo:
    pld_name: str
    version: str
    created: str
    manufacturer: str
    author: str
    comments: str
    raw: bytes


class Module:
    """An opened module. Module.open makes one; close (or the end of a with block) ends it. One
    Module is used by one thread at a time; different Modules may be used on different threads."""

    def __init__(self, handle, slot):
        self._handle = handle
        self.slot = slot  # the virtual slot the module was found in

    @classmethod
    def open(cls, *, slot=None, serial=None, driver_kind=DRIVER_QDEV):
        """Opens the module in a virtual slot, or the first one in slots 0 to 126 whose serial
        number is the given text; either way its MCU then runs its boot loader."""
        if (slot is None) == (serial is None):
            raise TypeError("Module.open takes slot or serial")
        handle = ctypes.c_void_p()
        library = _native.library()
        if slot is not None:
            if not 0 <= slot <= 0xFFFF:
                raise ValueError(f"slot {slot} is not a virtual slot (0 to 65535)")
            _check(library.r4690_open_slot(slot, driver_kind, ctypes.byref(handle)))
            return cls(handle, slot)
        found = ctypes.c_uint16()
        _check(library.r4690_open_serial(serial.encode(TEXT_ENCODING), driver_kind,
                                         ctypes.byref(handle), ctypes.byref(found)))
        return cls(handle, found.value)

    def close(self):
        """Closes the module; a second close does nothing."""
        handle, self._handle = self._handle, None
        if handle is not None:
            _check(_native.library().r4690_close(handle))

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __del__(self):
        # A module that was never closed is closed when it is collected, without a report.
        if getattr(self, "_handle", None) is not None:
            _native.library().r4690_close(self._handle)

    def _call(self, name, *arguments):
        _check(getattr(_native.library(), name)(self._handle, *arguments))

    def _record(self, name, kind):
        record = kind()
        self._call(name, ctypes.byref(record))
        return record

    @property
    def last_error(self):
        """The code of this module's most recent failure (ERROR_NONE before any)."""
        return _native.library().r4690_last_error(self._handle)

    def module_description(self):
        record = self._record("r4690_module_description", _native.ModuleDescriptionRecord)
        return ModuleDescription(raw=bytes(record), **_texts(record))

    def firmware_description(self):
        record = self._record("r4690_firmware_description", _native.FirmwareDescriptionRecord)
        return FirmwareDescription(raw=bytes(record), **_texts(record))

    def boot_loader_description(self):
        record = self._record("r4690_boot_loader_description",
                              _native.BootLoaderDescriptionRecord)
        return BootLoaderDescription(raw=bytes(record), **_texts(record))

    def pld_info(self):
        record = self._record("r4690_pld_info", _native.PldInfoRecord)
        return PldInfo(raw=bytes(record), **_texts(record))

    def read_user_flash(self):
        data = ctypes.create_string_buffer(USER_FLASH_SIZE)
        self._call("r4690_read_user_flash", data)
        return data.raw

    def write_user_flash(self, data):
        if len(data) != USER_FLASH_SIZE:
            raise ValueError(f"the user flash takes {USER_FLASH_SIZE} bytes, not {len(data)}")
        self._call("r4690_write_user_flash", bytes(data))

    def read_memory(self, address, size):
        data = ctypes.create_string_buffer(size)
        self._call("r4690_read_memory", address, data, size)
        return data.raw

    def write_memory(self, address, data):
        self._call("r4690_write_memory", address, bytes(data), len(data))

    def start_application(self):
        self._call("r4690_start_application")

    def start_boot_loader(self):
        self._call("r4690_start_boot_loader")

    def restart_pld(self):
        self._call("r4690_restart_pld")

    def verify_pld(self):
        self._call("r4690_verify_pld")
