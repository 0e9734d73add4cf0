"""Pixel formats: names, their codes in the server library, and frame checks."""

import numpy as np

from . import _library

_C = _library.constants()


def _codes(prefix):
    """{name in small letters: code} of the header's constants `prefix`*,
    in the order of their codes."""
    codes = {name[len(prefix):].lower(): value for name, value in vars(_C).items() if name.startswith(prefix)}
    return dict(sorted(codes.items(), key=lambda item: item[1]))


# name: (code of QUORVEX_FORMAT_*, bytes per pixel)
FORMATS = {name: (code, _C.FORMAT_BYTES_PER_PIXEL[code]) for name, code in _codes("QUORVEX_FORMAT_").items()}

ORDERS = _codes("QUORVEX_ORDER_")


def format_info(name):
    """(code, bytes per pixel) of a format name; ValueError for an unknown one."""
    try:
        return FORMATS[name]
    except (KeyError, TypeError):
        raise ValueError(f"format must be one of {', '.join(FORMATS)}; got {name!r}") from None


def frame_shape(width, height, bytes_per_pixel):
    """The numpy shape of a frame: (H, W) for one byte per pixel, else (H, W, C)."""
    return (height, width) if bytes_per_pixel == 1 else (height, width, bytes_per_pixel)


def positive_size(width, height):
    for name, value in (("width", width), ("height", height)):
        if not isinstance(value, (int, np.integer)) or isinstance(value, bool) or value <= 0:
            raise ValueError(f"{name} must be a positive integer; got {value!r}")
    return int(width), int(height)


def checked_frame(frame, width, height, format_name):
    """The frame as an array whose pixels lie packed within each row (rows
    may lie apart), ready for the server library; ValueError when its type
    or shape is not the one expected."""
    _, channels = FORMATS[format_name]
    expected = frame_shape(width, height, channels)
    if not isinstance(frame, np.ndarray):
        raise ValueError(f"expected a numpy array of uint8 with shape {expected} for {format_name}; "
                         f"got {type(frame).__name__}")
    if frame.dtype != np.uint8:
        raise ValueError(f"expected dtype uint8 for {format_name}; got {frame.dtype}")
    if frame.shape != expected:
        raise ValueError(f"expected shape {expected} for {format_name} at {width}x{height}; got {frame.shape}")
    row_bytes = width * channels
    packed_pixels = frame.strides[1] == channels and (channels == 1 or frame.strides[2] == 1)
    if not packed_pixels or frame.strides[0] < row_bytes or frame.strides[0] >= 2**31:
        frame = np.ascontiguousarray(frame)
    return frame
