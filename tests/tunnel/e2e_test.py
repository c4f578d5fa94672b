"""End to end on loopback: clients -> python27.exe (under Wine) -> PHP fetch
server (php -S) -> a Python target server, and the fetch server's own
refusals. Run by CTest in the windows tree after wine_up:
  e2e_test.py --proxy python27.exe --fetchserver fetchserver/ --wine tools/wine-run.sh
"""
import argparse
import hashlib
import hmac
import http.client
import json
import os
import secrets
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tunnel_harness as th  # noqa: E402

ARGS = None
ENV = {}


class FakeFetchServer:
    """A fetch server that misbehaves: /slow never answers, /garbage answers nonsense."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(64)
        self.port = self.sock.getsockname()[1]
        self.stopping = False
        self.held = []
        threading.Thread(target=self._loop, daemon=True).start()

    def _loop(self):
        while not self.stopping:
            try:
                c, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(c,), daemon=True).start()

    def _serve(self, c):
        data = b""
        c.settimeout(10)
        try:
            while b"\r\n\r\n" not in data:
                piece = c.recv(65536)
                if not piece:
                    return
                data += piece
            line = data.split(b"\r\n", 1)[0]
            if b" /slow" in line:
                self.held.append(c)  # keep it open, say nothing
                return
            if b" /garbage" in line:
                c.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/x-corvalen-fetch\r\n"
                          b"Connection: close\r\n\r\n<html>Hosting account suspended</html>")
            elif b" /html" in line:
                c.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 13\r\n"
                          b"Connection: close\r\n\r\n<html></html>")
            c.close()
        except OSError:
            pass

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def stop(self):
        self.stopping = True
        self.sock.close()
        for c in self.held:
            c.close()


class TlsFront:
    """TLS in front of a plain server: an https fetch server for the proxy."""

    def __init__(self, backend_port, cert, key):
        self.ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.ctx.load_cert_chain(cert, key)
        self.backend = backend_port
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(64)
        self.port = self.sock.getsockname()[1]
        threading.Thread(target=self._loop, daemon=True).start()

    def _loop(self):
        while True:
            try:
                c, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(c,), daemon=True).start()

    def _serve(self, c):
        try:
            c.settimeout(30)
            tls = self.ctx.wrap_socket(c, server_side=True)
            up = socket.create_connection(("127.0.0.1", self.backend), timeout=30)
        except OSError:
            c.close()
            return

        def pump(src, dst):
            try:
                while True:
                    d = src.recv(1 << 20)
                    if not d:
                        break
                    dst.sendall(d)
            except OSError:
                pass
            finally:
                # shutdown() ends the connection even while the other
                # direction's thread is still inside recv().
                for s in (src, dst):
                    try:
                        s.shutdown(socket.SHUT_RDWR)
                    except (OSError, ValueError):
                        pass
                    try:
                        s.close()
                    except OSError:
                        pass

        threading.Thread(target=pump, args=(up, tls), daemon=True).start()
        pump(tls, up)

    def url(self, host="127.0.0.1"):
        return "https://%s:%d/index.php" % (host, self.port)

    def stop(self):
        self.sock.close()


def make_certificates(folder):
    """A test CA with a server certificate for 127.0.0.1 and localhost, and an
    untrusted self-made one."""
    def run(*cmd):
        subprocess.run(cmd, cwd=folder, check=True, capture_output=True, timeout=60)
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
        "-days", "2", "-subj", "/CN=Corvalen Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("openssl", "x509", "-in", "ca.pem", "-outform", "der", "-out", "ca.der")
    with open(os.path.join(folder, "ext.cnf"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                "extendedKeyUsage=serverAuth\nkeyUsage=critical,digitalSignature,keyEncipherment\n")
    run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "srv.key", "-out", "srv.csr",
        "-subj", "/CN=127.0.0.1")
    run("openssl", "x509", "-req", "-in", "srv.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
        "-out", "srv.pem", "-days", "2", "-extfile", "ext.cnf")
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "rogue.key", "-out", "rogue.pem",
        "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost")


def setUpModule():
    t0 = time.monotonic()
    ENV["target"] = th.TargetServer()
    ENV["php_open"] = th.PhpServer(ARGS.fetchserver)
    ENV["php_auth"] = th.PhpServer(ARGS.fetchserver, password="right horse")
    ENV["php_strict"] = th.PhpServer(ARGS.fetchserver, allow_private=False)
    ENV["fake"] = FakeFetchServer()
    ENV["certs"] = tempfile.mkdtemp(prefix="corvalen-certs-")
    make_certificates(ENV["certs"])
    der = "Z:" + os.path.join(ENV["certs"], "ca.der").replace("/", "\\")
    trusted = subprocess.run([ARGS.wine, ARGS.trust_ca, der], capture_output=True, timeout=120)
    if trusted.returncode != 0:
        raise RuntimeError("cannot trust the test CA: %r" % trusted.stdout)
    c = ENV["certs"]
    ENV["tls"] = TlsFront(ENV["php_auth"].port, os.path.join(c, "srv.pem"), os.path.join(c, "srv.key"))
    ENV["tls_rogue"] = TlsFront(ENV["php_auth"].port, os.path.join(c, "rogue.pem"), os.path.join(c, "rogue.key"))
    dead = th.free_port()
    proxies = {
        "open": dict(fetchserver=ENV["php_open"].url()),
        "auth_ok": dict(fetchserver=ENV["php_auth"].url(), password="right horse"),
        "auth_bad": dict(fetchserver=ENV["php_auth"].url(), password="wrong horse"),
        "auth_none": dict(fetchserver=ENV["php_auth"].url()),
        "down": dict(fetchserver="http://127.0.0.1:%d/index.php" % dead),
        "slow": dict(fetchserver=ENV["fake"].url("/slow"), timeout=2),
        "garbage": dict(fetchserver=ENV["fake"].url("/garbage")),
        "html": dict(fetchserver=ENV["fake"].url("/html")),
        "https": dict(fetchserver=ENV["tls"].url("localhost"), password="right horse"),
        "https_rogue": dict(fetchserver=ENV["tls_rogue"].url("localhost"), password="right horse"),
    }
    ENV["proxies"] = {}
    for name, kw in proxies.items():
        ENV["proxies"][name] = th.Proxy(ARGS.proxy, ARGS.wine, **kw)
    for p in ENV["proxies"].values():
        p.wait()
    print("set-up %.1f s" % (time.monotonic() - t0), file=sys.stderr)


def tearDownModule():
    for p in ENV.get("proxies", {}).values():
        p.stop()
    for key in ("tls", "tls_rogue", "php_open", "php_auth", "php_strict", "fake", "target"):
        if key in ENV:
            ENV[key].stop()
    if "certs" in ENV:
        shutil.rmtree(ENV["certs"], ignore_errors=True)


def proxy_port(name="open"):
    return ENV["proxies"][name].port


def target(path):
    return ENV["target"].url(path)


def request(method, path, body=None, headers=None, proxy="open"):
    conn = http.client.HTTPConnection("127.0.0.1", proxy_port(proxy), timeout=30)
    try:
        conn.request(method, target(path), body=body, headers=headers or {})
        r = conn.getresponse()
        return r.status, r.getheaders(), r.read(), r
    finally:
        conn.close()


def curl(*args):
    return subprocess.run(["curl", "-s", "--max-time", "30", "-x", "http://127.0.0.1:%d" % proxy_port()] +
                          list(args), capture_output=True, timeout=60)


class PassesThrough(unittest.TestCase):
    def test_methods_and_statuses(self):
        status, headers, body, _ = request("GET", "/small")
        self.assertEqual((status, body), (200, b"hello"))
        self.assertEqual(dict(headers)["Content-Type"], "text/plain")

        status, headers, body, r = request("HEAD", "/bytes?n=12345")
        self.assertEqual(status, 200)
        self.assertEqual(r.getheader("Content-Length"), "12345")
        self.assertEqual(body, b"")

        status, headers, body, r = request("POST", "/echo", body=b"name=value&x=1",
                                           headers={"Content-Type": "application/x-www-form-urlencoded"})
        self.assertEqual((status, body), (200, b"name=value&x=1"))
        self.assertEqual(r.getheader("X-Method"), "POST")
        self.assertEqual(r.getheader("X-Content-Type"), "application/x-www-form-urlencoded")

        for method in ("PUT", "PATCH", "DELETE"):
            status, _, body, r = request(method, "/echo", body=b"data-" + method.encode())
            self.assertEqual((status, r.getheader("X-Method"), body), (200, method, b"data-" + method.encode()))

        status, headers, body, r = request("GET", "/missing")
        self.assertEqual((status, r.reason, body), (404, "Not Found", b"no such page"))
        self.assertEqual(r.getheader("X-Why"), "gone")

        status, headers, body, r = request("GET", "/redirect")
        self.assertEqual((status, r.getheader("Location"), body), (302, "/elsewhere?a=1", b""))

        status, headers, body, r = request("GET", "/cookie")
        cookies = [v for k, v in headers if k.lower() == "set-cookie"]
        self.assertEqual(cookies, ["a=1; Path=/", "b=2; HttpOnly"])

    def test_chunked_response_and_request(self):
        status, headers, body, _ = request("GET", "/chunked")
        self.assertEqual((status, body), (200, b"first second " + b"third" * 1000))
        # A chunked request body reaches the target whole.
        conn = http.client.HTTPConnection("127.0.0.1", proxy_port(), timeout=30)
        conn.putrequest("POST", target("/echo"))
        conn.putheader("Transfer-Encoding", "chunked")
        conn.endheaders()
        for part in (b"abc", b"defgh", b"i" * 5000):
            conn.send(b"%x\r\n%s\r\n" % (len(part), part))
        conn.send(b"0\r\n\r\n")
        r = conn.getresponse()
        self.assertEqual(r.read(), b"abcdefgh" + b"i" * 5000)
        # A larger one (beyond what is kept in memory), followed on the same
        # connection by another request, through the signing proxy too.
        for proxy in ("open", "auth_ok"):
            big = th.pattern(3 * 1024 * 1024 + 17, seed=11)
            conn = http.client.HTTPConnection("127.0.0.1", proxy_port(proxy), timeout=30)
            conn.putrequest("PUT", target("/echo"))
            conn.putheader("Transfer-Encoding", "chunked")
            conn.endheaders()
            for i in range(0, len(big), 100000):
                part = big[i:i + 100000]
                conn.send(b"%x\r\n%s\r\n" % (len(part), part))
            conn.send(b"0\r\n\r\n" + ("GET %s HTTP/1.1\r\n\r\n" % target("/small")).encode())
            r = conn.getresponse()
            r.read()
            self.assertEqual((r.status, r.getheader("X-Body-Length")), (200, str(len(big))), proxy)
            self.assertEqual(r.getheader("X-Body-SHA256"), hashlib.sha256(big).hexdigest(), proxy)
            r2 = http.client.HTTPResponse(conn.sock, method="GET")
            r2.begin()
            self.assertEqual(r2.read(), b"hello", proxy)
            conn.close()

    def test_hop_by_hop_fields_are_removed_and_others_kept(self):
        status, _, body, _ = request("GET", "/headers", headers={
            "Connection": "keep-alive, X-Private", "X-Private": "secret", "Keep-Alive": "timeout=5",
            "Proxy-Authorization": "Basic eDp5", "X-Custom": "kept", "Cookie": "s=1"})
        self.assertEqual(status, 200)
        names = {k.lower(): v for k, v in json.loads(body)["headers"]}
        self.assertEqual(names.get("x-custom"), "kept")
        self.assertEqual(names.get("cookie"), "s=1")
        for gone in ("x-private", "keep-alive", "proxy-authorization"):
            self.assertNotIn(gone, names)
        self.assertEqual(names.get("host"), "127.0.0.1:%d" % ENV["target"].port)

    def test_ten_megabytes_byte_exact_both_ways(self):
        n = 10 * 1024 * 1024
        status, _, body, _ = request("GET", "/bytes?n=%d" % n)
        self.assertEqual(status, 200)
        self.assertEqual(len(body), n)
        self.assertEqual(hashlib.sha256(body).hexdigest(), hashlib.sha256(th.big_body(n)).hexdigest())
        upload = th.pattern(n, seed=7)
        status, _, _, r = request("POST", "/echo", body=upload, headers={"Content-Type": "application/octet-stream"})
        self.assertEqual(status, 200)
        self.assertEqual(r.getheader("X-Body-Length"), str(n))
        self.assertEqual(r.getheader("X-Body-SHA256"), hashlib.sha256(upload).hexdigest())

    def test_curl_client(self):
        out = curl("-D", "-", target("/cookie"))
        self.assertEqual(out.returncode, 0, out.stderr)
        text = out.stdout.decode()
        self.assertTrue(text.startswith("HTTP/1.1 200"), text)
        self.assertIn("Set-Cookie: b=2; HttpOnly", text)
        self.assertTrue(text.endswith("cookies"))
        out = curl("--data-binary", "curl-body", target("/echo"))
        self.assertEqual(out.stdout, b"curl-body")

    def test_several_requests_on_one_kept_alive_connection(self):
        conn = http.client.HTTPConnection("127.0.0.1", proxy_port(), timeout=30)
        conn.connect()
        sock = conn.sock
        expected = [("/small", b"hello"), ("/missing", b"no such page"), ("/chunked", None),
                    ("/bytes?n=300000", th.big_body(300000)), ("/redirect", b""), ("/small", b"hello")]
        for path, want in expected:
            conn.request("GET", target(path))
            r = conn.getresponse()
            body = r.read()
            if want is not None:
                self.assertEqual(body, want, path)
            self.assertIs(conn.sock, sock, "the proxy closed the connection after " + path)
        conn.request("HEAD", target("/small"))
        r = conn.getresponse()
        self.assertEqual(r.read(), b"")
        conn.request("GET", target("/small"))
        self.assertEqual(conn.getresponse().read(), b"hello")
        self.assertIs(conn.sock, sock)
        conn.close()

    def test_pipelined_requests_answer_in_order(self):
        req = lambda path: ("GET %s HTTP/1.1\r\nHost: x\r\n\r\n" % target(path)).encode()
        data, closed = th.raw_exchange(proxy_port(), req("/small") + req("/missing") +
                                       ("GET %s HTTP/1.1\r\nConnection: close\r\n\r\n" % target("/small")).encode())
        self.assertTrue(closed)
        self.assertEqual(data.count(b"HTTP/1.1 "), 3)
        self.assertLess(data.index(b"HTTP/1.1 200"), data.index(b"HTTP/1.1 404"))
        self.assertTrue(data.endswith(b"hello"))

    def test_http10_client_gets_a_close_delimited_body(self):
        data, closed = th.raw_exchange(proxy_port(), ("GET %s HTTP/1.0\r\n\r\n" % target("/chunked")).encode())
        self.assertTrue(closed)
        head, body = data.split(b"\r\n\r\n", 1)
        self.assertTrue(head.startswith(b"HTTP/1.1 200 "))
        self.assertNotIn(b"chunked", head.lower())
        self.assertEqual(body, b"first second " + b"third" * 1000)

    def test_browser_leaving_mid_body_leaves_the_proxy_serving(self):
        for _ in range(3):
            with socket.create_connection(("127.0.0.1", proxy_port()), timeout=30) as s:
                s.sendall(("GET %s HTTP/1.1\r\n\r\n" % target("/bytes?n=%d" % (20 << 20))).encode())
                got = 0
                while got < 200000:
                    piece = s.recv(65536)
                    self.assertTrue(piece)
                    got += len(piece)
        status, _, body, _ = request("GET", "/small")
        self.assertEqual((status, body), (200, b"hello"))

    def test_fifty_clients_at_once(self):
        errors = []
        start = threading.Barrier(50)

        def client(i):
            try:
                conn = http.client.HTTPConnection("127.0.0.1", proxy_port(), timeout=60)
                start.wait(30)
                for path, want in (("/small", b"hello"), ("/bytes?n=%d" % (1000 + i), th.big_body(1000 + i))):
                    conn.request("GET", target(path))
                    r = conn.getresponse()
                    body = r.read()
                    if r.status != 200 or body != want:
                        errors.append((i, path, r.status, len(body)))
                conn.close()
            except Exception as e:  # noqa: BLE001 - every failure is collected
                errors.append((i, repr(e)))

        threads = [threading.Thread(target=client, args=(i,)) for i in range(50)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(120)
        self.assertEqual(errors, [])


class RefusesBadRequests(unittest.TestCase):
    CASES = [
        ("both lengths", "POST {u} HTTP/1.1\r\nContent-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"),
        ("differing lengths", "POST {u} HTTP/1.1\r\nContent-Length: 4\r\nContent-Length: 5\r\n\r\nabcde"),
        ("other coding", "POST {u} HTTP/1.1\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n"),
        ("bare LF", "GET {u} HTTP/1.1\nHost: a\n\n"),
        ("folded field", "GET {u} HTTP/1.1\r\nX: a\r\n b\r\n\r\n"),
        ("space before colon", "GET {u} HTTP/1.1\r\nContent-Length : 0\r\n\r\n"),
        ("origin form", "GET /small HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"),
        ("bad version", "GET {u} HTTP/3.7\r\n\r\n"),
        ("bad chunk", "POST {u} HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"),
        ("huge head", "GET {u} HTTP/1.1\r\n" + "X-Fill: " + "a" * 70000 + "\r\n\r\n"),
    ]

    def test_malformed_or_ambiguous_get_400_and_close(self):
        smuggled = "GET %s HTTP/1.1\r\n\r\n" % target("/cookie")
        for name, text in self.CASES:
            data, closed = th.raw_exchange(proxy_port(), (text.format(u=target("/echo")) + smuggled).encode())
            self.assertTrue(data.startswith(b"HTTP/1.1 400 "), (name, data[:200]))
            self.assertTrue(closed, name)
            self.assertEqual(data.count(b"HTTP/1.1 "), 1, name)  # nothing after the refusal is served
            self.assertNotIn(b"Set-Cookie", data, name)

    def test_connect_gets_501(self):
        data, closed = th.raw_exchange(proxy_port(), b"CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n\r\n")
        self.assertTrue(data.startswith(b"HTTP/1.1 501 "), data[:100])
        self.assertIn(b"HTTPS", data)
        self.assertTrue(closed)

    def test_expect_100_continue(self):
        out = subprocess.run(["curl", "-s", "-x", "http://127.0.0.1:%d" % proxy_port(), "-H", "Expect: 100-continue",
                              "--expect100-timeout", "20", "--data-binary", "@-", target("/echo")],
                             input=b"x" * 2000, capture_output=True, timeout=60)
        self.assertEqual(out.stdout, b"x" * 2000)


class FetchServerTrouble(unittest.TestCase):
    def page(self, proxy, path="/small"):
        conn = http.client.HTTPConnection("127.0.0.1", proxy_port(proxy), timeout=30)
        try:
            conn.request("GET", target(path))
            r = conn.getresponse()
            return r.status, r.read().decode("gbk")
        finally:
            conn.close()

    def test_fetch_server_down_gives_502(self):
        status, text = self.page("down")
        self.assertEqual(status, 502)
        self.assertIn("Fetch server unreachable", text)

    def test_fetch_server_silent_gives_504(self):
        status, text = self.page("slow")
        self.assertEqual(status, 504)
        self.assertIn("did not answer in time", text)

    def test_fetch_server_garbage_gives_502(self):
        for proxy in ("garbage", "html"):
            status, text = self.page(proxy)
            self.assertEqual(status, 502, proxy)
            self.assertIn("Fetch server", text, proxy)

    def test_password(self):
        status, text = self.page("auth_ok")
        self.assertEqual((status, text), (200, "hello"))
        status, _, body, r = request("POST", "/echo", body=b"signed body", proxy="auth_ok")
        self.assertEqual((status, body), (200, b"signed body"))
        status, text = self.page("auth_bad")
        self.assertEqual(status, 403)
        self.assertIn("refused the request", text)
        self.assertIn("signature mismatch", text)
        status, text = self.page("auth_none")
        self.assertEqual(status, 403)
        self.assertIn("requires a password", text)

    def test_target_unreachable_gives_502(self):
        conn = http.client.HTTPConnection("127.0.0.1", proxy_port(), timeout=30)
        conn.request("GET", "http://127.0.0.1:%d/x" % th.free_port())
        r = conn.getresponse()
        self.assertEqual(r.status, 502)
        self.assertIn("could not fetch", r.read().decode("gbk"))
        conn.close()


def envelope(url, body=b"", password=None, when=None, nonce=None, method="POST"):
    head = ("CFP/1\r\nmethod: %s\r\nurl: %s\r\ntime: %d\r\nnonce: %s\r\nlength: %d\r\nauth: %s\r\n\r\n" % (
        method, url, int(time.time()) if when is None else when, nonce or secrets.token_hex(16), len(body),
        "hmac-sha256" if password else "none")).encode()
    data = head + body
    if password:
        data += hmac.new(password.encode(), data, hashlib.sha256).hexdigest().encode()
    return data


def post_envelope(php, data):
    req = urllib.request.Request(php.url(), data=data, headers={"Content-Type": "application/x-corvalen-fetch"})
    try:
        with urllib.request.urlopen(req, timeout=30) as r:
            return r.status, r.headers.get("X-Corvalen-Fetch"), r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.headers.get("X-Corvalen-Fetch"), e.read()


class HttpsFetchServer(unittest.TestCase):
    """The upstream leg over https (WinHTTP), with certificate checks."""

    def test_requests_through_an_https_fetch_server(self):
        status, _, body, _ = request("GET", "/small", proxy="https")
        self.assertEqual((status, body), (200, b"hello"))
        n = 3 * 1024 * 1024
        status, _, body, _ = request("GET", "/bytes?n=%d" % n, proxy="https")
        self.assertEqual((status, hashlib.sha256(body).digest()), (200, hashlib.sha256(th.big_body(n)).digest()))
        upload = th.pattern(2 * 1024 * 1024, seed=9)
        status, _, _, r = request("POST", "/echo", body=upload, proxy="https")
        self.assertEqual((status, r.getheader("X-Body-SHA256")), (200, hashlib.sha256(upload).hexdigest()))
        conn = http.client.HTTPConnection("127.0.0.1", proxy_port("https"), timeout=30)
        for path, want in (("/small", b"hello"), ("/missing", b"no such page"), ("/small", b"hello")):
            conn.request("GET", target(path))
            self.assertEqual(conn.getresponse().read(), want)
        conn.close()

    def test_untrusted_certificate_is_refused(self):
        status, _, body, _ = request("GET", "/small", proxy="https_rogue")
        self.assertEqual(status, 502)
        self.assertIn("certificate", body.decode("gbk"))


class FetchServerChecks(unittest.TestCase):
    """The fetch server alone, spoken to with envelopes made here."""

    def test_signature_time_and_replay(self):
        php = ENV["php_auth"]
        good = envelope(target("/echo"), b"payload", password="right horse")
        status, marker, body = post_envelope(php, good)
        self.assertEqual((status, marker), (200, "ok"))
        self.assertTrue(body.startswith(b"CFP/1 200 "))
        self.assertTrue(body.endswith(b"0\r\nok\r\n"))
        status, marker, body = post_envelope(php, good)
        self.assertEqual((status, marker), (403, "refused"))
        self.assertIn(b"replayed", body)
        altered = envelope(target("/echo"), b"payload", password="right horse")
        altered = altered.replace(b"payload", b"PAYLOAD")
        status, marker, body = post_envelope(php, altered)
        self.assertEqual((status, marker), (403, "refused"))
        self.assertIn(b"signature mismatch", body)
        stale = envelope(target("/echo"), b"x", password="right horse", when=int(time.time()) - 3600)
        status, marker, body = post_envelope(php, stale)
        self.assertEqual((status, marker), (403, "refused"))
        self.assertIn(b"time", body)
        status, marker, body = post_envelope(php, envelope(target("/small"), b""))
        self.assertEqual((status, marker), (403, "refused"))

    def test_private_targets_refused_by_default(self):
        php = ENV["php_strict"]
        for url in (target("/small"), "http://10.1.2.3/", "http://169.254.169.254/latest/meta-data/",
                    "http://192.168.0.1/", "http://[::1]/", "http://localhost:%d/" % ENV["target"].port,
                    "http://[::ffff:127.0.0.1]:%d/" % ENV["target"].port, "http://[::ffff:7f00:1]/",
                    "http://[fe80::1]/", "http://100.64.1.1/", "http://0.0.0.0:%d/" % ENV["target"].port,
                    "http://2130706433/"):
            status, marker, body = post_envelope(php, envelope(url, method="GET"))
            self.assertEqual((status, marker), (403, "refused"), url)
            self.assertIn(b"not allowed", body, url)
        status, marker, body = post_envelope(php, envelope("file:///etc/passwd", method="GET"))
        self.assertEqual((status, marker), (403, "refused"))

    def test_streams_in_frames(self):
        php = ENV["php_open"]
        status, marker, body = post_envelope(php, envelope(target("/bytes?n=3000000"), method="GET"))
        self.assertEqual((status, marker), (200, "ok"))
        head, rest = body.split(b"\r\n\r\n", 1)
        payload = bytearray()
        while True:
            line, rest = rest.split(b"\r\n", 1)
            n = int(line, 16)
            if n == 0:
                break
            payload += rest[:n]
            rest = rest[n:]
        self.assertEqual(rest, b"ok\r\n")
        self.assertEqual(bytes(payload), th.big_body(3000000))

    def test_health_page(self):
        with urllib.request.urlopen(ENV["php_open"].url(), timeout=10) as r:
            self.assertEqual(r.headers.get("X-Corvalen-Fetch"), "ready")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--proxy", required=True)
    parser.add_argument("--fetchserver", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--trust-ca", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
