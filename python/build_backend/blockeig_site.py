"""What the build asks of the Python interpreter the module is built for.
CMake runs it with that interpreter; the build backend imports it.

    python blockeig_site.py check           exit status 0 when the interpreter
                                             can import the package (numpy);
                                             otherwise 1 and the reason
    python blockeig_site.py install-dir P   the directory below P (an install
                                             prefix) where the interpreter
                                             finds the package; a second line
                                             says so when it does not look there

It runs on every Python from the oldest the package takes, with the
standard library alone.
"""

import os
import site
import subprocess
import sys
import sysconfig

# The numpy the package needs, and the first numpy whose arrays changed
# layout (pybind11 reads them from 2.12 on).
NUMPY_MINIMUM = (1, 21)
NUMPY_2 = (2, 0)
PYBIND11_FOR_NUMPY_2 = (2, 12)


def version_tuple(text):
    """(1, 24) for "1.24.2", "1.24rc1" or "1.24"."""
    parts = []
    for piece in (text.split(".") + ["0"])[:2]:
        digits = ""
        for c in piece:
            if not c.isdigit():
                break
            digits += c
        parts.append(int(digits or 0))
    return tuple(parts)


def numpy_problem():
    """Why this interpreter cannot import the package's numpy, or None."""
    try:
        import numpy
    except ImportError as error:
        return f"it cannot import numpy ({type(error).__name__}: {error})"
    if version_tuple(numpy.__version__) < NUMPY_MINIMUM:
        return f"its numpy is {numpy.__version__}; blockeig needs {'.'.join(map(str, NUMPY_MINIMUM))} or later"
    return None


def _same(a, b):
    return os.path.realpath(a) == os.path.realpath(b)


def _below(path, prefix):
    """path relative to prefix when it lies in prefix's lib directories
    (prefix/lib..., not prefix/local/...), else None."""
    relative = os.path.relpath(os.path.realpath(path), os.path.realpath(prefix))
    return relative if relative.split(os.sep)[0].startswith("lib") else None


def _site_dirs():
    """The interpreter's package directories, in the order it reads them."""
    found = []
    for path in site.getsitepackages() + sys.path:
        if os.path.basename(path) in ("site-packages", "dist-packages") and path not in found:
            found.append(path)
    return found


def read_dir(prefix):
    """The directory below prefix, relative to it, where this interpreter
    reads packages, or None."""
    if site.ENABLE_USER_SITE and _same(prefix, site.getuserbase()):
        return os.path.relpath(site.getusersitepackages(), site.getuserbase())
    for path in _site_dirs():
        relative = _below(path, prefix)
        if relative is not None:
            return relative
    return None


def _prefix_interpreter_dir(prefix):
    """Where the prefix's own python3 of this version reads packages below
    it (Debian's /usr/bin/python3 for /usr), or None."""
    own = os.path.join(prefix, "bin", f"python{sys.version_info[0]}.{sys.version_info[1]}")
    # A virtual environment's python3.X leads to its base interpreter's file
    # but reads the environment's packages: the names are compared, not the
    # files.
    if not os.access(own, os.X_OK) or os.path.abspath(own) == os.path.abspath(sys.executable):
        return None
    result = subprocess.run([own, "-I", os.path.abspath(__file__), "read-dir", prefix],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, universal_newlines=True)
    line = result.stdout.strip()
    return line if result.returncode == 0 and line else None


def install_dir(prefix):
    """(directory relative to prefix, note or None)."""
    relative = read_dir(prefix) or _prefix_interpreter_dir(prefix)
    if relative is not None:
        return relative, None
    platlib = sysconfig.get_path("platlib", "posix_prefix", vars={"base": prefix, "platbase": prefix})
    relative = os.path.relpath(platlib, prefix)
    return relative, (f"{sys.executable} does not read packages below {prefix}: "
                      f"PYTHONPATH={os.path.join(prefix, relative)} lets it import blockeig")


def main(arguments):
    if arguments == ["check"]:
        problem = numpy_problem()
        if problem:
            print(problem)
            return 1
        return 0
    if len(arguments) == 2 and arguments[0] == "read-dir":
        relative = read_dir(arguments[1])
        if relative is None:
            return 1
        print(relative)
        return 0
    if len(arguments) == 2 and arguments[0] == "install-dir":
        relative, note = install_dir(arguments[1])
        print(relative)
        if note:
            print(note)
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
