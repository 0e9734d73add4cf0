"""One writer of test_writers_in_eight_processes_lose_nothing: opens camera N
of the folder WRITES times, each time with a share and a time-out of its
own, and checks that its write before is still in the file, and that the
camera read the new one.

Usage: settings_writer_child.py SYSTEM_DIR N WRITES"""

import sys
from pathlib import Path

import quorvex
from conftest import settings_value


def main(system_dir, number, writes):
    path = Path(system_dir) / "Quorvex.ini"
    camera_name = f"Camera {number}"
    with quorvex.Driver(system_dir) as driver:
        for write in range(writes):
            if write > 0:
                kept = (settings_value(path, camera_name, "PipeName"),
                        settings_value(path, camera_name, "ConnectionTimeout"))
                expected = (f"writer {number} write {write - 1}", str(100 + (write - 1) % 3))
                if kept != expected:
                    print(f"{camera_name}: before write {write} the file holds {kept}, not {expected}")
                    return 1
            share = f"writer {number} write {write}"
            camera = driver.open(camera_name, port=number, share=share, timeout_ms=100 + write % 3)
            if camera.share != share:
                print(f"{camera_name}: write {write} opened on {camera.share!r}")
                return 1
            camera.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], int(sys.argv[2]), int(sys.argv[3])))
