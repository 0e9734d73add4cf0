"""Python's Server.publish of a 1920x1080x3 frame against the same C call.

Run from a Release build:
    PYTHONPATH=build/release/python python3 bench/python_publish_bench.py build/release/bin/publish_call_bench

Both publish an rgb24 frame to a server without clients; the figure is the
ratio of the medians (the goal: at most 1.2)."""

import re
import subprocess
import sys
import time
import uuid

import numpy as np

import quorvex

WIDTH, HEIGHT, CALLS = 1920, 1080, 300


def python_median_us():
    frame = np.full((HEIGHT, WIDTH, 3), 7, np.uint8)
    times = []
    with quorvex.Server(f"python-publish-bench-{uuid.uuid4().hex}", WIDTH, HEIGHT, "rgb24", 1) as srv:
        for _ in range(CALLS):
            start = time.perf_counter()
            srv.publish(frame)
            times.append((time.perf_counter() - start) * 1e6)
    times.sort()
    return times[len(times) // 2], times[0]


def c_median_us(bench):
    output = subprocess.run([bench, str(WIDTH), str(HEIGHT), str(CALLS)], check=True, capture_output=True,
                            text=True).stdout
    median, fastest = re.search(r"median ([\d.]+) us, fastest ([\d.]+) us", output).groups()
    return float(median), float(fastest)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    # Alternated, so that both see the same machine load.
    rounds = [(c_median_us(sys.argv[1]), python_median_us()) for _ in range(3)]
    c = sorted(r[0][0] for r in rounds)[1]
    py = sorted(r[1][0] for r in rounds)[1]
    print(f"{WIDTH}x{HEIGHT}x3 publish, median of {CALLS} calls, middle of 3 rounds: "
          f"C {c:.1f} us, Python {py:.1f} us, ratio {py / c:.3f} (goal: at most 1.2)")


if __name__ == "__main__":
    main()
