"""Finds and loads the Quorvex shared libraries, and the constants the build
read from their headers."""

import ctypes
import os
import runpy
import sys
import types

DRIVER = "Quorvex.dll" if os.name == "nt" else "libquorvex.so"
SERVER = "quorvex_server.dll" if os.name == "nt" else "libquorvex_server.so"
HOST = "quorvex_host.dll" if os.name == "nt" else "libquorvex_host.so"

_HERE = os.path.dirname(os.path.abspath(__file__))
# The source tree, when the package is the checkout's own python/quorvex.
_CHECKOUT = os.path.dirname(os.path.dirname(_HERE))
# The builds of a checkout, as scripts/test.sh, scripts/bench.sh and
# scripts/run-demo.sh name them, the most complete first.
_CHECKOUT_BUILDS = (["win32", "win64"] if os.name == "nt" else []) + ["native", "release", "demo-native"]

# file name -> the path it was loaded from, for the tools to say which.
loaded = {}


class LibraryNotFoundError(OSError):
    """None of the places searched held a library that this Python can load."""


def _layout_dirs():
    # The build and the install write _layout.py with the library folders
    # relative to the package; a plain source checkout has none, and looks
    # in the checkout's builds instead.
    try:
        from . import _layout
    except ImportError:
        return [os.path.join(_CHECKOUT, "build", name, "bin") for name in _CHECKOUT_BUILDS]
    return [os.path.normpath(os.path.join(_HERE, d)) for d in _layout.LIBRARY_DIRS]


def constants():
    """The module of constants the build made from the C headers: the
    package's own, else (a checkout's python/quorvex) the first of the
    checkout's builds that made one."""
    try:
        from . import _constants
    except ImportError:
        pass
    else:
        return _constants
    tried = [os.path.join(_CHECKOUT, "build", name, "python", "quorvex", "_constants.py") for name in _CHECKOUT_BUILDS]
    for path in tried:
        if os.path.isfile(path):
            return types.SimpleNamespace(**runpy.run_path(path))
    raise ImportError("quorvex: the constants of the C headers are made by the build (cmake), and none was found; "
                      "tried:\n  " + "\n  ".join(tried))


def version():
    """The project's version: the build's or the install's, else the
    checkout's VERSION file, which the C libraries' build reads too."""
    try:
        from ._layout import VERSION
    except ImportError:
        try:
            with open(os.path.join(_CHECKOUT, "VERSION"), encoding="ascii") as file:
                return file.readline().strip()
        except OSError:
            return "unknown"
    return VERSION


def search_dirs():
    """The folders searched when no library= is given, in order."""
    env = os.environ.get("QUORVEX_LIB_DIR")
    if env:
        return [env]
    return [_HERE] + _layout_dirs()


def load(file_name, library=None):
    """Loads file_name from `library` (the file or its folder), from
    QUORVEX_LIB_DIR, or from beside the package and the build's bin/.

    Raises LibraryNotFoundError naming every place tried and, for a file that
    exists but did not load (another bitness, say), the loader's reason."""
    if library is not None:
        library = os.fspath(library)
        candidates = [os.path.join(library, file_name) if os.path.isdir(library) else library]
    else:
        candidates = [os.path.join(d, file_name) for d in search_dirs()]
    reasons = []
    for path in candidates:
        if not os.path.isfile(path):
            reasons.append(f"{path}: no such file")
            continue
        try:
            lib = ctypes.CDLL(os.path.abspath(path))
        except OSError as error:
            reasons.append(f"{path}: {error}")
            continue
        _note_loaded(file_name, os.path.abspath(path))
        return lib
    bits = 8 * ctypes.sizeof(ctypes.c_void_p)
    raise LibraryNotFoundError(
        f"cannot load {file_name} for this {bits}-bit Python ({sys.executable}); tried:\n  "
        + "\n  ".join(reasons)
        + "\nPass library=PATH or set QUORVEX_LIB_DIR to the folder that holds it."
    )


def _note_loaded(file_name, path):
    # A checkout may hold several builds: say once which one is used.
    if loaded.get(file_name) != path and path.startswith(os.path.join(_CHECKOUT, "build", "")):
        build = os.path.relpath(os.path.dirname(os.path.dirname(path)), _CHECKOUT)
        print(f"quorvex: {file_name} from the checkout's {build} ({path})", file=sys.stderr)
    loaded[file_name] = path


def bind(lib, signatures):
    """Gives each function its result and argument types: {name: (restype,
    argtypes)}. Returns lib."""
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


def text(value):
    """A str as the narrow text the libraries take."""
    return value.encode("mbcs" if os.name == "nt" else "utf-8")
