"""The package against simulated modules: opening by slot and by serial number, the descriptions
as objects, user flash and memory as bytes, failures as ModuleError with code and text, modules
on several threads; and the package's constants, records and functions against the C header."""
import os
import pathlib
import re
import subprocess
import sys
import threading

import pytest

import r4690module
from r4690module import Module, ModuleError, _native

SERIAL = "4690C-20-001734"  # the simulator's default serial number
HEADER = pathlib.Path(__file__).resolve().parents[2] / "modlib" / "r4690module.h"


def runs(simulator, device):
    return [(address, outcome) for kind, address, outcome in simulator.requests(device)
            if kind == "run"]


def test_a_module_opened_by_slot_describes_itself(simulator):
    simulator({"slot": 3, "applicationVersion": "3.1", "bootFlash": "other"})
    with Module.open(slot=3) as module:
        assert module.slot == 3
        description = module.module_description()
        assert (description.name, description.serial_number, description.revision) == (
            "R46-90", SERIAL, "C")
        assert len(description.raw) == 256
        assert module.firmware_description().version == "3.1"
        assert module.boot_loader_description().version == "3.1"
        pld = module.pld_info()
        assert (pld.pld_name, pld.version, pld.manufacturer) == (
            "ALTERA Cyclone IV EP4CE6E22", "3.0.6c", "Tevron Ltd.")
        assert len(module.read_user_flash()) == r4690module.USER_FLASH_SIZE


def test_a_failure_raises_its_code_and_text(simulator):
    simulator({})
    with Module.open(slot=0) as module:
        assert module.last_error == r4690module.ERROR_NONE
        with pytest.raises(ModuleError) as failure:
            module.read_memory(0, 4)  # an address that selects no memory
        assert failure.value.code == 1001 == module.last_error
        assert failure.value.text.startswith("A request to the module failed")
        assert str(failure.value) == "error 1001: " + failure.value.text
    with pytest.raises(ModuleError) as failure:
        Module.open(slot=5)
    assert failure.value.code == 102
    assert r4690module.error_text(12345) == ""
    with pytest.raises(TypeError):
        Module.open()
    with pytest.raises(ValueError):
        Module.open(slot=65536)


def test_open_by_serial_leaves_the_other_modules_as_it_found_them(simulator):
    sim = simulator({"slot": 0, "serialNumber": "first"}, {"slot": 1, "serialNumber": "second"},
                    {"slot": 2, "serialNumber": "third", "application": "none"})
    with Module.open(serial="second") as module:
        assert module.slot == 1
        assert module.module_description().serial_number == "second"
    # Passed over: back to its application after the boot loader that the open started.
    assert runs(sim, "QDev0") == [(r4690module.BOOT_LOADER_ENTRY, "ok"),
                                  (r4690module.APPLICATION_ENTRY, "ok")]
    assert sim.requests("QDev2") == []  # the search ends at the module it finds

    with pytest.raises(ModuleError) as failure:
        Module.open(serial="nobody")
    assert failure.value.code == r4690module.ERROR_NOT_FOUND
    assert runs(sim, "QDev1")[-1] == (r4690module.APPLICATION_ENTRY, "ok")
    # Without an application the module stays in its boot loader, as it was found.
    assert runs(sim, "QDev2") == [(r4690module.BOOT_LOADER_ENTRY, "ok"),
                                  (r4690module.APPLICATION_ENTRY, "refused")]


def test_user_flash_and_memory_as_bytes(simulator):
    sim = simulator({})
    pattern = bytes(range(256)) * 2
    place = r4690module.SEL_BOOT_FLASH + 0x20000
    with Module.open(slot=0) as module:
        module.write_user_flash(pattern)
        assert module.read_user_flash() == pattern
        with pytest.raises(ValueError):
            module.write_user_flash(b"short")
        module.write_memory(place, b"\x01\x02\x03")
        assert module.read_memory(place, 3) == b"\x01\x02\x03"
    writes = [address for kind, address, _ in sim.requests("QDev0") if kind == "write"]
    assert writes == [0x91001D00, place]


def test_application_boot_loader_and_pld_without_a_call_order_to_keep(simulator):
    sim = simulator({})
    with Module.open(slot=0) as module:
        module.restart_pld()
        module.verify_pld()  # sent: the open has read the module's revision
        module.start_application()
        with pytest.raises(ModuleError) as failure:
            module.read_memory(r4690module.SEL_MCU_FLASH, 1)
        assert failure.value.code == 1001
        module.start_boot_loader()
        assert module.read_memory(r4690module.SEL_MODULE_TG_DATA, 1) == b"\x00"
    kinds = [kind for kind, _, _ in sim.requests("QDev0") if kind in ("run", "reloadPld",
                                                                      "verifyPld")]
    assert kinds == ["run", "reloadPld", "verifyPld", "run", "run"]


def test_an_unconfigured_pld_fails_its_verification(simulator):
    simulator({"bootFlash": "erased"})
    with Module.open(slot=0) as module:
        with pytest.raises(ModuleError) as failure:
            module.verify_pld()
        assert failure.value.code == 519


def test_a_closed_module_refuses_every_operation(simulator):
    simulator({})
    module = Module.open(slot=0)
    module.close()
    module.close()
    with pytest.raises(ModuleError) as failure:
        module.module_description()
    assert failure.value.code == r4690module.ERROR_NULL_HANDLE == module.last_error


def test_modules_on_different_threads(simulator):
    simulator({"slot": 0, "serialNumber": "first"}, {"slot": 1, "serialNumber": "second"})
    seen = {}

    def work(slot):
        with Module.open(slot=slot) as module:
            seen[slot] = {(module.module_description().serial_number,
                           module.read_memory(r4690module.SEL_BOOT_FLASH, 64))
                          for _ in range(25)}

    threads = [threading.Thread(target=work, args=(slot,)) for slot in (0, 1)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert sorted(serial for slot in (0, 1) for serial, _ in seen[slot]) == ["first", "second"]


def test_constants_records_and_functions_are_those_of_the_header():
    text = HEADER.read_text()
    defines = re.findall(r"^#define R4690_(\w+) (0x[0-9A-F]+|\d+)", text, re.M)
    assert defines
    for name, value in defines:
        assert getattr(r4690module, name) == int(value, 0), name

    records = re.findall(r"typedef struct (\w+) \{(.*?)\} \1;", text, re.S)
    assert [name for name, _ in records] == [
        "ModuleDescription", "FirmwareDescription", "BootLoaderDescription", "PldInfo"]
    for name, body in records:
        fields = [(field, int(width or 1))
                  for field, width in re.findall(r"(?:char|uint8_t) (\w+)(?:\[(\d+)\])?;", body)]
        python = getattr(_native, name + "Record")._fields_
        assert fields == [(field, r4690module.ctypes.sizeof(kind)) for field, kind in python]

    functions = set(re.findall(r"R4690_CALL (r4690_\w+)\(", text))
    assert functions == set(_native._PROTOTYPES)


def test_a_library_that_cannot_be_loaded_is_named(tmp_path):
    environment = dict(os.environ, R4690MODULE_LIBRARY=str(tmp_path / "missing"))
    run = subprocess.run([sys.executable, "-c", "import r4690module; r4690module.error_text(1)"],
                         env=environment, capture_output=True, text=True)
    assert run.returncode != 0
    assert "set R4690MODULE_LIBRARY to its path" in run.stderr
