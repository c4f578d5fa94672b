#!/usr/bin/env python3
"""The whole update under Wine, driven as a person would (through winprobe.exe):
the first build of the main program runs from a folder whose path holds a blank,
the content server publishes the second build, "更新" is pressed and answered Yes.

Scenarios: the update completes (fast, then slowed down for a screenshot of the
Updater's window); the server answers 404 for update.exe; it closes the
connection half-way; it is down. Prints the time from Yes to the new version's
window and the size of each executable.

  e2e_update.py --v1 EXE --v2 EXE --updater EXE --probe EXE --server HOST:PORT --work DIR --shots DIR [scenario ...]"""
import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
import publish  # noqa: E402

sys.path.insert(0, os.path.join(HERE, "..", "gui"))
import guilib  # noqa: E402

MAIN_TITLE = "Corvalen代理切换程序 Ver.20231024"
OFFER = "程序有更新，是否更新主程序？"
LATEST = "当前版本已经最新！"
OPEN_URL_ERROR = "不能打开该URL!"
READ_ERROR = "读文件出错!"
UPDATER_CLASS = "CorvalenUpdaterWindow"
RUN_ALONE = "请不要单独执行此程序！"
MISSING_TARGET = "缺少要更新的程序路径，没有更改任何文件！"

# name: (server fault, rate in bytes/s or None for no server, message the Updater shows)
SCENARIOS = {
    "complete": ("", 0, None),
    "complete-slow": ("", -1, None),  # rate set from the image size
    "404": ("404", 0, OPEN_URL_ERROR),
    "half": ("half", 0, READ_ERROR),
    "down": (None, None, OPEN_URL_ERROR),
    # The Updater started by hand: without arguments, and with a download address only.
    "alone": ("updater", (), RUN_ALONE),
    "one-argument": ("updater", ("http://127.0.0.1:{port}/corvalen/update.exe",), MISSING_TARGET),
}


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)
    print("  ok:", what, flush=True)


class Probe(guilib.Probe):
    def must(self, *args, timeout=90):
        try:
            return super().must(*args, timeout=timeout).strip()
        except AssertionError as e:
            raise Failure(str(e)) from None

    def window(self, title, ms, not_pid=0):
        out = self.must("wait-window", title, ms, not_pid)
        fields = dict(f.split("=", 1) for f in out.split(" ", 1))
        return int(fields["pid"]), fields.get("path", "")

    def answer(self, caption, button, ms=30000):
        return self.must("answer", caption, button, ms).split("=", 1)[1]


class Server:
    """The dev content server on the program's fixed content server address, or
    fault_server.py there when the server is to misbehave or go slowly."""

    def __init__(self, root, port, fault, rate):
        if fault or rate:
            args = [sys.executable, os.path.join(HERE, "fault_server.py"), "--root", root, "--port", str(port),
                    "--lifetime", "240"]
            args += ["--fault", fault] if fault else []
            args += ["--rate", str(rate), "--delay", "2"] if rate else []
        else:
            args = [sys.executable, os.path.join(HERE, "..", "..", "tools", "content_server.py"), "--root", root,
                    "--port", str(port)]
        # The fixed port may still be held by an earlier run for a moment.
        self.proc = guilib.start_on_fixed_port(args, seconds=30, stdin=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def stop(self):
        self.proc.stdin.close()
        self.proc.terminate()
        self.proc.wait(timeout=10)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def same_path(windows_path, unix_path):
    return windows_path.replace("\\", "/").lower().endswith(os.path.abspath(unix_path).lower())


def run_updater_alone(name, a, probe, port):
    _, args, message = SCENARIOS[name]
    print("scenario", name, flush=True)
    folder = os.path.join(a.work, name, "program dir")
    shutil.rmtree(os.path.dirname(folder), ignore_errors=True)
    os.makedirs(folder)
    updater = os.path.join(folder, "update.date")
    shutil.copyfile(a.updater, updater)
    root = os.path.join(a.work, name, "content")
    publish.publish(a.v2, root)
    server = Server(root, port, None, 0)
    proc = subprocess.Popen(["wine", updater, *[x.format(port=port) for x in args]], cwd=folder,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        check(probe.answer("信息：", "ok") == message, "the Updater says %s" % message)
        proc.wait(timeout=30)
        check(True, "the Updater has ended")
        check(os.listdir(folder) == ["update.date"], "no file was created or removed")
    finally:
        if proc.poll() is None:
            proc.kill()
        server.stop()


def run_scenario(name, a, probe, port):
    fault, rate, message = SCENARIOS[name]
    if fault == "updater":
        return run_updater_alone(name, a, probe, port)
    print("scenario", name, flush=True)
    v1, v2, updater = read(a.v1), read(a.v2), read(a.updater)
    base = os.path.join(a.work, name)
    shutil.rmtree(base, ignore_errors=True)
    install = os.path.join(base, "Corvalen 安装 dir")
    os.makedirs(install)
    exe = os.path.join(install, "CorvalenProxy.exe")
    shutil.copyfile(a.v1, exe)
    root = os.path.join(base, "content")
    publish.publish(a.v2, root)
    if rate == -1:
        rate = max(len(v2) // 4, 20000)  # about four seconds for the download
    server = Server(root, port, fault, rate) if rate is not None else None
    if server is None:
        with socket.socket() as s:
            s.settimeout(2)
            check(s.connect_ex(("127.0.0.1", port)) != 0, "nothing listens on port %d" % port)
    first = subprocess.Popen(["wine", exe], cwd=install, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    result = {}
    try:
        pid1, path1 = probe.window(MAIN_TITLE, 60000)
        check(same_path(path1, exe), "the first version runs from %s" % path1)
        probe.must("click", MAIN_TITLE, "更新")
        offer = probe.answer("提示", "yes")
        check(offer == OFFER, "the update is offered (%s)" % offer)
        yes = time.time()
        if name == "complete-slow":
            out = probe.must("wait-class", UPDATER_CLASS, 20000).split()
            x, y, w, h = map(int, out[1:5])
            info = dict(f.split("=") for f in out[5:])
            check((w, h) == (380, 99), "the Updater's window is 380 x 99 (%d x %d at %d, %d)" % (w, h, x, y))
            screen = subprocess.run(["xdotool", "getdisplaygeometry"], capture_output=True, text=True, timeout=10)
            sw, sh = map(int, screen.stdout.split())
            check((x, y) == ((sw - 380) // 2, (sh - 99) // 2), "centred on the %d x %d screen" % (sw, sh))
            check(info["caption"] == "0" and int(info["style"], 16) & 0x00C00000 != 0x00C00000,
                  "it has no caption and no title bar (style %s)" % info["style"])
            check(info["progress"] == "20", "its bar stands at 20 before the first block (%s)" % info["progress"])
            time.sleep(3.5)  # two seconds before the first byte, then the download runs
            os.makedirs(a.shots, exist_ok=True)
            shot = os.path.join(a.shots, "updater_slow_download.png")
            subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", shot],
                           check=True, timeout=30)
            subprocess.run(["import", "-window", "root", os.path.join(a.shots, "updater_slow_download_screen.png")],
                           check=True, timeout=30)
            print("  screenshot:", shot, flush=True)
        if message:
            check(probe.answer("信息：", "ok", 60000) == message, "the Updater says %s" % message)
        pid2, path2 = probe.window(MAIN_TITLE, 60000, pid1)
        result["seconds"] = time.time() - yes
        check(first.wait(timeout=30) is not None, "the first process has ended")
        check(same_path(path2, exe), "a program runs again from the install folder")
        check(read(os.path.join(install, "update.date")) == updater, "update.date holds the Updater byte for byte")
        if message:
            check(read(exe) == v1, "the old executable is unchanged")
        else:
            check(read(exe) == v2, "the executable is now the second version")
            check(not os.path.exists(os.path.join(install, "newexe.dat")), "newexe.dat is gone")
            # The running program finds itself up to date: its file is the published one.
            probe.must("click", MAIN_TITLE, "更新")
            check(probe.answer("信息：", "ok") == LATEST, "the new version reports itself as the latest")
            print("  time from Yes to the new version's window: %.2f s" % result["seconds"], flush=True)
        probe.must("close", MAIN_TITLE)
        check(probe.run("wait-gone", MAIN_TITLE, 30000)[0] == 0, "the program closes")
    finally:
        if first.poll() is None:
            first.kill()
        if server:
            server.stop()
    return result


def main():
    p = argparse.ArgumentParser()
    for opt in ("--v1", "--v2", "--updater", "--probe", "--server", "--work", "--shots"):
        p.add_argument(opt, required=True)
    p.add_argument("scenarios", nargs="*", default=list(SCENARIOS))
    a = p.parse_args()
    port = int(a.server.rsplit(":", 1)[1]) if ":" in a.server else 80
    if a.server.rsplit(":", 1)[0] not in ("127.0.0.1", "localhost"):
        print("e2e_update: the build's content server %s is not on loopback" % a.server)
        return 1
    probe = Probe(a.probe)
    failed = []
    for name in a.scenarios:
        try:
            run_scenario(name, a, probe, port)
        except (Failure, subprocess.TimeoutExpired) as e:
            print("  FAILED:", e, flush=True)
            failed.append(name)
            os.makedirs(a.shots, exist_ok=True)
            subprocess.run(["import", "-window", "root", os.path.join(a.shots, "e2e_failed_%s.png" % name)], timeout=30,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            probe.run("close", MAIN_TITLE)
    for label, path in (("main program", a.v1), ("main program (second build)", a.v2), ("Updater", a.updater)):
        print("size of %s: %d bytes" % (label, os.path.getsize(path)))
    if failed:
        print("failed scenarios:", ", ".join(failed))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
