#!/usr/bin/env python3
"""The whole HTTPS road on loopback, for tests and the benchmark:

  client --(CONNECT, TLS with the local CA)--> python27.exe under Wine
         --(fetch envelope over HTTP)--> fetchserver/index.php on `php -S`
         --(HTTPS, verified against a test CA)--> a Python HTTPS target

The test CA and the target's certificate are made with openssl; the fetch
server trusts the test CA through CORVALEN_FETCH_CAFILE. Everything listens on
127.0.0.1 on ports picked free, and stops with the Stack.
"""
import hashlib
import http.server
import os
import shutil
import socket
import ssl
import subprocess
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
WINE_RUN = os.path.join(ROOT, "tools", "wine-run.sh")
TIMEOUT = 30


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_port(port, proc=None, seconds=60):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if proc is not None and proc.poll() is not None:
            raise RuntimeError("process ended early with %s" % proc.returncode)
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError("nothing listens on port %d" % port)


def pattern(n):
    """Deterministic bytes for /bytes/N (fast: a repeated 64 KB block)."""
    block = hashlib.sha256(b"corvalen").digest() * 2048
    return (block * (n // len(block) + 1))[:n]


def openssl(*args):
    subprocess.run(["openssl"] + list(args), check=True, capture_output=True, timeout=60)


def make_pki(folder, name):
    """A CA and a server certificate for localhost and 127.0.0.1 signed by it."""
    ca_key, ca_crt = os.path.join(folder, name + "-ca.key"), os.path.join(folder, name + "-ca.crt")
    key, csr, crt = (os.path.join(folder, name + ext) for ext in (".key", ".csr", ".crt"))
    ext = os.path.join(folder, name + ".ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                "keyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n")
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", ca_key,
            "-out", ca_crt, "-days", "3", "-subj", "/CN=Corvalen test target CA " + name,
            "-addext", "basicConstraints=critical,CA:true", "-addext", "keyUsage=critical,keyCertSign")
    openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", key, "-out", csr,
            "-subj", "/CN=localhost")
    openssl("x509", "-req", "-in", csr, "-CA", ca_crt, "-CAkey", ca_key, "-CAcreateserial", "-out", crt,
            "-days", "3", "-extfile", ext)
    return ca_crt, crt, key


class TargetHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    scheme = "http"

    def log_message(self, *args):
        pass

    def setup(self):
        super().setup()
        # Head and body go out in separate writes: without this, Nagle's
        # algorithm and the peer's delayed ACK hold the body back 40 ms.
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def reply(self, body, ctype="application/octet-stream"):
        self.send_response(200)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def do_GET(self):
        if self.path.startswith("/bytes/"):
            self.reply(pattern(int(self.path[7:])))
        elif self.path.endswith(".html"):
            text = "%s target page %s" % (self.scheme.upper(), self.path)
            self.reply(("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>t</title></head>"
                        "<body><p id=\"t\">%s</p></body></html>" % text).encode(), "text/html; charset=utf-8")
        else:
            self.reply(("%s %s %s host=%s" % (self.scheme, self.command, self.path,
                                              self.headers.get("Host"))).encode(), "text/plain")

    do_HEAD = do_GET

    def do_POST(self):
        n = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(n) if n else b""
        self.reply(("%s POST %s length=%d sha256=%s" % (self.scheme, self.path, len(body),
                                                         hashlib.sha256(body).hexdigest())).encode(), "text/plain")


class Target:
    def __init__(self, cert=None, key=None):
        handler = type("H", (TargetHandler,), {"scheme": "https" if cert else "http"})
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.server.daemon_threads = True
        if cert:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.load_cert_chain(cert, key)
            self.server.socket = ctx.wrap_socket(self.server.socket, server_side=True)
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


class Stack:
    def __init__(self, proxy_exe, tmp, workers=8):
        self.tmp = tmp
        self.procs = []
        self.targets = []
        self.ca_test, crt, key = make_pki(tmp, "target")
        _, other_crt, other_key = make_pki(tmp, "stranger")  # a CA the fetch server does not know
        self.https = self.add_target(Target(crt, key))
        self.stranger = self.add_target(Target(other_crt, other_key))
        self.http = self.add_target(Target())

        self.php_port = free_port()
        self.php_tmp = os.path.join(tmp, "php-tmp")
        os.makedirs(self.php_tmp)
        env = dict(os.environ, PHP_CLI_SERVER_WORKERS=str(workers), CORVALEN_FETCH_ALLOW_PRIVATE="1",
                   CORVALEN_FETCH_CAFILE=self.ca_test, TMPDIR=self.php_tmp)
        env.pop("CORVALEN_FETCH_PASSWORD", None)
        self.php = self.spawn(["php", "-d", "output_buffering=0", "-S", "127.0.0.1:%d" % self.php_port,
                               "-t", os.path.join(ROOT, "fetchserver")], env)
        wait_port(self.php_port, self.php)

        pkg = os.path.join(tmp, "package")
        os.makedirs(os.path.join(pkg, "certs"))
        shutil.copy(proxy_exe, os.path.join(pkg, "python27.exe"))
        self.port = free_port()
        with open(os.path.join(pkg, "proxy.ini"), "w") as f:
            f.write("[php]\r\nenable=1\r\nlisten=127.0.0.1:%d\r\nfetchserver=http://127.0.0.1:%d/index.php\r\n"
                    % (self.port, self.php_port))
        self.package = pkg
        self.proxy = self.spawn(["bash", WINE_RUN, os.path.join(pkg, "python27.exe")], dict(os.environ))
        wait_port(self.port, self.proxy)
        self.local_ca = os.path.join(tmp, "local-ca.crt")
        r = subprocess.run(["curl", "-sS", "--noproxy", "*", "--max-time", str(TIMEOUT), "-o", self.local_ca,
                            "-w", "%{http_code}", "http://127.0.0.1:%d/ca.crt" % self.port],
                           capture_output=True, timeout=TIMEOUT + 5)
        if r.stdout != b"200":
            raise RuntimeError("the proxy did not hand out its CA: %r %r" % (r.stdout, r.stderr))

    def add_target(self, t):
        self.targets.append(t)
        return t

    def spawn(self, cmd, env):
        p = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)
        self.procs.append(p)
        return p

    def stop(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                try:
                    os.killpg(p.pid, 15)
                except ProcessLookupError:
                    pass
        for p in self.procs:
            try:
                p.wait(timeout=15)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, 9)
                p.wait()
        for t in self.targets:
            t.stop()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def curl(stack, *args, cacert=None, check=True, proxy=True):
    cmd = ["curl", "-sS", "--max-time", str(TIMEOUT), "--noproxy", ""]
    if proxy:
        cmd += ["-x", "http://127.0.0.1:%d" % stack.port]
    cmd += ["--cacert", cacert or stack.local_ca] + list(args)
    r = subprocess.run(cmd, capture_output=True, timeout=TIMEOUT + 10)
    if check and r.returncode != 0:
        raise AssertionError("%s failed (%d): %s" % (" ".join(cmd), r.returncode, r.stderr.decode(errors="replace")))
    return r


def tunnel(port, host, target_port, cafile, alpn=("h2", "http/1.1")):
    """CONNECT host:target_port through the proxy on `port`, then TLS trusting `cafile`."""
    raw = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
    raw.sendall(("CONNECT %s:%d HTTP/1.1\r\nHost: %s:%d\r\n\r\n" % (host, target_port, host, target_port)).encode())
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = raw.recv(1)
        if not chunk:
            raise AssertionError("CONNECT answer cut short: %r" % head)
        head += chunk
    if not head.startswith(b"HTTP/1.1 200"):
        raise AssertionError("CONNECT refused: %r" % head)
    ctx = ssl.create_default_context(cafile=cafile)
    if alpn:
        ctx.set_alpn_protocols(list(alpn))
    return ctx.wrap_socket(raw, server_hostname=host.strip("[]"))


def read_response(sock):
    """One response with Content-Length or chunked body: (head bytes, body bytes)."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(65536)
        if not chunk:
            raise AssertionError("response cut short: %r" % data[:300])
        data += chunk
    head, _, rest = data.partition(b"\r\n\r\n")
    lower = head.lower()
    if b"transfer-encoding: chunked" in lower:
        body = bytearray()
        while True:
            while b"\r\n" not in rest:
                rest += sock.recv(65536)
            size_line, _, rest = rest.partition(b"\r\n")
            size = int(size_line.split(b";")[0], 16)
            while len(rest) < size + 2:
                chunk = sock.recv(1 << 20)
                if not chunk:
                    raise AssertionError("chunked body cut short")
                rest += chunk
            if size == 0:
                return head, bytes(body)
            body += rest[:size]
            rest = rest[size + 2:]
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    body = bytearray(rest)
    while len(body) < length:
        chunk = sock.recv(1 << 20)
        if not chunk:
            raise AssertionError("body cut short at %d of %d" % (len(body), length))
        body += chunk
    return head, bytes(body)
