"""Finds and loads the Quorvex shared libraries."""

import ctypes
import os
import sys

DRIVER = "Quorvex.dll" if os.name == "nt" else "libquorvex.so"
SERVER = "quorvex_server.dll" if os.name == "nt" else "libquorvex_server.so"

_HERE = os.path.dirname(os.path.abspath(__file__))


class LibraryNotFoundError(OSError):
    """None of the places searched held a library that this Python can load."""


def _layout_dirs():
    # The build and the install write _layout.py with the library folders
    # relative to the package; a plain source checkout has none.
    try:
        from . import _layout
    except ImportError:
        return []
    return [os.path.normpath(os.path.join(_HERE, d)) for d in _layout.LIBRARY_DIRS]


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
            return ctypes.CDLL(os.path.abspath(path))
        except OSError as error:
            reasons.append(f"{path}: {error}")
    bits = 8 * ctypes.sizeof(ctypes.c_void_p)
    raise LibraryNotFoundError(
        f"cannot load {file_name} for this {bits}-bit Python ({sys.executable}); tried:\n  "
        + "\n  ".join(reasons)
        + "\nPass library=PATH or set QUORVEX_LIB_DIR to the folder that holds it."
    )


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
