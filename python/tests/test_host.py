"""The package on the host library: nothing of Python on a camera's thread,
the settings file written as the driver reads it, one driver per process,
and the end of a stream told from a stall."""

import collections
import ctypes
import gc
import os
import re
import subprocess
import sys
import threading

import numpy as np
import pytest

import quorvex
from conftest import publishing, run_package_module, settings_value

# The shape of the driver's frame callback: an application's own callbacks of
# this shape are what a thunk freed by a host would most likely be reused for.
AppCallback = ctypes.CFUNCTYPE(None, ctypes.c_int, ctypes.c_int)
ROUNDS = 100


def test_reopening_a_camera_calls_nothing_freed(driver, share):
    frame = np.arange(16 * 8, dtype=np.uint8).reshape(8, 16)
    main = threading.get_ident()
    made = collections.Counter()
    called = collections.Counter()
    strangers = []

    def on_call(key):
        def call(grabber, port):
            called[key] += 1
            if threading.get_ident() != main:
                strangers.append((key, grabber, port))
        return call

    # Frames come as fast as they can, so that some arrive while a camera
    # is being opened.
    with publishing(share, frame, period=0.0):
        callbacks = []
        for round_ in range(ROUNDS):
            camera = driver.open("Camera 1", port=1, share=share, timeout_ms=10000)
            np.testing.assert_array_equal(camera.read(timeout=10.0), frame, err_msg=f"round {round_}")
            camera.close()
            del camera
            # The old callbacks freed, new ones made, likely where they were,
            # while frames keep coming for the camera's next open.
            callbacks.clear()
            gc.collect()
            callbacks.extend(AppCallback(on_call((round_, n))) for n in range(4))
            for n, callback in enumerate(callbacks):
                callback(round_, n)
                made[(round_, n)] += 1
    assert not strangers, f"the application's callbacks were called on another thread: {strangers[:5]}"
    assert called == made


@pytest.mark.parametrize("closing", ["camera", "driver"])
def test_a_close_on_another_thread_ends_a_read_without_limit(driver, share, closing):
    camera = driver.open("Camera 3", port=3, share=share, timeout_ms=100)
    outcome = []

    def read():
        try:
            camera.read(timeout=None)
        except BaseException as error:  # reported by the test
            outcome.append(error)

    reader = threading.Thread(target=read)
    reader.start()
    # The reader is waiting, on the camera's lock or in the library.
    reader.join(timeout=0.3)
    assert reader.is_alive()
    (camera if closing == "camera" else driver).close()
    reader.join(timeout=10.0)
    assert not reader.is_alive(), "the read did not end with the close"
    assert len(outcome) == 1 and isinstance(outcome[0], ValueError), outcome
    assert str(outcome[0]) == "Camera 3 is closed"


BAD_SHARES = {
    "line break": ("one\nCamera 2", "it holds a line break"),
    "carriage return": ("one\rtwo", "it holds a line break"),
    "tab": ("one\ttwo", "it holds a control character"),
    "quotes": ('"quoted"', "it is enclosed in quotes, which the driver drops"),
    "single quotes": ("'quoted'", "it is enclosed in quotes, which the driver drops"),
    "blank in front": (" share", "it begins or ends with a blank, which the driver drops"),
    "blank at the end": ("share ", "it begins or ends with a blank, which the driver drops"),
    "256 bytes": ("s" * 256, "it is 256 bytes or longer, and the driver reads at most 255"),
}

HAND_WRITTEN = ("\ufeff; written by hand, as Notepad saves it\r\n"
                "[Camera 1] ; the first camera\r\n"
                "PipeName=old share\r\n"
                "; the time-out below is the driver's default\r\n"
                "ConnectionTimeout=3000\r\n"
                "\r\n"
                "[Camera 2]\r\n"
                "PipeName=second share\r\n").encode("utf-8")


def refusal(share, reason):
    return f'the share name "{share}" is refused: {reason}'


@pytest.mark.parametrize("bad", BAD_SHARES.values(), ids=BAD_SHARES.keys())
def test_share_names_the_driver_would_read_otherwise_are_refused(driver, settings_file, bad):
    share, reason = bad
    settings_file.write_bytes(HAND_WRITTEN)
    with pytest.raises(ValueError) as raised:
        driver.open("Camera 1", port=1, share=share, timeout_ms=100)
    assert str(raised.value) == refusal(share, reason)
    assert settings_file.read_bytes() == HAND_WRITTEN


def test_the_longest_share_name_the_driver_reads_is_written(driver, settings_file):
    share = "s" * 255
    camera = driver.open("Camera 7", port=7, share=share, timeout_ms=100)
    assert camera.share == share
    assert settings_value(settings_file, "Camera 7", "PipeName") == share


@pytest.mark.parametrize("bad", [BAD_SHARES["line break"], BAD_SHARES["blank at the end"]], ids=["line break", "blank"])
def test_the_grab_refuses_a_bad_share_in_the_same_words(tmp_path, bad):
    share, reason = bad
    (tmp_path / "Quorvex.ini").write_bytes(HAND_WRITTEN)
    grab = run_package_module("grab", "--share", share, "--frames", "1", "--timeout", "0.5", cwd=tmp_path)
    assert grab.returncode == 1
    assert grab.stderr == f"quorvex.grab: {refusal(share, reason)}\n"
    assert (tmp_path / "Quorvex.ini").read_bytes() == HAND_WRITTEN


def test_a_hand_written_settings_file_is_changed_as_the_driver_reads_it(driver, share, settings_file):
    settings_file.write_bytes(HAND_WRITTEN)
    frame = np.arange(12 * 6, dtype=np.uint8).reshape(6, 12)
    with publishing(share, frame):
        camera = driver.open("Camera 1", port=1, share=share, timeout_ms=10000)
        # The driver read the new share: the camera is connected to it.
        assert camera.share == share
        assert (camera.width, camera.height) == (12, 6)
        np.testing.assert_array_equal(camera.read(timeout=10.0), frame)
    text = settings_file.read_bytes().decode("utf-8")
    assert text.startswith("\ufeff; written by hand")
    assert len(re.findall(r"^\[camera 1\]", text, re.I | re.M)) == 1, text
    assert "[Camera 1] ; the first camera\r\n" in text
    assert "; the time-out below is the driver's default\r\n" in text
    assert "old share" not in text
    assert settings_value(settings_file, "Camera 1", "PipeName") == share
    assert settings_value(settings_file, "Camera 1", "ConnectionTimeout") == "10000"
    assert text.endswith("[Camera 2]\r\nPipeName=second share\r\n")


WRITERS = 8
WRITES = 100


def test_writers_in_eight_processes_lose_nothing(tmp_path, settings_file):
    # Each process opens a camera of its own 100 times, each time with a new
    # share and time-out, and checks that its last write is still in the file.
    child = os.path.join(os.path.dirname(__file__), "settings_writer_child.py")
    processes = [subprocess.Popen([sys.executable, child, str(tmp_path), str(n + 1), str(WRITES)],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
                 for n in range(WRITERS)]
    outputs = []
    try:
        for process in processes:
            outputs.append(process.communicate(timeout=600)[0])
    finally:
        for process in processes:
            process.kill()
    for process, output in zip(processes, outputs):
        assert process.returncode == 0, output
    for n in range(1, WRITERS + 1):
        assert settings_value(settings_file, f"Camera {n}", "PipeName") == f"writer {n} write {WRITES - 1}"
        assert settings_value(settings_file, f"Camera {n}", "ConnectionTimeout") == str(100 + (WRITES - 1) % 3)


def test_a_second_driver_with_another_folder_is_refused(driver, share, tmp_path_factory):
    other = tmp_path_factory.mktemp("other")
    with pytest.raises(RuntimeError) as raised:
        quorvex.Driver(other)
    assert str(raised.value) == (
        f'the driver keeps one settings folder for the whole process, and it is "{driver.system_dir}": a second host '
        f'with "{other}" is refused while the first is open (hosts of one process share one folder)')
    assert not (other / "Quorvex.ini").exists()
    # The first one still writes where the driver reads.
    frame = np.full((4, 8), 3, np.uint8)
    with publishing(share, frame):
        camera = driver.open("Camera 1", port=1, share=share, timeout_ms=10000)
        np.testing.assert_array_equal(camera.read(timeout=10.0), frame)
        camera.close()
    # Once it is closed, another folder may be taken.
    driver.close()
    with quorvex.Driver(other) as moved:
        moved.open("Camera 1", port=1, share=share, timeout_ms=100).close()
    assert settings_value(other / "Quorvex.ini", "Camera 1", "PipeName") == share


def test_a_dropped_driver_gives_its_folder_up(tmp_path_factory):
    first, second = tmp_path_factory.mktemp("first"), tmp_path_factory.mktemp("second")
    quorvex.Driver(first)
    gc.collect()
    with quorvex.Driver(second) as taken:
        assert taken.system_dir == str(second)


def test_a_camera_asked_for_twice_is_refused(driver, share):
    first = driver.open("Camera 4", port=4, share=share, timeout_ms=100)
    with quorvex.Driver(driver.system_dir) as same_folder:
        with pytest.raises(ValueError, match="^Camera 4 is open already, on port 4; a camera is opened once in a "
                                             "process$"):
            same_folder.open("Camera 4", port=5, share=share, timeout_ms=100)
    with pytest.raises(ValueError, match="^Camera 4 is open already, on port 4"):
        driver.open("Camera 4", port=4, share=share, timeout_ms=100)
    first.close()
    driver.open("Camera 4", port=5, share=share, timeout_ms=100).close()


def serve_then_stop(server_tool, share, frames):
    """quorvex-server publishing `frames` frames of 16x8 once a host is
    there, then sending Stop."""
    return subprocess.Popen([server_tool, "--share", share, "--size", "16x8", "--frames", str(frames), "--fps", "20",
                             "--wait-for-hosts", "1", "--wait-timeout", "120"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def test_a_servers_stop_ends_the_stream(driver, share, server_tool):
    server = serve_then_stop(server_tool, share, 3)
    try:
        camera = driver.open("Camera 1", port=1, share=share, timeout_ms=10000)
        received = 0
        with pytest.raises(quorvex.StreamEnded) as ended:
            while True:
                assert camera.read(timeout=30.0).shape == (8, 16)
                received += 1
        assert str(ended.value) == f'Camera 1: the server of the share "{share}" ended the stream (Stop)'
        assert 1 <= received <= 3
        # It stays ended, at once.
        with pytest.raises(quorvex.StreamEnded):
            camera.read(timeout=0)
        output = server.communicate(timeout=60)[0]
    finally:
        server.kill()
    assert server.returncode == 0, output
    assert "sent Stop to 1 host" in output


def test_the_grab_ends_with_its_summary_after_a_stop(tmp_path, share, server_tool):
    server = serve_then_stop(server_tool, share, 5)
    try:
        grab = run_package_module("grab", "--share", share, "--timeout", "30", cwd=tmp_path, timeout=120)
        server.communicate(timeout=60)
    finally:
        server.kill()
    assert grab.returncode == 0, grab.stderr
    assert f'the server of the share "{share}" ended the stream (Stop)' in grab.stderr
    assert re.search(r"^[1-5] frames of 16x8x1 ", grab.stdout, re.M), grab.stdout
