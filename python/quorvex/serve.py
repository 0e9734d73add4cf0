"""python3 -m quorvex.serve: a camera server fed from Python.

Serves a moving test pattern, or the frames of a video file (--video, which
needs OpenCV for Python: Debian's python3-opencv).

    python3 -m quorvex.serve --share "My Share" --size 640x480 --format rgb24 --fps 30
    python3 -m quorvex.serve --share "My Share" --video clip.mp4

A video plays at its own rate unless --fps gives another; --fps 0 serves as
fast as frames come. Ctrl+C ends with the count of frames published.
"""

import argparse
import os
import sys
import time

import numpy as np

from ._formats import FORMATS, frame_shape
from ._library import LibraryNotFoundError
from .server import Server


def size(text):
    try:
        width, height = (int(part) for part in text.lower().split("x"))
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected WIDTHxHEIGHT, got {text!r}") from None
    if width <= 0 or height <= 0:
        raise argparse.ArgumentTypeError(f"expected a positive WIDTHxHEIGHT, got {text!r}")
    return width, height


def rate(text):
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number of frames per second, got {text!r}") from None
    if not value >= 0:
        raise argparse.ArgumentTypeError(f"expected 0 (as fast as possible) or more frames per second, got {text!r}")
    return value


def parse(argv):
    parser = argparse.ArgumentParser(prog="python3 -m quorvex.serve", description=__doc__.splitlines()[0])
    parser.add_argument("--share", default="Camera Share", help="share name (default: Camera Share)")
    parser.add_argument("--size", type=size, default=(640, 480), help="WxH of the test pattern")
    parser.add_argument("--format", choices=FORMATS, default="rgb24", help="test pattern format")
    parser.add_argument("--fps", type=rate,
                        help="frames per second, 0 as fast as possible (default: 30, a video's own rate)")
    parser.add_argument("--frames", type=int, default=0, help="stop after this many frames (0: never)")
    parser.add_argument("--clients", type=int, default=4, help="hosts served at once, 1 to 8")
    parser.add_argument("--video", metavar="FILE", help="serve this video file's frames (needs OpenCV)")
    parser.add_argument("--library", help="the server library or its folder")
    return parser.parse_args(argv)


def pattern_frames(width, height, format_name):
    """A diagonal ramp that moves one pixel per frame, every channel offset."""
    channels = FORMATS[format_name][1]
    ramp = (np.arange(width)[None, :] + np.arange(height)[:, None]).astype(np.uint8)
    if channels > 1:
        ramp = np.stack([ramp + 64 * c for c in range(channels)], axis=2).astype(np.uint8)
    index = 0
    while True:
        yield np.roll(ramp, index, axis=1).reshape(frame_shape(width, height, channels))
        index += 1


kDefaultFps = 30.0


class VideoUnavailable(Exception):
    pass


def video_frames(path):
    """The frames of a video file, as OpenCV decodes them (bgr24), and its
    rate (0 when the file does not say)."""
    if not os.path.isfile(path):
        raise VideoUnavailable(f"no video file {path!r}")
    try:
        import cv2
    except ImportError:
        raise VideoUnavailable("--video needs OpenCV for Python, which is not installed "
                               "(on Debian: apt-get install python3-opencv)") from None
    capture = cv2.VideoCapture(path)
    if not capture.isOpened():
        raise VideoUnavailable(f"cannot open video file {path!r}")
    fps = capture.get(cv2.CAP_PROP_FPS) or 0.0
    ok, frame = capture.read()
    if not ok:
        raise VideoUnavailable(f"no frames in video file {path!r}")

    def frames(first):
        while first is not None:
            yield first
            ok, following = capture.read()
            first = following if ok else None

    return frames(frame), frame.shape[1], frame.shape[0], fps


def serve(args):
    if args.video:
        frames, width, height, video_fps = video_frames(args.video)
        format_name = "bgr24"
        fps = args.fps if args.fps is not None else (video_fps or kDefaultFps)
    else:
        (width, height), format_name = args.size, args.format
        fps = args.fps if args.fps is not None else kDefaultFps
        frames = pattern_frames(width, height, format_name)
    with Server(args.share, width, height, format_name, args.clients, library=args.library) as server:
        print(f"serving {args.share!r}: {width}x{height} {format_name} at "
              f"{f'{fps:g} fps' if fps else 'full speed'}; Ctrl+C stops", flush=True)
        period = 1.0 / fps if fps > 0 else 0.0
        next_time = time.monotonic()
        published = 0
        try:
            for frame in frames:
                server.publish(frame)
                published += 1
                if published == args.frames:
                    break
                next_time += period
                time.sleep(max(0.0, next_time - time.monotonic()))
        except KeyboardInterrupt:
            pass
    print(f"{published} frames published", flush=True)


def main(argv=None):
    args = parse(argv)
    try:
        serve(args)
    except KeyboardInterrupt:
        pass
    except VideoUnavailable as error:
        print(f"quorvex.serve: {error}", file=sys.stderr)
        return 2
    except (LibraryNotFoundError, OSError, ValueError) as error:
        print(f"quorvex.serve: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
