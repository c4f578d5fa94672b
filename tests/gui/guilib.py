"""Helpers for GUI tests: run Windows programs under the Wine harness, drive
them with winprobe.exe and xdotool, and keep screenshots.

The test script (tools/test.sh) has already run wine_up, so WINEPREFIX,
DISPLAY and the locale are in the environment and a wineserver is running."""
import os
import shutil
import subprocess
import tempfile
import time

MAIN_TITLE = "Corvalen代理切换程序 Ver.20231024"


class Probe:
    def __init__(self, probe_exe):
        self.exe = probe_exe

    def run(self, *args, timeout=90):
        # Output through a file, not a pipe: a Wine helper process started
        # meanwhile may inherit a pipe and hold it open long after the probe ended.
        with tempfile.TemporaryFile() as out:
            r = subprocess.run(["wine", self.exe, *map(str, args)], stdout=out, stderr=subprocess.DEVNULL,
                               timeout=timeout)
            out.seek(0)
            return r.returncode, out.read().decode("utf-8", "replace")

    def must(self, *args, timeout=90):
        code, out = self.run(*args, timeout=timeout)
        if code != 0:
            raise AssertionError(f"winprobe {' '.join(map(str, args))} failed with {code}")
        return out

    def rect(self, title=MAIN_TITLE):
        return [int(v) for v in self.must("rect", title).split()]

    def cells(self, title=MAIN_TITLE):
        out = self.must("cells", title)
        return [line.split("\t") for line in out.splitlines()]

    def wait(self, title, seconds=30):
        return self.run("wait", title, seconds, timeout=seconds + 30)[0] == 0


def wine_windows_path(path):
    r = subprocess.run(["winepath", "-w", path], capture_output=True, check=True)
    return r.stdout.decode("utf-8").strip()


def screenshot(path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["import", "-window", "root", path], check=True, timeout=30)
    return path


def start_program(exe, folder=None, args=()):
    """Copies exe into a fresh folder (its ProgramDir) and starts it there."""
    folder = folder or tempfile.mkdtemp(prefix="corvalen-gui-")
    os.makedirs(folder, exist_ok=True)
    target = os.path.join(folder, os.path.basename(exe))
    shutil.copy(exe, target)
    proc = subprocess.Popen(["wine", target, *args], cwd=folder,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return proc, folder


def wait_exit(proc, seconds=30):
    try:
        proc.wait(timeout=seconds)
        return True
    except subprocess.TimeoutExpired:
        return False


def wait_until(predicate, seconds=20, step=0.2):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def xdotool_key_to_window(title, key):
    """Types a key into the X window that Wine made for a top-level window, as a person would."""
    r = subprocess.run(["xdotool", "search", "--name", title], capture_output=True, timeout=10)
    ids = r.stdout.decode().split()
    if not ids:
        return False
    wid = ids[0]
    subprocess.run(["xdotool", "windowfocus", "--sync", wid], timeout=10)
    subprocess.run(["xdotool", "key", "--window", wid, key], timeout=10)
    return True


def start_on_fixed_port(args, ready=("serving", "port="), seconds=60, **popen_kwargs):
    """Starts a server whose port is fixed by the build (the content server's),
    retrying while an earlier test or run still holds that port. The server
    prints a line beginning with one of `ready` once it listens and ends
    silently when the port is taken. Returns the running process."""
    deadline = time.time() + seconds
    while True:
        proc = subprocess.Popen(args, stdout=subprocess.PIPE, text=True, **popen_kwargs)
        if proc.stdout.readline().startswith(tuple(ready)):
            return proc
        proc.wait(timeout=10)
        if time.time() > deadline:
            raise AssertionError("%s could not start: its port stays busy" % os.path.basename(args[1]))
        time.sleep(0.5)
