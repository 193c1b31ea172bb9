"""The build backend of the Python package blockeig (PEP 517), for
`pip install .`, `pip wheel .` and `python3 -m build`.

A wheel is made by the project's own CMake build, the one build definition:
configured for the interpreter that runs this backend (BLOCKEIG_PYTHON_WHEEL:
the module alone, no tests), built for the extension's target alone, and
installed (component `python`) into the wheel. The backend itself needs the
standard library only, so build-system.requires is empty and an offline
machine builds with what it has; CMake, a make program and pybind11's CMake
package are asked of the package index only where the machine has none.

A source distribution holds what that build reads (SDIST_PATHS) and builds
the same way.

Settings: CMAKE_ARGS in the environment adds arguments to the configure
(split as a shell splits them; for instance -DBLOCKEIG_EXTENDED=software);
CMAKE_BUILD_PARALLEL_LEVEL sets the build's jobs; the config setting
build-dir=DIR (pip install -C build-dir=DIR .) keeps the build tree there
for the next build instead of a temporary one.
"""

import base64
import contextlib
import glob
import gzip
import hashlib
import io
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import time
import zipfile

import blockeig_site

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NAME = "blockeig"

# What a source distribution holds: the build definition, the sources it
# compiles and the files it configures (the tests, benchmarks, fuzz targets
# and documents stay in the repository).
SDIST_PATHS = ["CMakeLists.txt", "pyproject.toml", "README.md", "arithmetic", "cmake", "driver", "eigen",
               "engine", "io", "library", "man", "python", "records", "runtime", "tools"]


def _say(text):
    print(f"blockeig_build: {text}", file=sys.stderr, flush=True)


def _run(command):
    _say(" ".join(shlex.quote(str(word)) for word in command))
    subprocess.run([str(word) for word in command], check=True)


def _read(relative):
    with open(os.path.join(ROOT, relative), encoding="utf-8") as file:
        return file.read()


# ---- What the project says of itself -----------------------------------

def _version():
    """The CMake project's version."""
    found = re.search(r"project\(\s*blockeig\s+VERSION\s+([0-9][0-9.]*)", _read("CMakeLists.txt"))
    if not found:
        raise RuntimeError("blockeig_build: CMakeLists.txt names no project version")
    return found.group(1)


def _cmake_minimum():
    found = re.search(r"cmake_minimum_required\(\s*VERSION\s+([0-9][0-9.]*)", _read("CMakeLists.txt"))
    return found.group(1) if found else "3.20"


def _project_table(text):
    """The [project] table of pyproject.toml where Python has no TOML reader
    (before 3.11): its entries are `key = "text"` or `key = ["text", ...]`
    on one line each, which read as JSON."""
    table, inside = {}, False
    for line in text.splitlines():
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        if line.startswith("["):
            inside = line == "[project]"
            continue
        if inside:
            key, _, value = line.partition("=")
            try:
                table[key.strip()] = json.loads(value.strip())
            except ValueError:
                raise RuntimeError(f"blockeig_build: pyproject.toml: [project] {key.strip()} is not one line "
                                   "of a string or a list of strings") from None
    return table


def _project():
    text = _read("pyproject.toml")
    try:
        import tomllib
    except ImportError:
        return _project_table(text)
    return tomllib.loads(text)["project"]


def _metadata(metadata_version, requires_dist, dynamic=()):
    """METADATA (a wheel's) or PKG-INFO (a source distribution's)."""
    project = _project()
    lines = [f"Metadata-Version: {metadata_version}", f"Name: {project['name']}", f"Version: {_version()}",
             f"Summary: {project['description']}", f"Requires-Python: {project['requires-python']}"]
    lines += [f"Classifier: {classifier}" for classifier in project.get("classifiers", [])]
    lines += [f"Dynamic: {field}" for field in dynamic]
    lines += [f"Requires-Dist: {requirement}" for requirement in requires_dist]
    return "\n".join(lines) + "\n"


# ---- What the machine has ----------------------------------------------

def _cmake_version():
    cmake = shutil.which("cmake")
    if cmake is None:
        return None
    result = subprocess.run([cmake, "--version"], stdout=subprocess.PIPE, universal_newlines=True)
    found = re.search(r"version\s+([0-9][0-9.]*)", result.stdout)
    return blockeig_site.version_tuple(found.group(1)) if found else None


def _pybind11_from_python():
    """The CMake package of a pybind11 this interpreter imports, or None."""
    try:
        import pybind11
    except ImportError:
        return None
    return pybind11.get_cmake_dir()


def _pybind11_on_the_system():
    """Whether CMake finds a pybind11 below the usual prefixes."""
    prefixes = os.environ.get("CMAKE_PREFIX_PATH", "").split(os.pathsep)
    prefixes += [sys.prefix, sys.base_prefix, "/usr/local", "/usr"]
    if os.environ.get("pybind11_DIR"):
        return True
    patterns = ("lib/cmake/pybind11", "lib64/cmake/pybind11", "lib/*/cmake/pybind11", "share/cmake/pybind11")
    return any(glob.glob(os.path.join(prefix, pattern, "pybind11Config.cmake"))
               for prefix in prefixes if prefix for pattern in patterns)


def _pybind11_version(build):
    """The version of the pybind11 the build tree was configured with."""
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as cache:
        found = re.search(r"^pybind11_DIR:[A-Z]+=(.*)$", cache.read(), re.MULTILINE)
    with open(os.path.join(found.group(1), "pybind11ConfigVersion.cmake"), encoding="utf-8") as file:
        version = re.search(r'set\(PACKAGE_VERSION "([0-9.]+)"\)', file.read())
    return blockeig_site.version_tuple(version.group(1))


def _numpy_requirement(pybind11_version):
    minimum = "numpy>={}.{}".format(*blockeig_site.NUMPY_MINIMUM)
    if pybind11_version < blockeig_site.PYBIND11_FOR_NUMPY_2:
        return minimum + ",<{}".format(*blockeig_site.NUMPY_2)
    return minimum


def _wheel_tag():
    if sys.implementation.name != "cpython":
        raise RuntimeError(f"blockeig_build: the extension is built for CPython, not {sys.implementation.name}")
    interpreter = f"cp{sys.version_info[0]}{sys.version_info[1]}"
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"{interpreter}-{interpreter}{sys.abiflags}-{platform}"


# ---- The build -----------------------------------------------------------

@contextlib.contextmanager
def _build_tree(config_settings):
    kept = (config_settings or {}).get("build-dir")
    if kept:
        os.makedirs(kept, exist_ok=True)
        yield os.path.abspath(kept)
    else:
        with tempfile.TemporaryDirectory(prefix="blockeig-build-") as build:
            yield build


def _cmake_build(build):
    configure = ["cmake", "-S", ROOT, "-B", build]
    if shutil.which("ninja") and not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        configure += ["-G", "Ninja"]
    configure += ["-DBLOCKEIG_PYTHON=ON", "-DBLOCKEIG_PYTHON_WHEEL=ON", "-DBUILD_TESTING=OFF",
                  f"-DPython_EXECUTABLE={sys.executable}"]
    pybind11 = _pybind11_from_python()
    if pybind11:
        configure.append(f"-Dpybind11_DIR={pybind11}")
    configure += shlex.split(os.environ.get("CMAKE_ARGS", ""))
    _run(configure)
    _run(["cmake", "--build", build, "--target", "blockeig_python"])


def _timestamp():
    """The time stamp of every member: SOURCE_DATE_EPOCH's, so that the same
    sources make the same archive, else the earliest a zip file holds."""
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    return int(epoch) if epoch else 315532800  # 1980-01-01


def _files_below(top):
    """The regular files below top, relative to it, in a fixed order;
    hidden files and compiled Python are left out."""
    found = []
    for directory, subdirectories, files in os.walk(top):
        subdirectories[:] = sorted(d for d in subdirectories if not d.startswith(".") and d != "__pycache__")
        for name in sorted(files):
            if not name.startswith(".") and not name.endswith(".pyc"):
                found.append(os.path.relpath(os.path.join(directory, name), top))
    return found


def _write_wheel(wheel_directory, staging, requires_dist):
    dist_info = f"{NAME}-{_version()}.dist-info"
    filename = f"{NAME}-{_version()}-{_wheel_tag()}.whl"
    date_time = time.gmtime(_timestamp())[:6]
    records = []
    with zipfile.ZipFile(os.path.join(wheel_directory, filename), "w", zipfile.ZIP_DEFLATED) as wheel:
        def add(name, data, mode=0o644):
            member = zipfile.ZipInfo(name, date_time=date_time)
            member.external_attr = (0o100000 | mode) << 16
            member.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(member, data)
            digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            records.append(f"{name},sha256={digest},{len(data)}")

        for relative in _files_below(staging):
            path = os.path.join(staging, relative)
            with open(path, "rb") as file:
                add(relative.replace(os.sep, "/"), file.read(), 0o755 if os.access(path, os.X_OK) else 0o644)
        add(f"{dist_info}/METADATA", _metadata("2.1", requires_dist).encode())
        add(f"{dist_info}/WHEEL", (f"Wheel-Version: 1.0\nGenerator: blockeig_build {_version()}\n"
                                   f"Root-Is-Purelib: false\nTag: {_wheel_tag()}\n").encode())
        records.append(f"{dist_info}/RECORD,,")
        add(f"{dist_info}/RECORD", ("\n".join(records) + "\n").encode())
    return filename


# ---- PEP 517 -------------------------------------------------------------

def get_requires_for_build_wheel(config_settings=None):
    """What the machine lacks for the build, from the package index."""
    needs = []
    minimum = _cmake_minimum()
    have = _cmake_version()
    if have is None or have < blockeig_site.version_tuple(minimum):
        needs.append(f"cmake>={minimum}")
    if not shutil.which("ninja") and not shutil.which("make"):
        needs.append("ninja")
    if _pybind11_from_python() is None and not _pybind11_on_the_system():
        needs.append("pybind11>={}.{}".format(*blockeig_site.PYBIND11_FOR_NUMPY_2))
    return needs


def get_requires_for_build_sdist(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    with _build_tree(config_settings) as build, tempfile.TemporaryDirectory(prefix="blockeig-wheel-") as staging:
        _cmake_build(build)
        _run(["cmake", "--install", build, "--component", "python", "--prefix", staging])
        return _write_wheel(wheel_directory, staging, [_numpy_requirement(_pybind11_version(build))])


def build_sdist(sdist_directory, config_settings=None):
    base = f"{NAME}-{_version()}"
    filename = f"{base}.tar.gz"
    mtime = _timestamp()

    def member(name, size, mode):
        info = tarfile.TarInfo(f"{base}/{name}")
        info.size, info.mode, info.mtime = size, mode, mtime
        return info

    with open(os.path.join(sdist_directory, filename), "wb") as out, \
            gzip.GzipFile(fileobj=out, mode="wb", mtime=mtime, filename="") as compressed, \
            tarfile.open(fileobj=compressed, mode="w", format=tarfile.PAX_FORMAT) as tar:
        for top in SDIST_PATHS:
            path = os.path.join(ROOT, top)
            for relative in ([top] if os.path.isfile(path) else
                             [os.path.join(top, name) for name in _files_below(path)]):
                source = os.path.join(ROOT, relative)
                mode = 0o755 if os.access(source, os.X_OK) else 0o644
                with open(source, "rb") as file:
                    tar.addfile(member(relative.replace(os.sep, "/"), os.path.getsize(source), mode), file)
        pkg_info = _metadata("2.2", [], dynamic=["Requires-Dist"]).encode()
        tar.addfile(member("PKG-INFO", len(pkg_info), 0o644), io.BytesIO(pkg_info))
    return filename
