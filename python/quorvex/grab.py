"""python3 -m quorvex.grab: reads frames from a driver camera and reports them.

    python3 -m quorvex.grab --share "My Share" --frames 100 --save frames

As quorvex-grab: --frames 0 reads until Ctrl+C, the settings file
(Quorvex.ini) and the log live in the current folder unless --system-dir
names another, and --save writes PNG files frame-000001.png, ... Ctrl+C ends
with the summary.
"""

import argparse
import os
import struct
import sys
import time
import zlib

from .driver import Driver, StreamEnded
from ._library import LibraryNotFoundError

# PNG colour types by bytes per pixel: gray, gray and alpha, RGB, RGBA.
_PNG_COLOUR_TYPES = {1: 0, 2: 4, 3: 2, 4: 6}


def _png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def save_png(path, frame):
    """Writes a frame, (H, W) or (H, W, C) of uint8, as an 8-bit PNG."""
    height, width = frame.shape[:2]
    channels = 1 if frame.ndim == 2 else frame.shape[2]
    rows = frame.reshape(height, width * channels)
    # Each row starts with its filter type: 0, none.
    raw = b"".join(b"\0" + row.tobytes() for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, _PNG_COLOUR_TYPES[channels], 0, 0, 0)
    with open(path, "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n" + _png_chunk(b"IHDR", header) + _png_chunk(b"IDAT", zlib.compress(raw, 6))
                   + _png_chunk(b"IEND", b""))


def count(text):
    value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError(f"expected 0 or more, got {text!r}")
    return value


def parse(argv):
    parser = argparse.ArgumentParser(prog="python3 -m quorvex.grab", description=__doc__.splitlines()[0])
    parser.add_argument("--camera", default="Camera 1", help="driver camera name (default: Camera 1)")
    parser.add_argument("--port", type=int, default=1)
    parser.add_argument("--share", help="camera server share name, written to Quorvex.ini first")
    parser.add_argument("--system-dir", default=os.getcwd(),
                        help="folder of Quorvex.ini and the log (default: the current folder)")
    parser.add_argument("--frames", type=count, default=0, help="frames to read, then quit; 0 until Ctrl+C (default 0)")
    parser.add_argument("--timeout", type=float, default=5.0, help="seconds to wait for each frame (default 5)")
    parser.add_argument("--save", metavar="DIR", help="save every frame as a PNG file in DIR (created when missing)")
    parser.add_argument("--library", help="the driver library or its folder")
    return parser.parse_args(argv)


def grab(args):
    with Driver(args.system_dir, library=args.library) as driver:
        camera = driver.open(args.camera, port=args.port, share=args.share)
        start = time.monotonic()
        received = 0
        try:
            while args.frames == 0 or received < args.frames:
                frame = camera.read(timeout=args.timeout)
                received += 1
                if args.save:
                    save_png(os.path.join(args.save, f"frame-{received:06d}.png"), frame)
        except KeyboardInterrupt:
            pass
        except StreamEnded as ended:
            # An ended stream is the server's choice, not a failure.
            print(f"quorvex.grab: {ended}", file=sys.stderr)
        finally:
            seconds = max(time.monotonic() - start, 1e-9)
            print(f"{received} frames of {camera.width}x{camera.height}x{camera.bytes_per_pixel} "
                  f"in {seconds:.2f} s ({received / seconds:.1f} fps), "
                  f"{camera.frames_dropped} dropped", flush=True)
            camera.close()


def main(argv=None):
    args = parse(argv)
    try:
        if args.save:
            os.makedirs(args.save, exist_ok=True)
        grab(args)
    except (LibraryNotFoundError, ValueError, TimeoutError, RuntimeError, OSError) as error:
        print(f"quorvex.grab: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:  # before the camera was open
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
