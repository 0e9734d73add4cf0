"""Fixtures: a unique share per test, a settings folder, and a driver.

Run with the build's copy of the package first on the path
(PYTHONPATH=<build>/python), which finds the build's libraries itself."""

import os
import time
import uuid

import pytest

import quorvex


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
