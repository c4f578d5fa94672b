#!/usr/bin/env python3
"""The TLS layer under Wine, end to end: tls_connect_server (a CONNECT endpoint
that ends TLS with certificates from the local CA) against curl and Python's
ssl module on Linux.

Usage: tls_connect_test.py PATH/TO/tls_connect_server.exe
Run after wine_up (tools/wine-env.sh) in the same shell.
"""
import concurrent.futures
import hashlib
import os
import re
import socket
import ssl
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tunnel_stack  # noqa: E402
from tunnel_stack import read_response  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, "..", "..", "tools", "wine-run.sh")
TIMEOUT = 20


def win_path(path):
    return "Z:" + path.replace("/", "\\")


def pattern(n):
    """The bytes tls_connect_server sends for /bytes/N."""
    out = bytearray(n)
    x = 12345
    for i in range(n):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = (x >> 16) & 0xFF
    return bytes(out)


class Server:
    def __init__(self, exe, folder):
        self.folder = folder
        self.ca_dir = os.path.join(folder, "ca")
        self.certs = os.path.join(folder, "certs")
        os.makedirs(self.ca_dir, exist_ok=True)
        port_file = os.path.join(folder, "port")
        if os.path.exists(port_file):
            os.remove(port_file)
        self.proc = subprocess.Popen(
            ["bash", WINE_RUN, exe, win_path(self.ca_dir), win_path(self.certs), win_path(port_file)],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.lines = []
        self.port = None
        deadline = time.time() + 60
        while self.port is None and time.time() < deadline:
            line = self.proc.stdout.readline()
            if not line:
                break
            self.lines.append(line.strip())
            m = re.match(r"port (\d+)$", line.strip())
            if m:
                self.port = int(m.group(1))
        if self.port is None:
            self.proc.kill()
            raise AssertionError("server did not start: %r" % self.lines)
        self.ca_line = self.lines[0]
        self.ca_file = os.path.join(self.ca_dir, "ca.crt")

    def stop(self):
        try:
            curl(self, "https://stop.test/quit", check=False)
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.lines += [l.strip() for l in self.proc.stdout.read().splitlines()]
        self.proc.stdout.close()


def curl(server, *args, cacert=None, check=True):
    cmd = ["curl", "-sS", "--max-time", str(TIMEOUT), "--noproxy", "", "-x", "http://127.0.0.1:%d" % server.port,
           "--cacert", cacert or server.ca_file] + list(args)
    r = subprocess.run(cmd, capture_output=True, timeout=TIMEOUT + 10)
    if check and r.returncode != 0:
        raise AssertionError("%s failed (%d): %s" % (" ".join(cmd), r.returncode, r.stderr.decode(errors="replace")))
    return r


def tunnel(server, host, cafile=None, alpn=("h2", "http/1.1"), port=443):
    """CONNECT through the test server, then TLS trusting `cafile` (its own CA by default)."""
    return tunnel_stack.tunnel(server.port, host, port, cafile or server.ca_file, alpn)


def check(cond, message):
    if not cond:
        raise AssertionError(message)
    print("ok:", message)


def main():
    exe = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="corvalen-tls-") as tmp:
        first = Server(exe, os.path.join(tmp, "one"))
        other = Server(exe, os.path.join(tmp, "two"))
        try:
            check(first.ca_line.startswith("ca created "), "the first run makes a CA: " + first.ca_line)
            key_mode = os.stat(os.path.join(first.ca_dir, "ca.key")).st_mode & 0o777
            crt_mode = os.stat(first.ca_file).st_mode & 0o777
            check(key_mode & 0o007 == 0, "ca.key is not readable by other users (mode %o)" % key_mode)
            check(crt_mode & 0o004 != 0, "ca.crt is readable by all (mode %o)" % crt_mode)
            check(open(first.ca_file, "rb").read() != open(other.ca_file, "rb").read(),
                  "two installations get different CAs")

            r = curl(first, "https://site.test/hello")
            check(r.stdout.startswith(b"host=site.test method=GET path=/hello length=0 "),
                  "curl trusting the CA gets the page: %r" % r.stdout[:80])
            for url, host in (("https://127.0.0.1:8443/ip", "127.0.0.1"), ("https://[::1]/v6", "[::1]")):
                r = curl(first, url)
                check(r.stdout.startswith(("host=%s " % host).encode()), "IP literal %s: %r" % (host, r.stdout[:60]))

            r = curl(first, "https://site.test/hello", cacert=other.ca_file, check=False)
            check(r.returncode == 60 and b"certificate" in r.stderr,
                  "curl trusting another CA fails with a certificate error (exit %d: %s)" %
                  (r.returncode, r.stderr.decode(errors="replace").strip()))
            try:
                tunnel(first, "site.test", cafile=other.ca_file).close()
                check(False, "Python ssl trusting another CA must fail")
            except ssl.SSLCertVerificationError as e:
                check(True, "Python ssl trusting another CA fails: %s" % e.verify_message)

            s = tunnel(first, "site.test")
            cert = s.getpeercert()
            check(s.selected_alpn_protocol() == "http/1.1", "ALPN settles on http/1.1")
            check(cert["subjectAltName"] == (("DNS", "site.test"),), "SAN names the host: %r" % (cert["subjectAltName"],))
            issuer = dict(x[0] for x in cert["issuer"])
            check(issuer["commonName"].startswith("Corvalen Local CA "), "issuer is the local CA")
            site_der = s.getpeercert(binary_form=True)
            # Several requests on one connection.
            for i in range(3):
                s.sendall(b"GET /keep/%d HTTP/1.1\r\nHost: site.test\r\n\r\n" % i)
                _, body = read_response(s)
                check(body.startswith(b"host=site.test method=GET path=/keep/%d " % i), "request %d on one connection" % i)
            s.close()
            s = tunnel(first, "127.0.0.1")
            check(s.getpeercert()["subjectAltName"] == (("IP Address", "127.0.0.1"),), "SAN of an IP is an address")
            s.close()

            upload = os.urandom(1 << 20)
            up_file = os.path.join(tmp, "up.bin")
            with open(up_file, "wb") as f:
                f.write(upload)
            r = curl(first, "--data-binary", "@" + up_file, "https://site.test/post")
            check(("length=%d sha256=%s" % (len(upload), hashlib.sha256(upload).hexdigest())).encode() in r.stdout,
                  "a 1 MB POST body arrives byte-exact")
            r = curl(first, "https://site.test/bytes/1048576")
            check(r.stdout == pattern(1 << 20), "a 1 MB answer arrives byte-exact")

            def one_client(i):
                t = tunnel(first, "c%d.test" % (i % 5))
                t.sendall(b"POST /many/%d HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello" % i)
                _, body = read_response(t)
                t.close()
                return body
            with concurrent.futures.ThreadPoolExecutor(20) as pool:
                bodies = list(pool.map(one_client, range(20)))
            check(all(b.startswith(b"host=c%d.test method=POST path=/many/%d length=5 " % (i % 5, i))
                      for i, b in enumerate(bodies)), "20 clients at once")

            # Plain text after CONNECT: a clear answer and a closed connection.
            raw = socket.create_connection(("127.0.0.1", first.port), timeout=TIMEOUT)
            raw.sendall(b"CONNECT ws.test:80 HTTP/1.1\r\n\r\n")
            raw.sendall(b"GET /chat HTTP/1.1\r\nHost: ws.test\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n")
            got = b""
            started = time.time()
            while True:
                chunk = raw.recv(65536)
                if not chunk:
                    break
                got += chunk
            raw.close()
            check(b"HTTP/1.1 400" in got and b"only TLS" in got and time.time() - started < TIMEOUT,
                  "plain text after CONNECT gets 400 and a closed connection")
        finally:
            first.stop()
            other.stop()

        times = [int(l.split()[2]) for l in first.lines if l.startswith("cert ")]
        print("site certificate fetch times (us), in order:", times)
        check(any(l.startswith("cert site.test ") for l in first.lines), "certificate fetches are logged")
        pem_path = os.path.join(first.certs, "site_site.test.pem")
        check(os.path.exists(pem_path) and os.stat(pem_path).st_mode & 0o007 == 0,
              "the site certificate is cached in certs/ and not readable by others")

        ca_before = open(first.ca_file, "rb").read()
        again = Server(exe, first.folder)
        try:
            check(again.ca_line == first.ca_line.replace("created", "loaded"),
                  "the next run loads the same CA: " + again.ca_line)
            check(open(again.ca_file, "rb").read() == ca_before, "ca.crt is unchanged")
            s = tunnel(again, "site.test")
            check(s.getpeercert(binary_form=True) == site_der, "the next run serves the cached site certificate")
            s.close()
        finally:
            again.stop()
    print("all TLS checks passed")


if __name__ == "__main__":
    main()
