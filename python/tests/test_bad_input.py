"""Wrong frames and arguments are refused with a ValueError that says what
was expected, and nothing reaches the host."""

import numpy as np
import pytest

import quorvex


@pytest.fixture
def served(driver, share):
    with quorvex.Server(share, 8, 6, "rgb24") as srv:
        cam = driver.open("Camera 1", port=1, share=share)
        yield srv, cam


BAD_FRAMES = {
    "float dtype": (np.zeros((6, 8, 3), np.float32), r"expected dtype uint8 for rgb24; got float32"),
    "int16 dtype": (np.zeros((6, 8, 3), np.int16), r"expected dtype uint8"),
    "gray shape": (np.zeros((6, 8), np.uint8), r"expected shape \(6, 8, 3\) for rgb24 at 8x6; got \(6, 8\)"),
    "four channels": (np.zeros((6, 8, 4), np.uint8), r"expected shape \(6, 8, 3\)"),
    "transposed": (np.zeros((8, 6, 3), np.uint8), r"got \(8, 6, 3\)"),
    "too small": (np.zeros((5, 8, 3), np.uint8), r"got \(5, 8, 3\)"),
    "a list": ([[0] * 24] * 6, r"expected a numpy array of uint8 with shape \(6, 8, 3\) for rgb24; got list"),
    "bytes": (bytes(144), r"got bytes"),
}


@pytest.mark.parametrize("bad", BAD_FRAMES.values(), ids=BAD_FRAMES.keys())
def test_bad_frames_are_refused_and_nothing_is_sent(served, bad):
    srv, cam = served
    frame, message = bad
    with pytest.raises(ValueError, match=message):
        srv.publish(frame)
    with pytest.raises(TimeoutError):
        cam.read(timeout=0.3)
    assert cam.frames_received == 0
    good = np.full((6, 8, 3), 9, np.uint8)
    assert srv.publish(good) == 1
    np.testing.assert_array_equal(cam.read(timeout=5.0), good)


def test_resize_beyond_the_segment_is_refused(served):
    srv, cam = served
    with pytest.raises(ValueError, match=r"a 9x6 rgb24 frame takes 162 bytes; expected at most 144"):
        srv.resize(9, 6)
    with pytest.raises(ValueError, match=r"expected at most 144"):
        srv.resize(8, 6, format="rgba32")
    assert (srv.width, srv.height, srv.format) == (8, 6, "rgb24")
    assert (cam.width, cam.height, cam.bytes_per_pixel) == (8, 6, 3)


BAD_SERVERS = {
    "format": (dict(format="yuv422"), r"format must be one of gray8, rgb24, bgr24, rgba32, bgra32; got 'yuv422'"),
    "width": (dict(width=0), r"width must be a positive integer; got 0"),
    "height": (dict(height=2.5), r"height must be a positive integer; got 2.5"),
    "order": (dict(order="grb"), r"order must be one of rgb, bgr; got 'grb'"),
    "share": (dict(share=""), r"share must be a non-empty str"),
    "segment": (dict(max_frame_bytes=2**31), r"max_frame_bytes must be between 1 and"),
    "no clients": (dict(max_clients=0), r"max_clients must be an integer from 1 to 8; got 0"),
    "too many clients": (dict(max_clients=9), r"max_clients must be an integer from 1 to 8; got 9"),
}


@pytest.mark.parametrize("bad", BAD_SERVERS.values(), ids=BAD_SERVERS.keys())
def test_bad_server_arguments_are_refused(share, bad):
    changes, message = bad
    arguments = dict(share=share, width=8, height=6, format="gray8")
    arguments.update(changes)
    with pytest.raises(ValueError, match=message):
        quorvex.Server(**arguments)


def test_a_share_in_use_is_refused(share):
    with quorvex.Server(share, 8, 6):
        with pytest.raises(OSError, match=f"cannot serve share '{share}'"):
            quorvex.Server(share, 8, 6)


def test_a_closed_server_refuses_to_publish(share):
    srv = quorvex.Server(share, 4, 4)
    srv.close()
    with pytest.raises(ValueError, match="the server is closed"):
        srv.publish(np.zeros((4, 4), np.uint8))


# Refused in the host library's words, as every face says them.
BAD_OPENS = {
    "unknown name": (dict(name="Camera 33"), r'^the driver has no camera "Camera 33"$'),
    "name in small letters": (dict(name="camera 1"), r'^the driver has no camera "camera 1"$'),
    "negative port": (dict(port=-1), r"port must be a non-negative integer; got -1"),
    "timeout not a number": (dict(timeout_ms="3000"), r"timeout_ms must be an integer \(milliseconds\); got '3000'"),
    "empty share": (dict(share=""), r'^the share name "" is refused: it is empty$'),
    "share not a str": (dict(share=b"bytes"), r"share must be a str; got b'bytes'"),
}


@pytest.mark.parametrize("bad", BAD_OPENS.values(), ids=BAD_OPENS.keys())
def test_bad_open_arguments_are_refused(driver, share, bad, tmp_path):
    changes, message = bad
    arguments = dict(name="Camera 1", port=1, share=share)
    arguments.update(changes)
    with pytest.raises(ValueError, match=message):
        driver.open(**arguments)
    assert not (tmp_path / "Quorvex.ini").exists()


# The driver brings a ConnectionTimeout outside 100 ... 10000 ms inside; so
# does the package, as it writes it.
TIMEOUTS = {"short timeout": (50, 100), "long timeout": (20000, 10000), "beyond 32 bits": (2**40, 10000),
            "negative": (-5, 100)}


@pytest.mark.parametrize("timeouts", TIMEOUTS.values(), ids=TIMEOUTS.keys())
def test_timeouts_out_of_range_are_brought_inside(driver, share, timeouts, tmp_path):
    given, written = timeouts
    with quorvex.Server(share, 4, 4):
        # The open returns as soon as the server has answered.
        camera = driver.open("Camera 2", port=2, share=share, timeout_ms=given)
    assert (tmp_path / "Quorvex.ini").read_text() == f"[Camera 2]\nPipeName={share}\nConnectionTimeout={written}\n"
    camera.close()


def test_a_port_or_camera_in_use_is_refused(driver, share):
    driver.open("Camera 1", port=1, share=share, timeout_ms=100)
    with pytest.raises(ValueError, match="^port 1 holds Camera 1 already$"):
        driver.open("Camera 2", port=1, share=share, timeout_ms=100)
    with pytest.raises(ValueError, match="^Camera 1 is open already, on port 1; a camera is opened once in a process$"):
        driver.open("Camera 1", port=2, share=share, timeout_ms=100)


def test_driver_needs_an_existing_folder(tmp_path):
    with pytest.raises(ValueError, match="system_dir must be an existing folder"):
        quorvex.Driver(tmp_path / "missing")
