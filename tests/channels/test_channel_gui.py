"""The real main program under Xvfb and Wine, against the dev content server on
the address the build was configured with: the channel table shows the sample
list when the window opens, and "刷新" refills it (with the list as it is now)
instead of adding to it."""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "gui"))
import guilib  # noqa: E402

MAIN_EXE = os.environ["CORVALEN_MAIN_EXE"]
PROBE = guilib.Probe(os.environ["CORVALEN_WINPROBE"])
SHOTS = os.environ.get("CORVALEN_SHOTS", "screenshots")
CONTENT_SERVER = os.environ["CORVALEN_CONTENT_SERVER_PY"]
SAMPLE = os.environ["CORVALEN_SAMPLE_CONTENT"]
ADDRESS = os.environ.get("CORVALEN_CONTENT_ADDRESS", "127.0.0.1:18080")


def expected_rows(list_bytes):
    """The rows a list gives: one per line, at most one per record, fields by position."""
    text = list_bytes.split(b"\0", 1)[0].decode("gbk")
    lines = text.count("\n") + (1 if text and not text.endswith("\n") else 0)
    records = [r for r in text.split("<BR>") if r][:lines]
    rows = []
    for record in records:
        fields = [f for f in record.split("|") if f][:5]
        rows.append(fields + [""] * (5 - len(fields)))
    return rows


def escaped(rows):
    """As winprobe prints cells: CR, LF and TAB escaped."""
    return [[c.replace("\r", "\\r").replace("\n", "\\n").replace("\t", "\\t") for c in row] for row in rows]


class ContentServer:
    """tools/content_server.py on host:port; counts the requests for list.txt it logs."""

    def __init__(self, root, host, port, seconds=60):
        # Another run may hold the port for a while: wait for it, bounded.
        self.proc = guilib.start_on_fixed_port(
            [sys.executable, CONTENT_SERVER, "--root", root, "--host", host, "--port", str(port), "--verbose"],
            seconds=seconds, stderr=subprocess.PIPE)
        self.list_requests = 0
        self.reader = threading.Thread(target=self._read_log, daemon=True)
        self.reader.start()

    def _read_log(self):
        for line in self.proc.stderr:
            if "GET /corvalen/list.txt" in line:
                self.list_requests += 1

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(timeout=10)


class ChannelListGuiTest(unittest.TestCase):
    def setUp(self):
        host, _, port = ADDRESS.partition(":")
        if host not in ("127.0.0.1", "localhost"):
            self.skipTest("the build's content server %s is not a local one" % ADDRESS)
        self.root = tempfile.mkdtemp(prefix="corvalen-content-")
        shutil.copytree(SAMPLE, self.root, dirs_exist_ok=True)
        self.server = ContentServer(self.root, host, int(port or 80))
        self.proc = None

    def tearDown(self):
        if self.proc and self.proc.poll() is None:
            PROBE.run("key", guilib.MAIN_TITLE, "esc")
            if not guilib.wait_exit(self.proc, 20):
                self.proc.kill()
        self.server.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def refresh(self):
        """Presses 刷新 and waits until the list has been fetched once more."""
        before = self.server.list_requests
        PROBE.must("click", guilib.MAIN_TITLE, "刷新")
        self.assertTrue(guilib.wait_until(lambda: self.server.list_requests > before, 30), "no request for list.txt")

    def rows_become(self, want, seconds=30):
        got = []

        def same():
            nonlocal got
            code, out = PROBE.run("cells", guilib.MAIN_TITLE)
            got = [line.split("\t") for line in out.splitlines()] if code == 0 else None
            return got == want

        guilib.wait_until(same, seconds)
        return got

    def test_sample_list_shown_and_refresh_refills(self):
        list_path = os.path.join(self.root, "corvalen", "list.txt")
        with open(list_path, "rb") as f:
            sample = expected_rows(f.read())
        self.assertGreaterEqual(len(sample), 2, "the sample list should hold several channels")

        self.proc, _ = guilib.start_program(MAIN_EXE)
        self.assertTrue(PROBE.wait(guilib.MAIN_TITLE, 60), "main window did not appear")
        self.assertEqual(self.rows_become(escaped(sample)), escaped(sample))
        guilib.screenshot(os.path.join(SHOTS, "channel_list.png"))

        # The same list again: the same table, not a doubled one.
        self.refresh()
        self.assertEqual(self.rows_become(escaped(sample)), escaped(sample))

        # The list changes on the server: the table shows the new list only.
        changed = "新加坡|http://192.0.2.30/index.php|丙|每天2G|慢<BR>\r\n".encode("gbk")
        with open(list_path, "ab") as f:
            f.write(changed)
        with open(list_path, "rb") as f:
            now = expected_rows(f.read())
        self.assertEqual(len(now), len(sample) + 1)
        self.refresh()
        self.assertEqual(self.rows_become(escaped(now)), escaped(now))
        guilib.screenshot(os.path.join(SHOTS, "channel_list_refreshed.png"))

        # The server goes away: a refresh leaves the table empty, without a message box.
        self.server.stop()
        PROBE.must("click", guilib.MAIN_TITLE, "刷新")
        self.assertEqual(self.rows_become([]), [])
        self.assertNotEqual(PROBE.run("box", "信息：")[0], 0, "no message box is shown")


if __name__ == "__main__":
    unittest.main()
