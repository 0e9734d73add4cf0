"""Quorvex from Python: serve frames to the Quorvex camera driver, and read
them back through the driver as a host does.

    with quorvex.Server("My Share", width=640, height=480, format="rgb24") as srv:
        srv.publish(frame)

    drv = quorvex.Driver(system_dir)
    cam = drv.open("Camera 1", port=1, share="My Share")
    img = cam.read(timeout=2.0)     # TimeoutError; StreamEnded after the server's Stop

The driver is reached through the host library (quorvex_host), which loads
it, writes its settings and takes the frames; no Python code runs on a
camera's thread. The libraries are found through library=, QUORVEX_LIB_DIR,
or beside the package and in the build's bin/ folder (from a checkout:
build/native/bin, build/release/bin or build/demo-native/bin, and the first
line on stderr says which); quorvex.loaded_libraries() tells where each came
from."""

from . import _library
from ._formats import FORMATS
from ._library import LibraryNotFoundError
from .driver import Camera, Driver, FrameInfo, StreamEnded
from .server import Server

__version__ = _library.version()


def loaded_libraries():
    """{file name: path} of the libraries loaded so far."""
    return dict(_library.loaded)


__all__ = ["Camera", "Driver", "FORMATS", "FrameInfo", "LibraryNotFoundError", "Server", "StreamEnded", "__version__",
           "loaded_libraries"]
