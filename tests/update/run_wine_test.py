#!/usr/bin/env python3
"""Runs one of the update's Windows test programs under Wine against
fault_server.py, with a content folder laid out for it:

  root/equal/corvalen/    published by tools/publish.py from --program
  root/crlf/corvalen/md5.txt, root/lower/corvalen/md5.txt   the digest with CR LF, in lower case
  root/payload/new.exe    a made-up program ("MZ" and 60 KB), root/payload/page.html

The folder is served by the dev content server (tools/content_server.py), or with
--faults by fault_server.py, which also misbehaves on request. The test program
learns the addresses and paths from CORVALEN_TEST_* variables.

  run_wine_test.py [--faults] --work DIR --program EXE --updater-image EXE --probe EXE -- TEST.exe [args]"""
import argparse
import os
import random
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import publish  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "tests", "servers"))
from http_servers import closed_port  # noqa: E402


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--work", required=True)
    p.add_argument("--program", required=True)
    p.add_argument("--updater-image", required=True)
    p.add_argument("--probe", required=True)
    p.add_argument("--faults", action="store_true", help="serve with fault_server.py")
    p.add_argument("command", nargs=argparse.REMAINDER)
    a = p.parse_args()
    command = a.command[1:] if a.command[:1] == ["--"] else a.command

    shutil.rmtree(a.work, ignore_errors=True)
    root = os.path.join(a.work, "root")
    program_dir = os.path.join(a.work, "program dir")
    os.makedirs(program_dir)
    program = os.path.join(program_dir, "Corvalen Proxy.exe")
    shutil.copyfile(a.program, program)
    digest = publish.publish(program, os.path.join(root, "equal"))
    for name, text in (("crlf", digest + "\r\n"), ("lower", digest.lower())):
        os.makedirs(os.path.join(root, name, "corvalen"))
        with open(os.path.join(root, name, "corvalen", "md5.txt"), "wb") as f:
            f.write(text.encode("ascii"))
    os.makedirs(os.path.join(root, "payload"))
    rng = random.Random(5)
    with open(os.path.join(root, "payload", "new.exe"), "wb") as f:
        f.write(b"MZ" + bytes(rng.randrange(256) for _ in range(60000)))
    with open(os.path.join(root, "payload", "page.html"), "wb") as f:
        f.write(b"<html><body>" + b"x" * 30000 + b"</body></html>")

    if a.faults:
        args = [os.path.join(HERE, "fault_server.py"), "--root", root, "--lifetime", "300"]
    else:
        args = [os.path.join(ROOT, "tools", "content_server.py"), "--root", root, "--port", "0"]
    server = subprocess.Popen([sys.executable] + args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        # "port=N" or "serving ROOT on HOST:PORT"
        port = int(server.stdout.readline().strip().replace("=", ":").rsplit(":", 1)[1])
        env = dict(os.environ)
        env.update({
            "CORVALEN_TEST_SERVER": "127.0.0.1:%d" % port,
            "CORVALEN_TEST_DOWN": "127.0.0.1:%d" % closed_port(),
            "CORVALEN_TEST_ROOT": windows_path(root),
            "CORVALEN_TEST_PROGRAM": windows_path(program),
            "CORVALEN_TEST_UPDATER_IMAGE": windows_path(a.updater_image),
            "CORVALEN_TEST_PROBE": windows_path(a.probe),
        })
        runner = os.path.join(ROOT, "tools", "wine-run.sh")
        return subprocess.call(["bash", runner] + command, env=env, timeout=240)
    finally:
        server.stdin.close()
        server.terminate()
        server.wait(timeout=10)


if __name__ == "__main__":
    sys.exit(main())
