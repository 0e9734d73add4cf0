"""Server calls from many threads at once, and a close among them."""

import random
import threading

import numpy as np

import quorvex

SIZES = [(320, 240), (160, 120), (64, 48)]
ROUNDS = 200
WORKERS = 4


def frames_by_size():
    rng = np.random.default_rng(23)
    return {size: rng.integers(0, 256, size=(size[1], size[0], 3), dtype=np.uint8) for size in SIZES}


def test_close_while_four_threads_publish_and_resize(share):
    frames = frames_by_size()
    largest = max(w * h * 3 for w, h in SIZES)
    sent = refused = 0
    unexpected = []
    totals = threading.Lock()

    def work(srv, seed, go):
        nonlocal sent, refused
        chooser = random.Random(seed)
        mine_sent = mine_refused = 0
        go.wait()
        while True:
            size = chooser.choice(SIZES)
            try:
                if chooser.random() < 0.75:
                    result = srv.publish(frames[size])
                    assert isinstance(result, int) and result >= 0
                    mine_sent += 1
                else:
                    srv.resize(*size)
            except ValueError as error:
                # Closed, or resized under a frame of the size before.
                mine_refused += 1
                if "closed" in str(error):
                    break
            except BaseException as error:  # anything else is a fault
                unexpected.append(repr(error))
                break
        with totals:
            sent += mine_sent
            refused += mine_refused

    for round_ in range(ROUNDS):
        srv = quorvex.Server(share, *SIZES[0], "rgb24", max_frame_bytes=largest)
        go = threading.Event()
        workers = [threading.Thread(target=work, args=(srv, round_ * WORKERS + n, go)) for n in range(WORKERS)]
        for worker in workers:
            worker.start()
        go.set()
        threading.Event().wait(random.Random(round_).uniform(0.0, 0.004))
        srv.close()
        for worker in workers:
            worker.join(timeout=10.0)
            assert not worker.is_alive(), f"round {round_}: a worker is still running after close"
        assert not unexpected, f"round {round_}: {unexpected}"
    # Both outcomes happened: the close met publishes in flight.
    assert sent > 0 and refused >= ROUNDS * WORKERS


def test_calls_after_close_raise(share):
    srv = quorvex.Server(share, 4, 4)
    srv.close()
    srv.close()
    for call in (lambda: srv.publish(np.zeros((4, 4), np.uint8)), lambda: srv.resize(2, 2),
                 lambda: srv.clients, lambda: srv.wait_for_clients(1, timeout=0.1)):
        try:
            call()
        except ValueError as error:
            assert "the server is closed" in str(error)
        else:
            raise AssertionError("a call after close did not raise")


def test_a_second_server_in_this_process_says_so(share):
    with quorvex.Server(share, 8, 6):
        try:
            quorvex.Server(share, 8, 6)
        except OSError as error:
            assert f"the share \"{share}\" is already served by this process" in str(error)
        else:
            raise AssertionError("a second server of the share was created")
