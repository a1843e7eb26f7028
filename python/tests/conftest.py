"""The package against the module simulator: r4690-sim (the path in R4690_SIM) serving the
modules of a scenario in a device folder of the test's own, which the library finds through
QDEV_DEVICE_DIR. The shared library is the one R4690MODULE_LIBRARY names, or the system's."""
import json
import os
import pathlib
import subprocess
import time

import pytest

SIMULATOR_VARIABLE = "R4690_SIM"


class Simulator:
    def __init__(self, folder, modules):
        simulator = os.environ.get(SIMULATOR_VARIABLE)
        if not simulator:
            pytest.fail(f"set {SIMULATOR_VARIABLE} to the path of r4690-sim")
        self.traffic_file = folder / "traffic"
        self.devices = folder / "devices"
        scenario = folder / "scenario.json"
        scenario.write_text(json.dumps({"modules": modules}))
        self.output = open(folder / "sim.out", "w+")
        self.process = subprocess.Popen(
            [simulator, "--scenario", str(scenario), "--device-dir", str(self.devices),
             "--state-dir", str(folder / "state"), "--traffic", str(self.traffic_file), "--fresh"],
            stdout=self.output, stderr=subprocess.STDOUT)
        said = pathlib.Path(self.output.name)
        deadline = time.monotonic() + 10
        while "r4690-sim: ready" not in said.read_text():
            if self.process.poll() is not None or time.monotonic() > deadline:
                pytest.fail("r4690-sim did not start: " + said.read_text())
            time.sleep(0.02)

    def requests(self, device):
        """The device's requests so far, as (kind, module address or None, outcome)."""
        requests = []
        for line in self.traffic_file.read_text().splitlines():
            body = line.split("] ", 1)[1]
            if not body.startswith(device + " ") or " -> " not in body:
                continue
            fields, outcome = body.split(" -> ", 1)
            words = fields.split()
            kind = next(word for word in words[1:] if "=" not in word)
            addresses = [int(word[7:], 16) for word in words if word.startswith("addr=0x")]
            address = addresses[0] if addresses else None
            requests.append((kind, address, outcome))
        return requests

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.output.close()


@pytest.fixture
def simulator(tmp_path, monkeypatch):
    """start(modules) starts the simulator with these scenario entries and gives it."""
    started = []

    def start(*modules):
        monkeypatch.setenv("QDEV_DEVICE_DIR", str(tmp_path / "devices"))
        started.append(Simulator(tmp_path, list(modules) or [{}]))
        return started[-1]

    yield start
    for simulator in started:
        simulator.stop()
