"""The command-line tools, as separate processes, and the settings file writer."""

import os
import re
import signal
import subprocess
import sys
import time



def run_module(module, *args, env=None, timeout=60):
    return subprocess.Popen([sys.executable, "-m", module, *args], env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)


def test_grab_reads_what_serve_serves(tmp_path, share):
    serve = run_module("quorvex.serve", "--share", share, "--size", "64x32", "--format", "gray8",
                       "--fps", "50", "--frames", "400")
    try:
        # Serve starts its server before the grab's camera gives up on it.
        grab = subprocess.run([sys.executable, "-m", "quorvex.grab", "--share", share, "--frames", "5",
                               "--save", str(tmp_path / "frames")],
                              capture_output=True, text=True, timeout=60, cwd=tmp_path)
    finally:
        serve.kill()
        serve.communicate()
    assert grab.returncode == 0, grab.stderr
    assert "5 frames of 64x32x1" in grab.stdout
    saved = sorted(os.listdir(tmp_path / "frames"))
    assert saved == [f"frame-{n:06d}.png" for n in range(1, 6)]
    data = (tmp_path / "frames" / saved[0]).read_bytes()
    # A PNG of 64x32, 8-bit gray, as quorvex-grab saves it.
    assert data.startswith(b"\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x40\0\0\0\x20\x08\x00")
    assert (tmp_path / "Quorvex.ini").is_file()


def test_grab_without_a_server_says_so(share, tmp_path):
    grab = subprocess.run([sys.executable, "-m", "quorvex.grab", "--share", share, "--frames", "1",
                           "--timeout", "0.5"], capture_output=True, text=True, timeout=60, cwd=tmp_path)
    assert grab.returncode == 1
    assert "no frame within 0.5 s" in grab.stderr


def test_serve_video_without_opencv_says_what_to_install(tmp_path, share):
    # A cv2 that fails to import stands for a machine without python3-opencv.
    (tmp_path / "cv2.py").write_text("raise ImportError('no OpenCV here')\n")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(tmp_path), os.environ.get("PYTHONPATH", "")]))
    (tmp_path / "clip.mp4").write_bytes(b"")
    serve = subprocess.run([sys.executable, "-m", "quorvex.serve", "--share", share, "--video", "clip.mp4"],
                           env=env, capture_output=True, text=True, timeout=60, cwd=tmp_path)
    assert serve.returncode == 2
    assert "--video needs OpenCV for Python" in serve.stderr
    assert "apt-get install python3-opencv" in serve.stderr


def test_serve_refuses_a_bad_size(share):
    serve = subprocess.run([sys.executable, "-m", "quorvex.serve", "--share", share, "--size", "64by32"],
                           capture_output=True, text=True, timeout=60)
    assert serve.returncode == 2
    assert "expected WIDTHxHEIGHT, got '64by32'" in serve.stderr



def test_serve_checks_the_video_file_first(tmp_path, share):
    serve = subprocess.run([sys.executable, "-m", "quorvex.serve", "--share", share, "--video", "missing.mp4"],
                           capture_output=True, text=True, timeout=60, cwd=tmp_path)
    assert serve.returncode == 2
    assert serve.stderr == "quorvex.serve: no video file 'missing.mp4'\n"


def test_serve_refuses_a_negative_rate(share):
    serve = subprocess.run([sys.executable, "-m", "quorvex.serve", "--share", share, "--fps", "-5"],
                           capture_output=True, text=True, timeout=60)
    assert serve.returncode == 2
    assert "expected 0 (as fast as possible) or more frames per second, got '-5'" in serve.stderr


def test_interrupted_tools_end_with_their_summary(tmp_path, share):
    serve = run_module("quorvex.serve", "--share", share, "--size", "64x32", "--format", "gray8", "--fps", "50")
    grab = subprocess.Popen([sys.executable, "-m", "quorvex.grab", "--share", share, "--save", "frames"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=tmp_path)
    try:
        # Both run until interrupted: once the grab has saved a frame.
        deadline = time.monotonic() + 60
        while not (tmp_path / "frames" / "frame-000002.png").exists():
            assert time.monotonic() < deadline, "the grab saved no frame within 60 s"
            assert grab.poll() is None, grab.communicate()
            time.sleep(0.05)
        for process in (grab, serve):
            process.send_signal(signal.SIGINT)
        grab_out, grab_err = grab.communicate(timeout=30)
        serve_out, serve_err = serve.communicate(timeout=30)
    finally:
        for process in (grab, serve):
            process.kill()
    assert grab.returncode == 0, grab_err
    assert re.search(r"^\d+ frames of 64x32x1 in ", grab_out, re.M), grab_out
    assert "Traceback" not in grab_err + serve_err
    assert re.search(r"^\d+ frames published$", serve_out, re.M), serve_out


INI_CASES = {
    "new file": ("", "[Camera 1]\nPipeName=S\n"),
    "new section after others": ("[Camera 2]\nPipeName=X\n", "[Camera 2]\nPipeName=X\n[Camera 1]\nPipeName=S\n"),
    "key replaced, case ignored": ("[camera 1]\npipename = old\nLogLevel=2\n", "[camera 1]\npipename=S\nLogLevel=2\n"),
    "key added inside the section": ("[Camera 1]\nLogLevel=2\n\n[Camera 2]\nPipeName=X\n",
                                     "[Camera 1]\nLogLevel=2\nPipeName=S\n\n[Camera 2]\nPipeName=X\n"),
    "other sections' keys kept": ("[Camera 2]\nPipeName=X\n[Camera 1]\n", "[Camera 2]\nPipeName=X\n[Camera 1]\nPipeName=S\n"),
}


def test_settings_file_writes_one_key_and_keeps_the_rest(driver, tmp_path):
    path = tmp_path / "Quorvex.ini"
    for name, (before, after) in INI_CASES.items():
        if before:
            path.write_text(before)
        else:
            path.unlink(missing_ok=True)
        driver._write_settings("Camera 1", share="S")
        assert path.read_text() == after, name


def test_open_writes_the_share_the_driver_then_uses(driver, share, tmp_path):
    cam = driver.open("Camera 4", port=4, share=share, timeout_ms=100)
    text = (tmp_path / "Quorvex.ini").read_text()
    assert f"[Camera 4]\nPipeName={share}\nConnectionTimeout=100\n" in text
    cam.close()
    assert driver.cameras[:2] == ["Camera 1", "Camera 2"]
