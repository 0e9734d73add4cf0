"""python3 -m quorvex.grab: reads frames from a driver camera and reports them.

    python3 -m quorvex.grab --share "My Share" --frames 100 --save frames
"""

import argparse
import os
import sys
import tempfile
import time

from .driver import Driver
from ._library import LibraryNotFoundError


def save_netpbm(path, frame):
    """Writes a frame as PGM (one channel) or PPM (the first three channels)."""
    if frame.ndim == 2:
        magic, pixels = b"P5", frame
    else:
        magic, pixels = b"P6", frame[:, :, :3]
    height, width = frame.shape[:2]
    with open(path, "wb") as file:
        file.write(b"%s\n%d %d\n255\n" % (magic, width, height))
        file.write(pixels.tobytes())


def parse(argv):
    parser = argparse.ArgumentParser(prog="python3 -m quorvex.grab", description=__doc__.splitlines()[0])
    parser.add_argument("--camera", default="Camera 1", help="driver camera name (default: Camera 1)")
    parser.add_argument("--port", type=int, default=1)
    parser.add_argument("--share", help="camera server share name, written to Quorvex.ini first")
    parser.add_argument("--system-dir", help="folder of Quorvex.ini and the log (default: a temporary one)")
    parser.add_argument("--frames", type=int, default=10, help="frames to read (default: 10)")
    parser.add_argument("--timeout", type=float, default=5.0, help="seconds to wait for each frame")
    parser.add_argument("--save", metavar="DIR", help="save every frame as PGM/PPM in DIR")
    parser.add_argument("--library", help="the driver library or its folder")
    return parser.parse_args(argv)


def grab(args, system_dir):
    with Driver(system_dir, library=args.library) as driver:
        camera = driver.open(args.camera, port=args.port, share=args.share)
        start = time.monotonic()
        for index in range(args.frames):
            frame = camera.read(timeout=args.timeout)
            if args.save:
                extension = "pgm" if frame.ndim == 2 else "ppm"
                save_netpbm(os.path.join(args.save, f"frame-{index:05d}.{extension}"), frame)
        seconds = max(time.monotonic() - start, 1e-9)
        print(f"{args.frames} frames of {camera.width}x{camera.height}x{camera.bytes_per_pixel} "
              f"in {seconds:.2f} s ({args.frames / seconds:.1f} fps), "
              f"{camera.frames_dropped} dropped")
        camera.close()


def main(argv=None):
    args = parse(argv)
    if args.save:
        os.makedirs(args.save, exist_ok=True)
    try:
        if args.system_dir:
            grab(args, args.system_dir)
        else:
            with tempfile.TemporaryDirectory(prefix="quorvex-grab-") as system_dir:
                grab(args, system_dir)
    except (LibraryNotFoundError, ValueError, TimeoutError, RuntimeError) as error:
        print(f"quorvex.grab: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
