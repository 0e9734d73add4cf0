"""Frames published from Python come back exactly through the driver."""

import numpy as np
import pytest

import quorvex
from conftest import wait_until

# (format, order, the channels a host receives, as indices into the source)
CASES = {
    "gray8": ("gray8", "rgb", None),
    "rgb24": ("rgb24", "rgb", [0, 1, 2]),
    "bgr24 as rgb": ("bgr24", "rgb", [2, 1, 0]),
    "rgba32": ("rgba32", "rgb", [0, 1, 2, 3]),
    "bgra32 as rgba": ("bgra32", "rgb", [2, 1, 0, 3]),
    "rgb24 as bgr": ("rgb24", "bgr", [2, 1, 0]),
    "bgr24 as bgr": ("bgr24", "bgr", [0, 1, 2]),
    "rgba32 as bgra": ("rgba32", "bgr", [2, 1, 0, 3]),
    "bgra32 as bgra": ("bgra32", "bgr", [0, 1, 2, 3]),
}


def random_frame(rng, width, height, format_name):
    channels = quorvex.FORMATS[format_name][1]
    shape = (height, width) if channels == 1 else (height, width, channels)
    return rng.integers(0, 256, size=shape, dtype=np.uint8)


@pytest.mark.parametrize("case", CASES.values(), ids=CASES.keys())
def test_every_format_reads_back_exactly(driver, share, case):
    format_name, order, channels = case
    rng = np.random.default_rng(7)
    width, height = 37, 23
    with quorvex.Server(share, width, height, format_name, max_clients=1, order=order) as srv:
        cam = driver.open("Camera 1", port=1, share=share)
        assert (cam.width, cam.height) == (width, height)
        assert cam.bytes_per_pixel == quorvex.FORMATS[format_name][1]
        for _ in range(3):
            frame = random_frame(rng, width, height, format_name)
            assert srv.publish(frame) == 1
            expected = frame if channels is None else frame[:, :, channels]
            np.testing.assert_array_equal(cam.read(timeout=5.0), expected)
        assert cam.frames_received == 3
        cam.close()
        # The counts stay as the camera closed; reads are refused.
        assert cam.frames_received == 3
        with pytest.raises(ValueError, match="^Camera 1 is closed$"):
            cam.read(timeout=0)


@pytest.mark.parametrize("layout", ["row gap", "column step", "reversed rows", "fortran order"])
def test_frames_of_any_strides_read_back_exactly(driver, share, layout):
    rng = np.random.default_rng(11)
    width, height = 40, 30
    big = rng.integers(0, 256, size=(height * 2, width * 2, 3), dtype=np.uint8)
    frames = {
        "row gap": big[:height, :width],
        "column step": big[:height, ::2],
        "reversed rows": big[height - 1::-1, :width],
        "fortran order": np.asfortranarray(big[:height, :width]),
    }
    with quorvex.Server(share, width, height, "rgb24") as srv:
        cam = driver.open("Camera 1", port=1, share=share)
        srv.publish(frames[layout])
        np.testing.assert_array_equal(cam.read(timeout=5.0), frames[layout])


def test_resize_changes_what_the_host_reads(driver, share):
    rng = np.random.default_rng(3)
    with quorvex.Server(share, 64, 48, "rgb24", max_frame_bytes=64 * 48 * 4) as srv:
        cam = driver.open("Camera 1", port=1, share=share)
        first = random_frame(rng, 64, 48, "rgb24")
        srv.publish(first)
        np.testing.assert_array_equal(cam.read(timeout=5.0), first)

        srv.resize(32, 16, format="gray8")
        assert (srv.width, srv.height, srv.format) == (32, 16, "gray8")
        second = random_frame(rng, 32, 16, "gray8")
        srv.publish(second)
        np.testing.assert_array_equal(cam.read(timeout=5.0), second)
        assert (cam.width, cam.height, cam.bytes_per_pixel) == (32, 16, 1)

        srv.resize(48, 64, format="bgra32")
        third = random_frame(rng, 48, 64, "bgra32")
        srv.publish(third)
        np.testing.assert_array_equal(cam.read(timeout=5.0), third[:, :, [2, 1, 0, 3]])


def test_camera_follows_a_server_restart(driver, share):
    rng = np.random.default_rng(5)
    srv = quorvex.Server(share, 20, 10, "gray8")
    cam = driver.open("Camera 1", port=1, share=share)
    srv.publish(random_frame(rng, 20, 10, "gray8"))
    cam.read(timeout=5.0)
    srv.close()

    with quorvex.Server(share, 30, 15, "rgb24") as again:
        # The camera looks for its server once a second.
        assert again.wait_for_clients(1, timeout=10.0)
        assert wait_until(lambda: cam.width == 30)
        frame = random_frame(rng, 30, 15, "rgb24")
        assert again.publish(frame) == 1
        np.testing.assert_array_equal(cam.read(timeout=5.0), frame)


def test_two_cameras_on_two_servers(driver, share):
    rng = np.random.default_rng(9)
    with quorvex.Server(share + "-a", 16, 8, "gray8") as a, quorvex.Server(share + "-b", 8, 16, "rgb24") as b:
        cam_a = driver.open("Camera 1", port=1, share=share + "-a")
        cam_b = driver.open("Camera 2", port=2, share=share + "-b")
        frame_a, frame_b = random_frame(rng, 16, 8, "gray8"), random_frame(rng, 8, 16, "rgb24")
        a.publish(frame_a)
        b.publish(frame_b)
        np.testing.assert_array_equal(cam_b.read(timeout=5.0), frame_b)
        np.testing.assert_array_equal(cam_a.read(timeout=5.0), frame_a)


def test_two_cameras_on_one_server(driver, share):
    rng = np.random.default_rng(13)
    with quorvex.Server(share, 24, 12, "bgr24", max_clients=2) as srv:
        cams = [driver.open(f"Camera {n}", port=n, share=share) for n in (1, 2)]
        assert srv.clients == 2
        frame = random_frame(rng, 24, 12, "bgr24")
        assert srv.publish(frame) == 2
        for cam in cams:
            np.testing.assert_array_equal(cam.read(timeout=5.0), frame[:, :, ::-1])


def test_unread_frames_are_replaced_and_counted(driver, share):
    rng = np.random.default_rng(17)
    with quorvex.Server(share, 10, 10, "gray8") as srv:
        cam = driver.open("Camera 1", port=1, share=share)
        frames = [random_frame(rng, 10, 10, "gray8") for _ in range(3)]
        for count, frame in enumerate(frames, 1):
            srv.publish(frame)
            assert wait_until(lambda: cam.frames_received == count)
        np.testing.assert_array_equal(cam.read(timeout=5.0), frames[-1])
        assert (cam.frames_received, cam.frames_dropped) == (3, 2)
        with pytest.raises(TimeoutError, match="no frame within"):
            cam.read(timeout=0.2)


def test_read_times_out_without_a_server(driver, share):
    cam = driver.open("Camera 3", port=3, share=share, timeout_ms=100)
    assert (cam.width, cam.height) == (0, 0)
    with pytest.raises(TimeoutError):
        cam.read(timeout=0.3)
