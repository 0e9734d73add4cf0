"""Frames from the Python Server carry the server library's numbers and
capture times, and the server keeps every rule quorvex-check knows."""

import json
import os
import subprocess
import time

import numpy as np

import quorvex
from quorvex import _layout

REALTIME_SLACK_US = 1_000_000


def test_frames_are_numbered_from_one_without_gaps(driver, share):
    with quorvex.Server(share, 16, 8, "gray8", max_clients=1) as srv:
        cam = driver.open("Camera 1", port=1, share=share)
        previous = 0
        for n in range(1, 6):
            srv.publish(np.full((8, 16), n, dtype=np.uint8))
            pixels, info = cam.read(timeout=5.0, meta=True)
            assert pixels[0, 0] == n
            assert (info.number, info.gap) == (n, 0)
            assert info.capture_us > previous
            assert abs(time.time() * 1e6 - info.capture_us) < REALTIME_SLACK_US
            assert 0 <= info.arrived_us - info.capture_us < REALTIME_SLACK_US
            previous = info.capture_us
        assert cam._property(b"FramesSkipped") == 0
        assert cam.frames_lost == 0
        cam.close()


def test_skipped_numbers_are_counted_as_lost(driver, share):
    with quorvex.Server(share, 16, 8, "gray8", max_clients=1) as srv:
        cam = driver.open("Camera 1", port=1, share=share)
        srv.publish(np.zeros((8, 16), dtype=np.uint8))
        assert cam.read(timeout=5.0, meta=True)[1].number == 1
        srv.skip_frames(4)
        srv.publish(np.ones((8, 16), dtype=np.uint8))
        pixels, info = cam.read(timeout=5.0, meta=True)
        assert pixels[0, 0] == 1
        assert (info.number, info.gap) == (6, 4)
        assert cam._property(b"FramesSkipped") == 4
        assert cam.frames_lost == 4
        cam.close()
        assert cam.frames_lost == 4


def check_tool():
    here = os.path.dirname(quorvex.__file__)
    for folder in _layout.LIBRARY_DIRS:
        for name in ("quorvex-check", "quorvex-check.exe"):
            path = os.path.normpath(os.path.join(here, folder, name))
            if os.path.isfile(path):
                return path
    raise AssertionError(f"quorvex-check is not beside the libraries in {_layout.LIBRARY_DIRS}")


def test_quorvex_check_passes_the_python_server(share):
    with quorvex.Server(share, 32, 16, "rgb24", max_clients=2) as srv:
        checker = subprocess.Popen([check_tool(), share, "--json", "--frames", "6"], stdout=subprocess.PIPE,
                                   text=True)
        rng = np.random.default_rng(5)
        while checker.poll() is None:
            srv.publish(rng.integers(0, 256, size=(16, 32, 3), dtype=np.uint8))
            time.sleep(0.02)
        report = json.loads(checker.stdout.read())
    assert checker.returncode == 0, report
    assert report["pass"] is True
    assert [rule["name"] for rule in report["rules"] if not rule["pass"]] == []
    numbering = next(rule for rule in report["rules"] if rule["name"] == "numbering")
    assert "frames numbered" in numbering["saw"]
