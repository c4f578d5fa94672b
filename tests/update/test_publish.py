#!/usr/bin/env python3
"""tools/publish.py lays out a content folder the program and the Updater accept."""
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PUBLISH = os.path.join(ROOT, "tools", "publish.py")
DEFAULT_LIST = os.path.join(ROOT, "tools", "content", "corvalen", "list.txt")


def run(*args):
    return subprocess.run([sys.executable, PUBLISH, *args], capture_output=True, timeout=30)


def read(path):
    with open(path, "rb") as f:
        return f.read()


class PublishTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.exe = os.path.join(self.dir, "CorvalenProxy.exe")
        # Bytes whose digest has small bytes and letters: "MZ" and a zero run.
        self.image = b"MZ" + bytes(range(256)) * 40 + b"\0" * 1000
        with open(self.exe, "wb") as f:
            f.write(self.image)

    def tearDown(self):
        self.tmp.cleanup()

    def test_layout_digest_and_lists(self):
        own_list = os.path.join(self.dir, "mine.txt")
        with open(own_list, "wb") as f:
            f.write("上海|http://a.example/|x|1G|fast\r\n".encode("gbk"))
        cases = [("given list", ["--list", own_list], read(own_list))]
        if os.path.isfile(DEFAULT_LIST):
            cases.append(("default list", [], read(DEFAULT_LIST)))
        for name, extra, expected_list in cases:
            with self.subTest(name):
                out = os.path.join(self.dir, "content " + name)
                r = run("--exe", self.exe, "--out", out, *extra)
                self.assertEqual(r.returncode, 0, r.stderr)
                folder = os.path.join(out, "corvalen")
                self.assertEqual(sorted(os.listdir(folder)), ["list.txt", "md5.txt", "update.exe"])
                self.assertEqual(read(os.path.join(folder, "update.exe")), self.image)
                digest = read(os.path.join(folder, "md5.txt"))
                self.assertRegex(digest, re.compile(rb"\A[0-9A-F]{32}\Z"))
                self.assertEqual(digest.decode(), hashlib.md5(self.image).hexdigest().upper())
                self.assertEqual(read(os.path.join(folder, "list.txt")), expected_list)

    def test_refuses_what_is_no_program(self):
        page = os.path.join(self.dir, "page.html")
        with open(page, "wb") as f:
            f.write(b"<html></html>")
        out = os.path.join(self.dir, "content")
        for args in (["--exe", page, "--out", out], ["--exe", self.exe, "--out", out, "--list", page + ".missing"]):
            with self.subTest(args=args):
                self.assertNotEqual(run(*args).returncode, 0)
        self.assertFalse(os.path.exists(os.path.join(out, "corvalen", "update.exe")))


if __name__ == "__main__":
    unittest.main()
