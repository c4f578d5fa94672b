"""Test servers for the HTTP client, on loopback ports they choose themselves.

RecordingHandler answers by path, so a test scripts its response through the URL:
  /echo...               200; the body is the raw request as received (request
                         line, header lines, blank line, body), so the test sees
                         exactly what was sent.
  /bytes/N               200 with N bytes of the pattern (i * 7 + 3) % 256.
  /status/N[?body=B]     status N with a small HTML page (or B, sent as GBK) as body.
  /cookies?set=A&set=B   200; one "Set-Cookie: " line per value (URL-decoded).
  /redirect/N?to=PATH    status N with Location PATH, a body and a Set-Cookie.
  /drop/N                announces 2 * N bytes, sends N, then closes.
  /bigheaders/N          200 with about N bytes of header lines.
Each request is also kept in server.records (the raw request bytes).

ForwardProxyHandler is a plain HTTP forward proxy: it takes absolute-form
request lines, fetches the target and answers with its response plus the
header "X-Proxy-Request-Line" holding the request line it received.
"""

import http.client
import http.server
import os
import shutil
import socket
import ssl
import subprocess
import tempfile
import threading
import urllib.parse


def pattern_bytes(n):
    return bytes((i * 7 + 3) % 256 for i in range(n))


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def __init__(self, handler):
        super().__init__(("127.0.0.1", 0), handler)
        self.records = []
        self.lock = threading.Lock()

    @property
    def address(self):
        return "127.0.0.1:%d" % self.server_address[1]


class _TeeReader:
    """Reads from a connection's file and keeps a copy of every byte taken."""

    def __init__(self, raw):
        self.raw = raw
        self.taken = bytearray()

    def readline(self, *args):
        line = self.raw.readline(*args)
        self.taken += line
        return line

    def read(self, *args):
        data = self.raw.read(*args)
        self.taken += data
        return data

    def close(self):
        self.raw.close()


class RecordingHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def setup(self):
        super().setup()
        self.rfile = _TeeReader(self.rfile)

    def handle_one_request(self):
        self.rfile.taken.clear()
        super().handle_one_request()

    def _raw_request(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length > 0:
            self.rfile.read(length)
        raw = bytes(self.rfile.taken)
        with self.server.lock:
            self.server.records.append(raw)
        return raw

    def _answer(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def _handle(self):
        raw = self._raw_request()
        url = urllib.parse.urlsplit(self.path)
        path = url.path
        query = urllib.parse.parse_qs(url.query)
        parts = path.strip("/").split("/")
        if parts[0] == "echo":
            self._answer(200, raw, [("Content-Type", "text/plain")])
        elif parts[0] == "bytes" and len(parts) == 2:
            self._answer(200, pattern_bytes(int(parts[1])), [("Content-Type", "application/octet-stream")])
        elif parts[0] == "status" and len(parts) == 2:
            code = int(parts[1])
            page = ("<html><head><title>%d</title></head>\r\n<body>error %d</body></html>\r\n" % (code, code)).encode()
            if "body" in query:  # a body of the test's choosing, as GBK bytes
                page = query["body"][0].encode("gbk")
            self._answer(code, page, [("Content-Type", "text/html")])
        elif parts[0] == "cookies":
            self._answer(200, b"cookies set", [("Set-Cookie", v) for v in query.get("set", [])])
        elif parts[0] == "redirect" and len(parts) == 2:
            target = query.get("to", ["/echo/redirected"])[0]
            self._answer(int(parts[1]), b"moved away",
                         [("Location", target), ("Set-Cookie", "hop=1; path=/redirect")])
        elif parts[0] == "drop" and len(parts) == 2:
            n = int(parts[1])
            self.send_response(200)
            self.send_header("Content-Length", str(2 * n))
            self.end_headers()
            self.wfile.write(pattern_bytes(n))
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
        elif parts[0] == "bigheaders" and len(parts) == 2:
            # N bytes of padding in lines of at most 100 bytes each.
            n = int(parts[1])
            pads = [("X-Pad-%d" % i, "p" * min(90, n - i * 100)) for i in range((n + 99) // 100)]
            self._answer(200, b"big headers", [("Set-Cookie", "big=1; path=/bigheaders")] + pads)
        else:
            self._answer(404, b"no such test path", [("Content-Type", "text/plain")])

    do_GET = do_POST = do_HEAD = do_PUT = do_OPTIONS = do_DELETE = do_TRACE = _handle


class ForwardProxyHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def _forward(self):
        line = self.requestline
        with self.server.lock:
            self.server.records.append(line.encode("latin-1"))
        target = urllib.parse.urlsplit(self.path)
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else None
        if not target.hostname or target.hostname not in ("127.0.0.1", "localhost"):
            # Only loopback targets: this proxy never reaches the outside.
            self.send_response(403)
            self.send_header("Content-Length", "0")
            self.send_header("X-Proxy-Request-Line", line)
            self.end_headers()
            return
        conn = http.client.HTTPConnection(target.hostname, target.port or 80, timeout=30)
        headers = {k: v for k, v in self.headers.items()
                   if k.lower() not in ("proxy-connection", "connection", "keep-alive")}
        path = target.path or "/"
        if target.query:
            path += "?" + target.query
        conn.request(self.command, path, body=body, headers=headers)
        response = conn.getresponse()
        data = response.read()
        self.send_response(response.status, response.reason)
        for name, value in response.getheaders():
            if name.lower() not in ("content-length", "transfer-encoding", "connection"):
                self.send_header(name, value)
        self.send_header("X-Proxy-Request-Line", line)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)
        conn.close()

    do_GET = do_POST = do_HEAD = _forward


def make_self_signed(folder):
    """Writes cert.pem and key.pem for CN=127.0.0.1 into folder; returns their paths."""
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    openssl = shutil.which("openssl")
    if not openssl:
        raise RuntimeError("openssl is needed to make the test certificate (tools/setup.sh installs it)")
    subprocess.run([openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    return cert, key


def start(server):
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
    thread.start()
    return server


def start_recording():
    return start(_Server(RecordingHandler))


def start_https(folder):
    server = _Server(RecordingHandler)
    cert, key = make_self_signed(folder)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    return start(server)


def start_proxy():
    return start(_Server(ForwardProxyHandler))


def closed_port():
    """A loopback port that nothing listens on (bound once, then released)."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port
