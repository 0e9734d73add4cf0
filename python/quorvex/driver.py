"""The driver as a host uses it: cameras whose frames arrive as numpy arrays."""

import atexit
import ctypes
import os
import threading

import numpy as np

from . import _formats, _ini, _library

_I = ctypes.c_int
# The driver calls back with the C calling convention on every system.
CompleteCallback = ctypes.CFUNCTYPE(None, _I, _I)


_SIGNATURES = {
    "initialize": (_I, [ctypes.c_char_p, ctypes.c_void_p]),
    "finalize": (_I, []),
    "getCVLCameraConfigNames": (ctypes.POINTER(ctypes.c_char_p), []),
    "openCVLPort": (_I, [_I, _I, ctypes.c_char_p, ctypes.POINTER(_I)]),
    "closeCVLPort": (_I, [_I, _I]),
    "getCVLGrabRow": (_I, [_I, _I, ctypes.c_void_p, _I, _I, _I]),
    "setCompleteCallback": (_I, [_I, _I, CompleteCallback]),
    "getProperty": (_I, [_I, _I, ctypes.c_char_p, ctypes.POINTER(_I)]),
}


class Camera:
    """One open driver camera. Frames arrive on the camera's own thread: its
    callback copies the rows into an array and hands it over; read() takes
    it. A frame that arrives while the one before is still unread replaces
    it (frames_dropped counts those)."""

    def __init__(self, driver, name, port):
        self._driver = driver
        self._lib = driver._lib
        self.name = name
        self.port = port
        self._ready = threading.Condition()
        self._frame = None
        self._spare = None
        self._error = None
        self._received = 0
        self._dropped = 0
        self._open = True
        # Kept alive here: the driver calls it until closeCVLPort has returned.
        self._callback = CompleteCallback(self._on_frame)

    def _property(self, name):
        value = _I(0)
        self._lib.getProperty(0, self.port, name, ctypes.byref(value))
        return value.value

    @property
    def width(self):
        """The current frame width in pixels; 0 until the server answered."""
        return self._property(b"Width")

    @property
    def height(self):
        return self._property(b"Height")

    @property
    def bytes_per_pixel(self):
        return self._property(b"PixelSize") // 8

    @property
    def frames_received(self):
        return self._received

    @property
    def frames_dropped(self):
        return self._dropped

    def _buffer(self, shape):
        spare, self._spare = self._spare, None
        return spare if spare is not None and spare.shape == shape else np.empty(shape, np.uint8)

    def _copy_rows(self):
        # Runs on the camera's thread while the driver holds the frame:
        # nothing here but the row copies.
        width, height = self._property(b"Width"), self._property(b"Height")
        bytes_per_pixel = self._property(b"PixelSize") // 8
        if width <= 0 or height <= 0 or bytes_per_pixel <= 0:
            return None
        frame = self._buffer(_formats.frame_shape(width, height, bytes_per_pixel))
        address, row_bytes = frame.ctypes.data, width * bytes_per_pixel
        grab_row, port, last = self._lib.getCVLGrabRow, self.port, width - 1
        for row in range(height):
            if not grab_row(0, port, address + row * row_bytes, row, 0, last):
                self._spare = frame
                return None
        return frame

    def _on_frame(self, grabber, port):
        try:
            frame = self._copy_rows()
        except BaseException as error:  # an exception must not unwind into the driver's thread
            frame, self._error = None, error
        with self._ready:
            if frame is not None:
                if self._frame is not None:
                    self._dropped += 1
                    self._spare = self._frame
                self._frame = frame
                self._received += 1
            self._ready.notify_all()

    def read(self, timeout=2.0):
        """The next frame: (H, W) for one byte per pixel, else (H, W, C).
        Returns a waiting unread frame at once; raises TimeoutError when none
        arrives within `timeout` seconds (None: wait for ever)."""
        with self._ready:
            self._ready.wait_for(
                lambda: self._frame is not None or self._error is not None or not self._open, timeout)
            if self._error is not None:
                error, self._error = self._error, None
                raise RuntimeError(f"{self.name}: copying a frame failed") from error
            if self._frame is None:
                if not self._open:
                    raise ValueError(f"{self.name} is closed")
                raise TimeoutError(f"{self.name}: no frame within {timeout} s "
                                   f"(is a server serving its share?)")
            frame, self._frame = self._frame, None
            return frame

    def close(self):
        """Stops the camera; its thread has ended when this returns."""
        if self._open:
            # The driver keeps a camera's callback across a close and calls it
            # for frames of the camera's next open until that sets its own:
            # unset, it cannot reach this object, which may be gone by then.
            self._lib.setCompleteCallback(0, self.port, CompleteCallback())
            self._lib.closeCVLPort(0, self.port)
            self._driver._forget(self)
            with self._ready:
                self._open = False
                self._ready.notify_all()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class Driver:
    """The Quorvex driver (libquorvex.so / Quorvex.dll), initialised with
    system_dir, the folder of its settings file Quorvex.ini and its log."""

    def __init__(self, system_dir, library=None):
        system_dir = os.fspath(system_dir)
        if not os.path.isdir(system_dir):
            raise ValueError(f"system_dir must be an existing folder; got {system_dir!r}")
        self._lib = _library.bind(_library.load(_library.DRIVER, library), _SIGNATURES)
        self.system_dir = system_dir
        self._cameras = {}
        if not self._lib.initialize(_library.text(system_dir), None):
            raise RuntimeError("the driver's initialize failed")
        self._initialized = True
        # Held until close(): camera threads must not call into callbacks that
        # were collected, nor into an interpreter that is shutting down.
        atexit.register(self.close)

    @property
    def cameras(self):
        """The driver's camera names: ["Camera 1", ...]."""
        names = self._lib.getCVLCameraConfigNames()
        result = []
        while names and names[len(result)] is not None:
            result.append(names[len(result)].decode())
        return result

    def open(self, name, port=1, share=None, timeout_ms=3000):
        """Opens camera `name` on `port`. share (the camera server's share
        name) and timeout_ms (how long to wait for its frame size, 100 to
        10000) are written to the camera's section of Quorvex.ini first. The
        camera stays open when no server answered in time: its width and
        height are 0 until one does."""
        if not self._initialized:
            raise ValueError("the driver is closed")
        cameras = self.cameras
        if name not in cameras:
            raise ValueError(f"expected a camera name from {cameras[0]!r} to {cameras[-1]!r}; got {name!r}")
        if not isinstance(port, int) or isinstance(port, bool) or port < 0:
            raise ValueError(f"port must be a non-negative integer; got {port!r}")
        if port in self._cameras:
            raise ValueError(f"port {port} already holds {self._cameras[port].name}")
        if any(camera.name == name for camera in self._cameras.values()):
            raise ValueError(f"{name} is already open")
        if not isinstance(timeout_ms, int) or not 100 <= timeout_ms <= 10000:
            raise ValueError(f"timeout_ms must be an integer from 100 to 10000; got {timeout_ms!r}")
        settings = os.path.join(self.system_dir, "Quorvex.ini")
        if share is not None:
            if not isinstance(share, str) or not share:
                raise ValueError(f"share must be a non-empty str; got {share!r}")
            _ini.set_value(settings, name, "PipeName", share)
        _ini.set_value(settings, name, "ConnectionTimeout", timeout_ms)
        camera = Camera(self, name, port)
        dimensions = (_I * 2)()
        if not self._lib.openCVLPort(0, port, _library.text(name), dimensions):
            raise RuntimeError(f"the driver could not open {name} on port {port}")
        self._cameras[port] = camera
        self._lib.setCompleteCallback(0, port, camera._callback)
        return camera

    def _forget(self, camera):
        self._cameras.pop(camera.port, None)

    def close(self):
        """Closes every camera still open and releases the driver."""
        if self._initialized:
            for camera in list(self._cameras.values()):
                camera.close()
            self._initialized = False
            self._lib.finalize()
            atexit.unregister(self.close)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
