"""The real main program under Xvfb and Wine, end to end on loopback: it shows
the channels from a local content server, a click selects a row, a click on
"使用" unpacks and starts the tunnel service and shows the success text, a
request through 127.0.0.1:8088 reaches a local web site via the PHP fetch
server, and closing the window ends both service processes and removes the
service folder. Screenshots go to CORVALEN_SHOTS."""
import http.server
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "gui"))
import guilib  # noqa: E402

MAIN_EXE = os.environ["CORVALEN_MAIN_EXE"]
PROBE = guilib.Probe(os.environ["CORVALEN_WINPROBE"])
CONTENT_SERVER = os.environ["CORVALEN_CONTENT_SERVER"]  # host:port the program was built for
FETCH_SERVER_DIR = os.environ["CORVALEN_FETCH_SERVER_DIR"]
CONTENT_SERVER_SCRIPT = os.environ["CORVALEN_CONTENT_SERVER_SCRIPT"]  # the dev content server
SHOTS = os.environ.get("CORVALEN_SHOTS", "screenshots")
TITLE = guilib.MAIN_TITLE
IDC_USE, IDC_STATUS = 1003, 1005
READY_TEXT = "隧道加载成功！代理地址：127.0.0.1:8088"
TARGET_BODY = "通过隧道取回的网页 / page fetched through the tunnel\n".encode("utf-8") * 50


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, seconds=20, proc=None):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if proc is not None and proc.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            time.sleep(0.1)
    return False


class TargetHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(TARGET_BODY)))
        self.end_headers()
        self.wfile.write(TARGET_BODY)


def serve(handler, host, port):
    server = http.server.ThreadingHTTPServer((host, port), handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def point(*args):
    return PROBE.must(*args).split()


def click_at(x, y):
    subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y)], check=True, timeout=10)
    time.sleep(0.2)
    subprocess.run(["xdotool", "click", "1"], check=True, timeout=10)


def service_images():
    """Whether a corvalen.exe and a python27.exe run in our Wine prefix."""
    images = [name.lower() for name in point("images")]
    return "corvalen.exe" in images, "python27.exe" in images


class GuiDeployTest(unittest.TestCase):
    def setUp(self):
        self.cleanups = []
        self.assertEqual(service_images(), (False, False), "a tunnel service is already running")

    def tearDown(self):
        for fn in reversed(self.cleanups):
            try:
                fn()
            except Exception:  # noqa: BLE001 - best effort: everything must go
                pass

    def start_fetch_server(self, port):
        env = dict(os.environ, CORVALEN_FETCH_ALLOW_PRIVATE="1", PHP_CLI_SERVER_WORKERS="4")
        # php -S forks its workers: a process group of its own, ended as a whole.
        php = subprocess.Popen(["php", "-S", f"127.0.0.1:{port}", "-t", FETCH_SERVER_DIR], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)

        def stop():
            os.killpg(php.pid, signal.SIGTERM)
            php.wait(10)
        self.cleanups.append(stop)
        self.assertTrue(wait_port(port, proc=php), "the PHP fetch server did not start")

    def test_channels_click_use_browse_and_close(self):
        # The web site behind the tunnel, the fetch server, and the content server
        # whose list points the first channel at that fetch server.
        target = serve(TargetHandler, "127.0.0.1", 0)
        self.cleanups.append(target.shutdown)
        target_url = f"http://127.0.0.1:{target.server_address[1]}/page.txt"
        fetch_port = free_port()
        self.start_fetch_server(fetch_port)
        fetch_url = f"http://127.0.0.1:{fetch_port}/index.php"

        content = tempfile.mkdtemp(prefix="corvalen-content-")
        self.cleanups.append(lambda: shutil.rmtree(content, ignore_errors=True))
        os.makedirs(os.path.join(content, "corvalen"))
        records = [f"本机|{fetch_url}|开发者|不限|快<BR>\r\n", "日本|http://192.0.2.20/index.php|乙|每天1G|中<BR>\r\n"]
        with open(os.path.join(content, "corvalen", "list.txt"), "wb") as f:
            f.write("".join(records).encode("gbk"))
        host, _, port = CONTENT_SERVER.partition(":")
        port = int(port or 80)
        content_server = guilib.start_on_fixed_port(
            [sys.executable, CONTENT_SERVER_SCRIPT, "--root", content, "--host", host, "--port", str(port)],
            stderr=subprocess.DEVNULL)
        self.cleanups.append(lambda: (content_server.terminate(), content_server.wait(10)))

        proc, folder = guilib.start_program(MAIN_EXE)
        self.cleanups.append(lambda: shutil.rmtree(folder, ignore_errors=True))
        self.cleanups.append(lambda: proc.poll() is None and proc.kill())
        service_dir = os.path.join(folder, "service")
        self.assertTrue(PROBE.wait(TITLE, 60), "main window did not appear")

        # The channels.
        self.assertTrue(guilib.wait_until(lambda: len(PROBE.cells()) == 2, 20), PROBE.cells())
        rows = PROBE.cells()
        self.assertEqual(rows[0][:5], ["本机", fetch_url, "开发者", "不限", "快"])
        self.assertEqual(rows[1][1], "http://192.0.2.20/index.php")
        self.assertEqual(point("selected", TITLE), ["-1"])
        guilib.screenshot(os.path.join(SHOTS, "service_1_channels.png"))

        # A click on the first row selects it.
        click_at(*point("row", TITLE, 0))
        self.assertTrue(guilib.wait_until(lambda: point("selected", TITLE) == ["0"], 10), "the click selected no row")
        guilib.screenshot(os.path.join(SHOTS, "service_2_selected.png"))

        # A click on "使用": the service runs from the service folder, the status says so.
        click_at(*point("control", TITLE, IDC_USE))
        self.assertTrue(guilib.wait_until(lambda: PROBE.must("text", TITLE, IDC_STATUS).strip("\n") == READY_TEXT, 30),
                        PROBE.must("text", TITLE, IDC_STATUS))
        self.assertTrue(guilib.wait_until(lambda: service_images() == (True, True), 20), "service processes missing")
        self.assertTrue(os.path.isfile(os.path.join(service_dir, "corvalen.exe")))
        self.assertFalse(os.path.exists(os.path.join(folder, "service.zip")))
        with open(os.path.join(service_dir, "proxy.ini"), "rb") as f:
            self.assertIn(f"fetchserver={fetch_url}".encode(), f.read())
        guilib.screenshot(os.path.join(SHOTS, "service_3_deployed.png"))

        # A request through the local proxy reaches the web site.
        self.assertTrue(wait_port(8088, 30), "nothing listens on 127.0.0.1:8088")
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({"http": "http://127.0.0.1:8088"}))
        with opener.open(target_url, timeout=30) as answer:
            self.assertEqual(answer.status, 200)
            self.assertEqual(answer.read(), TARGET_BODY)

        # Closing the window ends both processes and removes the service folder.
        self.assertTrue(guilib.xdotool_key_to_window(TITLE, "Escape"))
        if not guilib.wait_exit(proc, 15):
            PROBE.must("key", TITLE, "esc")
        self.assertTrue(guilib.wait_exit(proc, 30), "the window did not close")
        self.assertTrue(guilib.wait_until(lambda: service_images() == (False, False), 20),
                        "service processes outlived the window")
        self.assertFalse(os.path.exists(service_dir), os.listdir(folder))
        guilib.screenshot(os.path.join(SHOTS, "service_4_closed.png"))


if __name__ == "__main__":
    unittest.main()
