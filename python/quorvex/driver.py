"""The driver as a host uses it, through the host library (quorvex_host):
cameras whose frames arrive as numpy arrays.

The host library loads the driver, writes Quorvex.ini, owns the driver's
callbacks and reads each frame on the camera's thread into its queue; no
Python code runs on a camera's thread. This module only asks it, and copies
each frame once into an array."""

from __future__ import annotations

import ctypes
import os
import threading
import time
import weakref
from typing import List, NamedTuple, Optional, Tuple, Union

import numpy as np

from . import _formats, _library

_C = _library.constants()

_P = ctypes.c_void_p
_I = ctypes.c_int
_S = ctypes.c_char_p

# A read asks the library in slices this long, so that a close on another
# thread waits at most one slice for the camera's lock.
_READ_SLICE_S = 0.05


class _Settings(ctypes.Structure):
    _fields_ = [("share", _S), ("logLevel", _I), ("connectionTimeoutMs", _I)]


class _CameraOptions(ctypes.Structure):
    _fields_ = [("port", _I), ("queueDepth", _I), ("rowAlignment", _I)]


class _Frame(ctypes.Structure):
    _fields_ = [("pixels", ctypes.POINTER(ctypes.c_ubyte)), ("width", _I), ("height", _I), ("bytesPerPixel", _I),
                ("rowPitch", _I), ("number", ctypes.c_longlong), ("arrivedUs", ctypes.c_longlong),
                ("serverNumber", ctypes.c_longlong), ("captureUs", ctypes.c_longlong), ("gap", ctypes.c_longlong),
                ("arrivedRealUs", ctypes.c_longlong)]


class _Counters(ctypes.Structure):
    _fields_ = [("received", ctypes.c_longlong), ("replaced", ctypes.c_longlong), ("resets", ctypes.c_longlong),
                ("incomplete", ctypes.c_longlong), ("lost", ctypes.c_longlong),
                ("repeated", ctypes.c_longlong)]


_SIGNATURES = {
    "QuorvexHostLastError": (_S, []),
    "QuorvexHostOpen": (_P, [_S, _S]),
    "QuorvexHostClose": (None, [_P]),
    "QuorvexHostDriverPath": (_S, [_P]),
    "QuorvexHostSettingsPath": (_S, [_P]),
    "QuorvexHostCameraCount": (_I, [_P]),
    "QuorvexHostCameraName": (_S, [_P, _I]),
    "QuorvexHostWriteSettings": (_I, [_P, _S, ctypes.POINTER(_Settings)]),
    "QuorvexHostCameraOpen": (_P, [_P, _S, ctypes.POINTER(_CameraOptions)]),
    "QuorvexHostCameraClose": (None, [_P]),
    "QuorvexHostCameraShare": (_S, [_P]),
    "QuorvexHostCameraProperty": (_I, [_P, _S, ctypes.POINTER(_I)]),
    "QuorvexHostCameraRead": (_I, [_P, _I, ctypes.POINTER(_Frame)]),
    "QuorvexHostCameraRelease": (None, [_P, ctypes.POINTER(_Frame)]),
    "QuorvexHostCameraCounters": (None, [_P, ctypes.POINTER(_Counters)]),
}


class FrameInfo(NamedTuple):
    """What the server and the camera said of a frame, from read(meta=True).
    Times are microseconds since 1970-01-01 UTC on the system's clock, so on
    one machine arrived_us - capture_us is the frame's age on arrival; a
    server that does not number its frames gives number 0 and capture_us 0."""
    number: int      # the server's number: 1, 2, 3 ...
    capture_us: int  # when the server's source captured it
    arrived_us: int  # when the camera took it
    gap: int         # the server's numbers left out just before it: frames lost


class StreamEnded(Exception):
    """The camera's stream has ended: its server sent Stop, or the driver
    ended the link on a frame it could not take. The message says which."""


class _HostLibrary:
    """The host library, loaded once per process: the driver it loads is the
    process's one driver, so a second copy from another folder is refused."""

    _lock = threading.Lock()
    _loaded: Optional[ctypes.CDLL] = None
    _path: Optional[str] = None

    @classmethod
    def get(cls, folder: Optional[str]) -> ctypes.CDLL:
        """The host library found in `folder` (None: where the package looks
        for its libraries)."""
        with cls._lock:
            lib = _library.load(_library.HOST, folder)
            path = _library.loaded[_library.HOST]
            if cls._loaded is None:
                cls._loaded, cls._path = _library.bind(lib, _SIGNATURES), path
            elif os.path.realpath(path) != os.path.realpath(cls._path):
                _library.loaded[_library.HOST] = cls._path
                raise RuntimeError(f"this process has loaded the host library {cls._path} already; one driver per "
                                   f"process, so {path} is not used")
            return cls._loaded


def _close_host(lib: ctypes.CDLL, host: int, cameras: dict, lock: threading.Lock) -> None:
    """Closes a driver's cameras and its host: by Driver.close, when the
    Driver is collected (open cameras keep it), or when the interpreter ends,
    whichever comes first (the driver's threads stop before Python does)."""
    with lock:
        for camera in cameras.values():
            camera._release()
        cameras.clear()
        lib.QuorvexHostClose(host)


def _text(value: bytes) -> str:
    return value.decode("mbcs" if os.name == "nt" else "utf-8", errors="replace") if value else ""


def _encoded(what: str, value: str) -> bytes:
    try:
        return _library.text(value)
    except UnicodeEncodeError as error:
        raise ValueError(f"{what} {value!r} cannot be written as the driver reads it: {error.reason}") from None


def _integer(value) -> bool:
    return isinstance(value, (int, np.integer)) and not isinstance(value, bool)


class Camera:
    """One open driver camera. The host library takes each frame on the
    camera's own thread; read() copies it into an array. A frame that arrives
    while the one before is still unread replaces it (frames_dropped counts
    those).

    Any thread may call any method: every call on the camera runs under its
    lock, so close() never frees what a read on another thread is using."""

    def __init__(self, driver: "Driver", name: str, port: int, handle: int):
        self._driver = driver
        self._lib = driver._lib
        self.name = name
        self.port = port
        self._lock = threading.Lock()
        self._handle = handle
        # The counts as the camera closed.
        self._closed_counters = _Counters()
        self.share = _text(self._lib.QuorvexHostCameraShare(handle))

    def _open_handle(self) -> int:
        # Called with the lock held.
        if not self._handle:
            raise ValueError(f"{self.name} is closed")
        return self._handle

    def _property(self, name: bytes) -> int:
        value = _I(0)
        with self._lock:
            if not self._handle or not self._lib.QuorvexHostCameraProperty(self._handle, name, ctypes.byref(value)):
                return 0
        return value.value

    @property
    def width(self) -> int:
        """The current frame width in pixels; 0 until the server answered."""
        return self._property(b"Width")

    @property
    def height(self) -> int:
        return self._property(b"Height")

    @property
    def bytes_per_pixel(self) -> int:
        return self._property(b"PixelSize") // 8

    def _counters(self) -> _Counters:
        with self._lock:
            if not self._handle:
                return self._closed_counters
            counters = _Counters()
            self._lib.QuorvexHostCameraCounters(self._handle, ctypes.byref(counters))
            return counters

    @property
    def frames_received(self) -> int:
        return self._counters().received

    @property
    def frames_dropped(self) -> int:
        return self._counters().replaced

    @property
    def frames_lost(self) -> int:
        """Frames the server numbered that never reached this camera."""
        return self._counters().lost

    @staticmethod
    def _copied(frame: _Frame) -> np.ndarray:
        # The library's buffer, seen in place, then copied once into an
        # array of its own: rows packed, as numpy lays them out.
        rows = np.ctypeslib.as_array(frame.pixels, shape=(frame.height, frame.rowPitch))
        pixels = rows[:, :frame.width * frame.bytesPerPixel]
        return pixels.reshape(_formats.frame_shape(frame.width, frame.height, frame.bytesPerPixel)).copy()

    def read(self, timeout: Optional[float] = 2.0,
             meta: bool = False) -> Union[np.ndarray, Tuple[np.ndarray, FrameInfo]]:
        """The next frame: (H, W) for one byte per pixel, else (H, W, C); with
        meta=True, the frame and its FrameInfo. Returns a waiting unread frame
        at once; raises TimeoutError when none arrives within `timeout`
        seconds (None: wait for ever), StreamEnded once the stream has
        ended."""
        deadline = None if timeout is None else time.monotonic() + max(0.0, timeout)
        frame = _Frame()
        while True:
            left = _READ_SLICE_S if deadline is None else max(0.0, min(deadline - time.monotonic(), _READ_SLICE_S))
            with self._lock:
                handle = self._open_handle()
                result = self._lib.QuorvexHostCameraRead(handle, int(left * 1000), ctypes.byref(frame))
                if result == _C.QUORVEX_HOST_FRAME:
                    try:
                        pixels = self._copied(frame)
                        if not meta:
                            return pixels
                        return pixels, FrameInfo(frame.serverNumber, frame.captureUs, frame.arrivedRealUs, frame.gap)
                    finally:
                        self._lib.QuorvexHostCameraRelease(handle, ctypes.byref(frame))
                why = _text(self._lib.QuorvexHostLastError())
            if result == _C.QUORVEX_HOST_ENDED:
                raise StreamEnded(f"{self.name}: {why}")
            if result not in (_C.QUORVEX_HOST_NOTHING_YET, _C.QUORVEX_HOST_NO_SERVER):
                raise RuntimeError(f"{self.name}: {why}")
            if deadline is not None and time.monotonic() >= deadline:
                if result == _C.QUORVEX_HOST_NO_SERVER:
                    raise TimeoutError(f"{self.name}: no frame within {timeout} s: {why}")
                raise TimeoutError(f"{self.name}: no frame within {timeout} s from the share \"{self.share}\"")

    def close(self) -> None:
        """Stops the camera; its thread has ended when this returns. Waits for
        a call in flight on another thread; closing again does nothing."""
        self._driver._close_camera(self)

    def _release(self) -> None:
        # Called by the driver, with the driver's lock held.
        with self._lock:
            handle, self._handle = self._handle, None
            if handle:
                self._lib.QuorvexHostCameraCounters(handle, ctypes.byref(self._closed_counters))
                self._lib.QuorvexHostCameraClose(handle)

    def __enter__(self) -> "Camera":
        return self

    def __exit__(self, *exc) -> None:
        self.close()


class Driver:
    """The Quorvex driver (libquorvex.so / Quorvex.dll), initialised with
    system_dir, the folder of its settings file Quorvex.ini and its log,
    through the host library. `library` names the driver's file or the
    folder that holds it and the host library.

    The driver keeps one settings folder for the whole process: a second
    Driver with another folder is refused while the first is open, and a
    camera is opened once in a process."""

    def __init__(self, system_dir, library=None):
        system_dir = os.fspath(system_dir)
        if not os.path.isdir(system_dir):
            raise ValueError(f"system_dir must be an existing folder; got {system_dir!r}")
        driver_path = None
        folder = None
        if library is not None:
            library = os.fspath(library)
            folder = os.path.abspath(library if os.path.isdir(library) else os.path.dirname(library))
            driver_path = os.path.join(folder, _library.DRIVER) if os.path.isdir(library) else os.path.abspath(library)
        self._lib = _HostLibrary.get(folder)
        host = self._lib.QuorvexHostOpen(_encoded("the driver", driver_path) if driver_path else None,
                                         _encoded("system_dir", system_dir))
        if not host:
            raise RuntimeError(_text(self._lib.QuorvexHostLastError()))
        self._host = host
        # The cameras by port, and the lock of every call on the host.
        self._cameras = {}
        self._lock = threading.Lock()
        self._finalizer = weakref.finalize(self, _close_host, self._lib, host, self._cameras, self._lock)
        self.system_dir = system_dir
        self.driver_path = _text(self._lib.QuorvexHostDriverPath(host))
        self.settings_path = _text(self._lib.QuorvexHostSettingsPath(host))

    def _open_host(self) -> int:
        # Called with the lock held; a close marks the finalizer dead before
        # it waits for the lock.
        if not self._finalizer.alive:
            raise ValueError("the driver is closed")
        return self._host

    def _failure(self, kind=RuntimeError) -> Exception:
        return kind(_text(self._lib.QuorvexHostLastError()))

    @property
    def cameras(self) -> List[str]:
        """The driver's camera names: ["Camera 1", ...]."""
        with self._lock:
            host = self._open_host()
            count = self._lib.QuorvexHostCameraCount(host)
            return [_text(self._lib.QuorvexHostCameraName(host, index)) for index in range(count)]

    def _write_settings(self, name: str, share: Optional[str] = None, timeout_ms: Optional[int] = None) -> None:
        """Writes the camera's share and connection time-out into Quorvex.ini
        (None leaves a key as it is); the library brings the time-out into
        its range and refuses an unknown camera or a share name the driver
        would not read back as written."""
        # A number beyond 32 bits goes to the library as the nearest one
        # that is not, which it then brings into its range.
        timeout = _C.QUORVEX_HOST_KEEP if timeout_ms is None else max(-2**31 + 1, min(int(timeout_ms), 2**31 - 1))
        settings = _Settings(None if share is None else _encoded("the share name", share), _C.QUORVEX_HOST_KEEP,
                             timeout)
        with self._lock:
            if not self._lib.QuorvexHostWriteSettings(self._open_host(), _encoded("the camera name", name),
                                                      ctypes.byref(settings)):
                raise self._failure(ValueError)

    def open(self, name: str, port: int = 1, share: Optional[str] = None, timeout_ms: int = 3000) -> Camera:
        """Opens camera `name` on `port`. share (the camera server's share
        name) and timeout_ms (how long to wait for its frame size, brought
        into 100 to 10000) are written to the camera's section of Quorvex.ini
        first. The camera stays open when no server answered in time: its
        width and height are 0 until one does."""
        if not isinstance(name, str):
            raise ValueError(f"name must be a str such as 'Camera 1'; got {name!r}")
        if not _integer(port) or port < 0:
            raise ValueError(f"port must be a non-negative integer; got {port!r}")
        if not _integer(timeout_ms):
            raise ValueError(f"timeout_ms must be an integer (milliseconds); got {timeout_ms!r}")
        if share is not None and not isinstance(share, str):
            raise ValueError(f"share must be a str; got {share!r}")
        self._write_settings(name, share, timeout_ms)
        options = _CameraOptions(int(port), 1, 1)
        with self._lock:
            handle = self._lib.QuorvexHostCameraOpen(self._open_host(), _encoded("the camera name", name),
                                                     ctypes.byref(options))
            if not handle:
                raise self._failure(ValueError)
            camera = Camera(self, name, int(port), handle)
            self._cameras[camera.port] = camera
        return camera

    def _close_camera(self, camera: Camera) -> None:
        with self._lock:
            if self._cameras.get(camera.port) is camera:
                del self._cameras[camera.port]
            camera._release()

    def close(self) -> None:
        """Closes every camera still open and releases the driver. Closing
        again does nothing."""
        self._finalizer()

    def __enter__(self) -> "Driver":
        return self

    def __exit__(self, *exc) -> None:
        self.close()
