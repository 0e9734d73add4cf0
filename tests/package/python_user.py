"""The installed Python package, away from the source tree: it must find the
installed libraries by itself and carry frames through the installed driver.

Usage: python_user.py PREFIX SYSTEM_DIR"""

import os
import sys

import numpy as np

import quorvex

prefix, system_dir = (os.path.realpath(arg) for arg in sys.argv[1:3])
assert os.path.realpath(quorvex.__file__).startswith(prefix), quorvex.__file__
share = f"python-user-{os.getpid()}"
frame = np.arange(24 * 10 * 3, dtype=np.uint32).astype(np.uint8).reshape(10, 24, 3)
with quorvex.Server(share, 24, 10, "bgr24") as srv, quorvex.Driver(system_dir) as drv:
    cam = drv.open("Camera 2", port=2, share=share)
    srv.publish(frame)
    np.testing.assert_array_equal(cam.read(timeout=10.0), frame[:, :, ::-1])
print(f"python_user: quorvex {quorvex.__version__} from {os.path.dirname(quorvex.__file__)} reads back exactly")
