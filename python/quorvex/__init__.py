"""Quorvex from Python: serve frames to the Quorvex camera driver, and read
them back through the driver as a host does.

    with quorvex.Server("My Share", width=640, height=480, format="rgb24") as srv:
        srv.publish(frame)

    drv = quorvex.Driver(system_dir)
    cam = drv.open("Camera 1", port=1, share="My Share")
    img = cam.read(timeout=2.0)

The libraries are found through library=, QUORVEX_LIB_DIR, or beside the
package and in the build's bin/ folder."""

from ._formats import FORMATS
from ._library import LibraryNotFoundError
from .driver import Camera, Driver
from .server import Server

try:
    from ._layout import VERSION as __version__
except ImportError:  # a source checkout: the version lives in the build
    __version__ = "unknown"

__all__ = ["Camera", "Driver", "FORMATS", "LibraryNotFoundError", "Server", "__version__"]
