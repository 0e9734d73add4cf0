"""Fixtures: a unique share per test, a settings folder, and a driver.

Run with the build's copy of the package first on the path
(PYTHONPATH=<build>/python), which finds the build's libraries itself."""

import contextlib
import os
import subprocess
import sys
import threading
import time
import uuid

import pytest

import quorvex
from quorvex import _library


@pytest.fixture
def share():
    # Unique per test run: other tests on this machine serve shares too.
    return f"pytest-{os.getpid()}-{uuid.uuid4().hex[:10]}"


@pytest.fixture
def driver(tmp_path):
    drv = quorvex.Driver(tmp_path)
    yield drv
    drv.close()


def wait_until(condition, timeout=10.0):
    """True as soon as condition() holds; False after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.005)
    return True


@pytest.fixture
def settings_file(tmp_path):
    """The driver fixture's Quorvex.ini."""
    return tmp_path / "Quorvex.ini"


def settings_value(path, section, key):
    """The value of `key` in `section` of a settings file as the library
    writes it (names compared without regard to case); None when missing."""
    current = None
    for line in path.read_text(encoding="utf-8-sig").splitlines():
        stripped = line.strip()
        if stripped.startswith("["):
            current = stripped[1:stripped.index("]")].strip().lower()
        elif current == section.lower() and "=" in stripped and not stripped.startswith(";"):
            name, value = stripped.split("=", 1)
            if name.strip().lower() == key.lower():
                return value.strip()
    return None


@pytest.fixture(scope="session")
def server_tool():
    """quorvex-server of the build whose libraries the package uses."""
    name = "quorvex-server.exe" if os.name == "nt" else "quorvex-server"
    for folder in _library.search_dirs():
        if os.path.isfile(os.path.join(folder, name)):
            return os.path.join(folder, name)
    raise AssertionError(f"no {name} in {_library.search_dirs()}")


@contextlib.contextmanager
def publishing(share, frame, format_name="gray8", period=0.002):
    """A camera server that publishes `frame` every `period` seconds on its
    own thread until the block ends."""
    height, width = frame.shape[:2]
    with quorvex.Server(share, width, height, format_name) as srv:
        stop = threading.Event()

        def run():
            while not stop.wait(period):
                srv.publish(frame)

        publisher = threading.Thread(target=run)
        publisher.start()
        try:
            yield srv
        finally:
            stop.set()
            publisher.join(timeout=10.0)
            assert not publisher.is_alive(), "the publishing thread did not end"


def run_package_module(module, *args, cwd=None, timeout=60):
    """python3 -m quorvex.<module> args..., to its end: the CompletedProcess."""
    return subprocess.run([sys.executable, "-m", f"quorvex.{module}", *args], capture_output=True, text=True,
                          timeout=timeout, cwd=cwd)
