"""The package's own build backend (PEP 517): packs the pure-Python package into a wheel with the
standard library alone, so that pip needs no build backend from the network.

The version is the project's, written once in the top CMakeLists.txt; a source archive carries it
in its PKG-INFO. The wheel's entries are in a fixed order with fixed times (SOURCE_DATE_EPOCH when
it is set), so the same sources give the same wheel.
"""
import base64
import hashlib
import io
import os
import pathlib
import re
import tarfile
import time
import zipfile

try:
    import tomllib
except ImportError:  # Python before 3.11 reads the few keys below by hand
    tomllib = None

ROOT = pathlib.Path(__file__).resolve().parent.parent
PACKAGE = "r4690module"


def _project():
    text = (ROOT / "pyproject.toml").read_text(encoding="utf-8")
    if tomllib is not None:
        return tomllib.loads(text)["project"]
    return dict(re.findall(r'^(name|description|requires-python) = "([^"]*)"$', text, re.M))


def _version():
    pkg_info = ROOT / "PKG-INFO"
    if pkg_info.exists():
        return re.search(r"^Version: (\S+)$", pkg_info.read_text(encoding="utf-8"), re.M).group(1)
    cmake = (ROOT.parent / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(\s*\w+\s+VERSION\s+([0-9.]+)", cmake).group(1)


def _metadata():
    project = _project()
    return (
        "Metadata-Version: 2.1\n"
        f"Name: {project['name']}\n"
        f"Version: {_version()}\n"
        f"Summary: {project['description']}\n"
        f"Requires-Python: {project['requires-python']}\n"
    )


def _dist_info():
    return f"{PACKAGE}-{_version()}.dist-info"


def _wheel_text():
    return ("Wheel-Version: 1.0\nGenerator: wheel_backend\nRoot-Is-Purelib: true\n"
            "Tag: py3-none-any\n")


def _epoch():
    # Zip entries cannot be older than 1980.
    return max(int(os.environ.get("SOURCE_DATE_EPOCH", "315532800")), 315532800)


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    target = pathlib.Path(metadata_directory) / _dist_info()
    target.mkdir(parents=True, exist_ok=True)
    (target / "METADATA").write_text(_metadata(), encoding="utf-8")
    (target / "WHEEL").write_text(_wheel_text(), encoding="utf-8")
    return _dist_info()


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    files = [
        (f"{PACKAGE}/{path.name}", path.read_bytes())
        for path in sorted((ROOT / PACKAGE).glob("*.py"))
    ]
    files.append((f"{_dist_info()}/METADATA", _metadata().encode()))
    files.append((f"{_dist_info()}/WHEEL", _wheel_text().encode()))
    record = ""
    for name, data in files:
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        record += f"{name},sha256={digest},{len(data)}\n"
    record_name = f"{_dist_info()}/RECORD"
    files.append((record_name, (record + f"{record_name},,\n").encode()))

    wheel_name = f"{PACKAGE}-{_version()}-py3-none-any.whl"
    with zipfile.ZipFile(pathlib.Path(wheel_directory) / wheel_name, "w") as wheel:
        for name, data in files:
            entry = zipfile.ZipInfo(name, date_time=time.gmtime(_epoch())[:6])
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = 0o644 << 16
            wheel.writestr(entry, data)
    return wheel_name


def build_sdist(sdist_directory, config_settings=None):
    base = f"{PACKAGE}-{_version()}"
    members = [("PKG-INFO", _metadata().encode())]
    for path in sorted(ROOT.rglob("*")):
        relative = path.relative_to(ROOT).as_posix()
        if path.is_file() and "__pycache__" not in relative and relative != "PKG-INFO":
            members.append((relative, path.read_bytes()))
    name = f"{base}.tar.gz"
    path = pathlib.Path(sdist_directory) / name
    with tarfile.open(path, "w:gz", format=tarfile.PAX_FORMAT) as archive:
        for relative, data in members:
            info = tarfile.TarInfo(f"{base}/{relative}")
            info.size, info.mode, info.mtime = len(data), 0o644, _epoch()
            archive.addfile(info, io.BytesIO(data))
    return name
