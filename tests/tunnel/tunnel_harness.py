"""Loopback pieces for exercising the local proxy: a target web server, PHP
fetch servers (php -S), and python27.exe under Wine in a temporary folder.
Used by the end-to-end test and by tools/bench_tunnel.py. Standard library only.
"""
import hashlib
import http.server
import json
import os
import shutil
import signal
import socket
import socketserver
import subprocess
import tempfile
import threading
import time
import urllib.parse


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, timeout=60.0, proc=None):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if proc is not None and proc.poll() is not None:
            raise RuntimeError("process ended before listening on %d (code %s)" % (port, proc.returncode))
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("nothing listens on port %d" % port)


def pattern(n, seed=1):
    """n deterministic pseudo-random bytes."""
    out = bytearray()
    block = 0
    while len(out) < n:
        out += hashlib.sha256(b"%d:%d" % (seed, block)).digest() * 64  # 2 KB per block index
        block += 1
    return bytes(out[:n])


_BIG = {}


def big_body(n):
    if n not in _BIG:
        if n <= 16 << 20:
            _BIG[n] = pattern(n)
        else:
            unit = pattern(1 << 20, seed=2)
            _BIG[n] = (unit * (n // len(unit) + 1))[:n]
    return _BIG[n]


class TargetHandler(http.server.BaseHTTPRequestHandler):
    """The web site behind the tunnel."""
    protocol_version = "HTTP/1.1"
    server_version = "Target/1"
    disable_nagle_algorithm = True  # head and body go out as separate writes

    def log_message(self, *args):
        pass

    def _read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            data = bytearray()
            while True:
                size = int(self.rfile.readline().split(b";")[0], 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return bytes(data)
                data += self.rfile.read(size)
                self.rfile.readline()
        n = int(self.headers.get("Content-Length") or 0)
        data = bytearray()
        while len(data) < n:
            piece = self.rfile.read(min(1 << 20, n - len(data)))
            if not piece:
                break
            data += piece
        return bytes(data)

    def _send(self, status, body, headers=(), head_only=False):
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if not head_only:
            view = memoryview(body)
            for i in range(0, len(body), 1 << 20):
                self.wfile.write(view[i:i + (1 << 20)])

    def do_HEAD(self):
        self.do_GET(head_only=True)

    def do_GET(self, head_only=False):
        url = urllib.parse.urlsplit(self.path)
        q = urllib.parse.parse_qs(url.query)
        path = url.path
        if path == "/small":
            self._send(200, b"hello", [("Content-Type", "text/plain")], head_only)
        elif path == "/bytes":
            self._send(200, big_body(int(q["n"][0])), [("Content-Type", "application/octet-stream")], head_only)
        elif path == "/chunked":
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for part in (b"first ", b"second ", b"third" * 1000):
                self.wfile.write(b"%x\r\n%s\r\n" % (len(part), part))
                self.wfile.flush()
            self.wfile.write(b"0\r\n\r\n")
        elif path == "/missing":
            self._send(404, b"no such page", [("Content-Type", "text/plain"), ("X-Why", "gone")], head_only)
        elif path == "/redirect":
            self._send(302, b"", [("Location", "/elsewhere?a=1")], head_only)
        elif path == "/cookie":
            self._send(200, b"cookies", [("Set-Cookie", "a=1; Path=/"), ("Set-Cookie", "b=2; HttpOnly")], head_only)
        elif path == "/headers":
            body = json.dumps({"method": self.command, "path": self.path,
                               "headers": [[k, v] for k, v in self.headers.items()]}).encode()
            self._send(200, body, [("Content-Type", "application/json")], head_only)
        else:
            self._send(404, b"unknown", [], head_only)

    def _echo(self):
        body = self._read_body()
        self._send(200, body if len(body) <= (1 << 16) else b"",
                   [("X-Method", self.command), ("X-Body-Length", str(len(body))),
                    ("X-Body-SHA256", hashlib.sha256(body).hexdigest()),
                    ("X-Content-Type", self.headers.get("Content-Type", ""))])

    do_POST = _echo
    do_PUT = _echo
    do_PATCH = _echo
    do_DELETE = _echo


class _Threading(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    request_queue_size = 256

    def handle_error(self, request, client_address):
        pass  # a client that leaves mid-answer is expected in these tests


class TargetServer:
    def __init__(self):
        self.httpd = _Threading(("127.0.0.1", 0), TargetHandler)
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class PhpServer:
    """php -S on a free loopback port serving `docroot` with several workers."""

    def __init__(self, docroot, password=None, allow_private=True, workers=8):
        self.port = free_port()
        env = dict(os.environ)
        env["PHP_CLI_SERVER_WORKERS"] = str(workers)
        env.pop("CORVALEN_FETCH_PASSWORD", None)
        env.pop("CORVALEN_FETCH_ALLOW_PRIVATE", None)
        if password is not None:
            env["CORVALEN_FETCH_PASSWORD"] = password
        if allow_private:
            env["CORVALEN_FETCH_ALLOW_PRIVATE"] = "1"
        # The script's own temporary files (the record of used nonces).
        self.tmp = tempfile.mkdtemp(prefix="corvalen-php-")
        env["TMPDIR"] = self.tmp
        self.proc = subprocess.Popen(
            ["php", "-d", "output_buffering=0", "-d", "memory_limit=64M", "-d", "opcache.enable_cli=1",
             "-S", "127.0.0.1:%d" % self.port, "-t", docroot],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        wait_for_port(self.port, 20, self.proc)

    def url(self, script="index.php"):
        return "http://127.0.0.1:%d/%s" % (self.port, script)

    def stop(self):
        if self.proc.poll() is None:
            # php -S with workers is a process group of its own.
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait(10)
        shutil.rmtree(self.tmp, ignore_errors=True)


class Proxy:
    """python27.exe with its proxy.ini in a temporary folder, under Wine."""

    def __init__(self, exe, wine, fetchserver, password="", timeout=None, extra_ini=""):
        self.dir = tempfile.mkdtemp(prefix="corvalen-proxy-")
        self.port = free_port()
        shutil.copy(exe, os.path.join(self.dir, "python27.exe"))
        lines = ["[php]", "enable = 1", "listen = 127.0.0.1:%d" % self.port, "fetchserver = %s" % fetchserver]
        if password:
            lines.append("password = %s" % password)
        if timeout is not None:
            lines.append("timeout = %d" % timeout)
        with open(os.path.join(self.dir, "proxy.ini"), "w", newline="\r\n") as f:
            f.write("\n".join(lines) + "\n" + extra_ini)
        self.proc = subprocess.Popen([wine, os.path.join(self.dir, "python27.exe")],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wait(self):
        wait_for_port(self.port, 60, self.proc)
        return self

    def pid(self):
        return self.proc.pid

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(10)
        shutil.rmtree(self.dir, ignore_errors=True)


def raw_exchange(port, data, timeout=10.0):
    """Sends raw bytes to the proxy and reads until it closes (or timeout)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        out = bytearray()
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                piece = s.recv(65536)
            except socket.timeout:
                break
            if not piece:
                return bytes(out), True
            out += piece
        return bytes(out), False
