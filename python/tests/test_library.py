"""Where the package finds its libraries, and what it says when it cannot."""

import os
import re
import subprocess
import sys

import pytest

import quorvex
from quorvex import _formats, _library

SERVER_AND_DRIVER = {
    "server": (lambda tmp, **kw: quorvex.Server("never-served", 4, 4, **kw), _library.SERVER),
    # The driver is loaded through the host library, which the package looks for.
    "driver": (lambda tmp, **kw: quorvex.Driver(tmp, **kw), _library.HOST),
}


@pytest.mark.parametrize("make", SERVER_AND_DRIVER.values(), ids=SERVER_AND_DRIVER.keys())
def test_library_argument_without_the_library(tmp_path, make):
    construct, file_name = make
    with pytest.raises(quorvex.LibraryNotFoundError) as raised:
        construct(tmp_path, library=tmp_path)
    message = str(raised.value)
    assert f"cannot load {file_name}" in message
    assert f"{tmp_path / file_name}: no such file" in message
    assert "set QUORVEX_LIB_DIR" in message


@pytest.mark.parametrize("make", SERVER_AND_DRIVER.values(), ids=SERVER_AND_DRIVER.keys())
def test_environment_folder_without_the_library(tmp_path, monkeypatch, make):
    construct, file_name = make
    monkeypatch.setenv("QUORVEX_LIB_DIR", str(tmp_path))
    with pytest.raises(quorvex.LibraryNotFoundError, match=f"{tmp_path / file_name}: no such file"):
        construct(tmp_path)


def test_a_file_that_is_no_library_names_the_loaders_reason(tmp_path):
    fake = tmp_path / _library.SERVER
    fake.write_bytes(b"not a shared library")
    with pytest.raises(quorvex.LibraryNotFoundError, match=f"{fake}: .+") as raised:
        quorvex.Server("never-served", 4, 4, library=fake)
    assert "no such file" not in str(raised.value)


def test_library_argument_and_environment_find_the_build(tmp_path, monkeypatch, share):
    build_bin = os.path.dirname(_found_dir())
    with quorvex.Server(share, 4, 4, library=os.path.join(build_bin, _library.SERVER)):
        pass
    monkeypatch.setenv("QUORVEX_LIB_DIR", build_bin)
    with quorvex.Driver(tmp_path) as drv:
        assert drv.cameras == [f"Camera {n}" for n in range(1, 33)]


def _found_dir():
    """The folder the default search finds the server library in."""
    for folder in _library.search_dirs():
        path = os.path.join(folder, _library.SERVER)
        if os.path.isfile(path):
            return path
    raise AssertionError(f"no {_library.SERVER} in {_library.search_dirs()}")


def test_default_search_finds_the_build_bin_beside_the_package():
    assert os.path.basename(os.path.dirname(_found_dir())) == "bin"


def test_import_alone_needs_no_library(tmp_path):
    # Importing must work on a machine without the libraries: only the
    # constructors look for them.
    env = dict(os.environ, QUORVEX_LIB_DIR=str(tmp_path))
    run = subprocess.run([sys.executable, "-c", "import quorvex; print(sorted(quorvex.FORMATS))"],
                         env=env, capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert "gray8" in run.stdout


def test_a_checkout_uses_its_build_and_says_which(tmp_path):
    # A checkout's python/quorvex (none of the files the build makes:
    # _layout.py, _constants.py) beside build/native/bin, the build's copy of
    # the package and VERSION, as PYTHONPATH=python gives it to a user.
    checkout = tmp_path / "checkout"
    package = checkout / "python" / "quorvex"
    package.mkdir(parents=True)
    built = os.path.dirname(quorvex.__file__)
    for source in os.listdir(built):
        if source.endswith(".py") and source not in ("_layout.py", "_constants.py"):
            (package / source).write_bytes(open(os.path.join(built, source), "rb").read())
    built_package = checkout / "build" / "native" / "python" / "quorvex"
    built_package.mkdir(parents=True)
    (built_package / "_constants.py").write_bytes(open(os.path.join(built, "_constants.py"), "rb").read())
    build_bin = checkout / "build" / "native" / "bin"
    build_bin.mkdir(parents=True)
    (build_bin / _library.SERVER).symlink_to(_found_dir())
    (checkout / "VERSION").write_text("9.8.7.6\n")
    env = dict(os.environ, PYTHONPATH=str(checkout / "python"))
    env.pop("QUORVEX_LIB_DIR", None)
    script = ("import quorvex; print(quorvex.__version__); print(sorted(quorvex.FORMATS)); "
              "quorvex.Server('never-served', 4, 4).close(); print(quorvex.loaded_libraries())")
    run = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines()[0] == "9.8.7.6"
    assert run.stdout.splitlines()[1] == "['bgr24', 'bgra32', 'gray8', 'rgb24', 'rgba32']"
    assert str(build_bin / _library.SERVER) in run.stdout
    assert f"{_library.SERVER} from the checkout's build/native" in run.stderr


def test_the_version_is_the_projects():
    version_file = os.path.join(os.path.dirname(__file__), "..", "..", "VERSION")
    with open(version_file, encoding="ascii") as file:
        assert quorvex.__version__ == file.readline().strip()


def test_other_users_cannot_be_admitted_on_linux_and_the_share_is_freed(share):
    # Linux gives every user names of their own: there is no one to admit.
    with pytest.raises(OSError, match="cannot admit other users .*not supported here"):
        quorvex.Server(share, 4, 4, allow_other_users=True)
    with quorvex.Server(share, 4, 4, allow_other_users=False):
        pass


def test_a_folder_without_the_driver_says_so_in_the_host_librarys_words(tmp_path):
    # The host library alone, in a process of its own: a process keeps the
    # driver it loaded first.
    host = os.path.join(os.path.dirname(_found_dir()), _library.HOST)
    (tmp_path / _library.HOST).write_bytes(open(host, "rb").read())
    script = ("import sys, quorvex\n"
              "try:\n"
              f"    quorvex.Driver({str(tmp_path)!r}, library={str(tmp_path)!r})\n"
              "except RuntimeError as error:\n"
              "    print(error)\n")
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.startswith(f'cannot load the driver "{tmp_path / _library.DRIVER}": '), run.stdout
    assert "system error" not in run.stdout


def test_the_constants_are_the_headers():
    # Read here on their own, as a check of what the build made of them.
    include = os.path.join(os.path.dirname(__file__), "..", "..", "include")
    with open(os.path.join(include, "quorvex_server.h"), encoding="ascii") as file:
        header = file.read()
    formats = re.findall(r"^#define QUORVEX_FORMAT_(\w+) (\d+) +/\* (\d+) bytes? per pixel", header, re.M)
    assert len(formats) == 5
    assert quorvex.FORMATS == {name.lower(): (int(code), int(size)) for name, code, size in formats}
    orders = re.findall(r"^#define QUORVEX_ORDER_(\w+) (\d+)", header, re.M)
    assert _formats.ORDERS == {name.lower(): int(code) for name, code in orders}
    clients = re.search(r"^#define QUORVEX_SERVER_MAX_CLIENTS (\d+)", header, re.M)
    assert quorvex.server.MAX_CLIENTS == int(clients.group(1))
