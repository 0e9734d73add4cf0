"""A camera server in Python: frames from numpy arrays to every attached host."""

import ctypes
import threading
import time

from . import _formats, _library

_C = _library.constants()
MAX_CLIENTS = _C.QUORVEX_SERVER_MAX_CLIENTS

_P = ctypes.c_void_p
_I = ctypes.c_int

# wait_for_clients asks the library in slices this long, so that a publish
# or close from another thread waits at most one slice.
_WAIT_SLICE_S = 0.02


_SIGNATURES = {
    "QuorvexServerCreate": (_P, [ctypes.c_char_p, _I, _I]),
    "QuorvexServerDestroy": (None, [_P]),
    "QuorvexServerSetDimensions": (_I, [_P, _I, _I, _I]),
    "QuorvexServerPublishFrameEx": (_I, [_P, _P, _I, _I, _I, _I]),
    "QuorvexServerSetChannelOrder": (_I, [_P, _I]),
    "QuorvexServerSetAccess": (_I, [_P, _I]),
    "QuorvexServerLastError": (ctypes.c_char_p, [_P]),
    "QuorvexServerClientCount": (_I, [_P]),
    "QuorvexServerWaitForClients": (_I, [_P, _I, _I]),
    "QuorvexServerSendStop": (_I, [_P]),
    "QuorvexServerSkipFrames": (_I, [_P, _I]),
}


class Server:
    """Serves the share `share` to up to max_clients driver cameras.

    Frames are width x height pixels in `format` (gray8, rgb24, bgr24, rgba32
    or bgra32); hosts receive 3 and 4 bytes per pixel in `order` ("rgb", the
    default, or "bgr"). The shared segment holds max_frame_bytes, by default
    the first size's frame: resize() beyond it is refused. Only hosts of the
    same user may attach, unless allow_other_users is true (Windows: every
    user of the machine; refused on Linux, where every user has names of
    their own).

    Any thread may call any method: each call that uses the server runs alone
    under the object's lock, so a publish() checks and sends its frame
    against one size and format, and close() (or leaving the with block)
    waits for a publish in flight, then ends the server. Calls after close()
    raise ValueError."""

    def __init__(self, share, width, height, format="gray8", max_clients=4, *,
                 order="rgb", max_frame_bytes=None, allow_other_users=False, library=None):
        width, height = _formats.positive_size(width, height)
        _, channels = _formats.format_info(format)
        if order not in _formats.ORDERS:
            raise ValueError(f"order must be one of {', '.join(_formats.ORDERS)}; got {order!r}")
        if not isinstance(share, str) or not share:
            raise ValueError(f"share must be a non-empty str; got {share!r}")
        if not isinstance(max_clients, int) or not 1 <= max_clients <= MAX_CLIENTS:
            raise ValueError(f"max_clients must be an integer from 1 to {MAX_CLIENTS}; got {max_clients!r}")
        if max_frame_bytes is None:
            max_frame_bytes = width * height * channels
        if not 0 < max_frame_bytes < 2**31:
            raise ValueError(f"max_frame_bytes must be between 1 and {2**31 - 1}; got {max_frame_bytes}")
        self._lock = threading.Lock()
        self._handle = None
        self._lib = _library.bind(_library.load(_library.SERVER, library), _SIGNATURES)
        self._handle = self._lib.QuorvexServerCreate(_library.text(share), max_frame_bytes, max_clients)
        if not self._handle:
            reason = self._lib.QuorvexServerLastError(None).decode(errors="replace")
            raise OSError(f"cannot serve share {share!r}: {reason}")
        self.share = share
        self.max_frame_bytes = max_frame_bytes
        if allow_other_users and self._lib.QuorvexServerSetAccess(self._handle, _C.QUORVEX_ACCESS_ALL_LOCAL_USERS) != 0:
            reason = self._lib.QuorvexServerLastError(self._handle).decode(errors="replace")
            self.close()
            raise OSError(f"cannot admit other users to share {share!r}: {reason}")
        self._lib.QuorvexServerSetChannelOrder(self._handle, _formats.ORDERS[order])
        self.resize(width, height, format)

    @property
    def width(self):
        return self._width

    @property
    def height(self):
        return self._height

    @property
    def format(self):
        return self._format

    def _server(self):
        # Called with the lock held.
        if not self._handle:
            raise ValueError("the server is closed")
        return self._handle

    def _refused(self, what):
        return RuntimeError(f"{what} refused: {self._lib.QuorvexServerLastError(self._handle).decode(errors='replace')}")

    def resize(self, width, height, format=None):
        """Takes frames of the new size (and format, when given) from now on
        and sends the new dimensions to the attached hosts."""
        width, height = _formats.positive_size(width, height)
        with self._lock:
            format = self._format if format is None else format
            _, channels = _formats.format_info(format)
            if width * height * channels > self.max_frame_bytes:
                raise ValueError(f"a {width}x{height} {format} frame takes {width * height * channels} bytes; "
                                 f"expected at most {self.max_frame_bytes} (Server(max_frame_bytes=...))")
            if self._lib.QuorvexServerSetDimensions(self._server(), width, height, channels) < 0:
                raise self._refused("resize")
            self._width, self._height, self._format = width, height, format

    def publish(self, frame):
        """Sends a numpy uint8 frame, (H, W) for gray8 or (H, W, C), of the
        server's size and format, rows at any stride; returns the number of
        hosts it was sent to."""
        with self._lock:
            handle = self._server()
            width, height, format_name = self._width, self._height, self._format
            frame = _formats.checked_frame(frame, width, height, format_name)
            code, _ = _formats.FORMATS[format_name]
            sent = self._lib.QuorvexServerPublishFrameEx(handle, frame.ctypes.data, width, height,
                                                         frame.strides[0], code)
            if sent < 0:
                raise self._refused("publish")
            return sent

    def skip_frames(self, count):
        """Leaves the next `count` frame numbers unused, for frames the
        source lost before they reached the server: hosts count them lost.
        Every published frame takes the next number (1, 2, 3, ...) and is
        stamped with the time it was published."""
        with self._lock:
            if self._lib.QuorvexServerSkipFrames(self._server(), int(count)) < 0:
                raise self._refused("skip_frames")

    @property
    def clients(self):
        """The number of hosts whose pipe is connected now."""
        with self._lock:
            return self._lib.QuorvexServerClientCount(self._server())

    def wait_for_clients(self, count=1, timeout=5.0):
        """True once `count` hosts can take a frame: a frame published then
        reaches each of them, the first included. False after `timeout`
        seconds."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            with self._lock:
                slice_ms = int(max(0.0, min(left, _WAIT_SLICE_S)) * 1000)
                if self._lib.QuorvexServerWaitForClients(self._server(), count, slice_ms) == 1:
                    return True
            if left <= 0:
                return False

    def close(self):
        """Waits for a call in flight on another thread, then disconnects
        every host and releases the share. Closing again does nothing."""
        with self._lock:
            handle, self._handle = self._handle, None
            if handle:
                self._lib.QuorvexServerDestroy(handle)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        if getattr(self, "_handle", None) and getattr(self, "_lock", None):
            self.close()
