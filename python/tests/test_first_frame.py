"""The first frame published after wait_for_clients reaches the host, however
the host starts and whenever it sets its callback."""

import random
import threading
import time

import numpy as np
import pytest

import quorvex

TRIES = 20


def open_in_thread(driver, share, result):
    def run():
        try:
            result.append(driver.open("Camera 1", port=1, share=share, timeout_ms=5000))
        except BaseException as error:  # reported by the test
            result.append(error)

    thread = threading.Thread(target=run)
    thread.start()
    return thread


def first_frame_arrives(driver, share, try_, read_delay=lambda: 0.0):
    """One try: the host opens on its own thread while the server waits for
    it; every fourth try the host starts first and looks for the server. The
    host reads read_delay() seconds after the open has returned."""
    rng = np.random.default_rng(try_)
    frame = rng.integers(0, 256, size=(24, 40), dtype=np.uint8)
    opened = []
    host_first = try_ % 4 == 3
    opener = open_in_thread(driver, share, opened) if host_first else None
    if host_first:
        time.sleep(0.05)
    with quorvex.Server(share, 40, 24, "gray8", max_clients=1) as srv:
        opener = opener or open_in_thread(driver, share, opened)
        assert srv.wait_for_clients(1, timeout=10.0), f"try {try_}: no host"
        assert srv.publish(frame) == 1, f"try {try_}: the frame reached no host"
        opener.join(timeout=10.0)
        assert opened and not isinstance(opened[0], BaseException), f"try {try_}: {opened}"
        camera = opened[0]
        try:
            time.sleep(read_delay())
            np.testing.assert_array_equal(camera.read(timeout=5.0), frame, err_msg=f"try {try_}")
            assert camera.frames_received == 1
        finally:
            camera.close()


def test_first_frame_reaches_the_python_driver(driver, share):
    for try_ in range(TRIES):
        first_frame_arrives(driver, share, try_)


def test_first_frame_reaches_a_host_that_reads_late(driver, share):
    # The host library holds the frame until the application reads, up to
    # 100 ms after the open returns.
    delays = random.Random(7)
    for try_ in range(TRIES):
        first_frame_arrives(driver, share, try_, lambda: delays.uniform(0.0, 0.1))


@pytest.mark.parametrize("count", [0, 1])
def test_wait_for_clients_times_out_without_hosts(share, count):
    with quorvex.Server(share, 8, 6) as srv:
        start = time.monotonic()
        assert srv.wait_for_clients(count, timeout=0.3) == (count == 0)
        assert time.monotonic() - start < 5.0
