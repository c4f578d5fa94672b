#!/usr/bin/env python3
"""HTTPS through the tunnel, end to end on loopback: curl and Python clients
trusting the proxy's local CA, python27.exe under Wine, the PHP fetch server
and Python HTTPS targets (see tunnel_stack.py).

Usage: https_e2e_test.py PATH/TO/python27.exe   (after wine_up)
"""
import concurrent.futures
import hashlib
import os
import socket
import ssl
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tunnel_stack import TIMEOUT, Stack, curl, pattern, read_response, tunnel  # noqa: E402


def check(cond, message):
    if not cond:
        raise AssertionError(message)
    print("ok:", message)


def read_until_closed(sock, limit=1 << 20):
    got = b""
    started = time.time()
    while len(got) < limit:
        chunk = sock.recv(65536)
        if not chunk:
            break
        got += chunk
    return got, time.time() - started


def main():
    exe = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="corvalen-https-") as tmp, Stack(exe, tmp) as st:
        t = st.https.port
        pem = open(st.local_ca, "rb").read()
        check(pem.startswith(b"-----BEGIN CERTIFICATE-----"), "the proxy serves its CA at /ca.crt")
        r = curl(st, "-i", "http://127.0.0.1:%d/" % st.port, proxy=False)
        check(b"charset=utf-8" in r.stdout and "受信任的根证书颁发机构".encode() in r.stdout,
              "the help page at / is UTF-8 and tells how to trust the CA")
        r = curl(st, "http://127.0.0.1:%d/ca.crt" % st.port)
        check(r.stdout == pem, "ca.crt also through the proxy itself (absolute URL of its own address)")

        r = curl(st, "https://localhost:%d/hello?x=1" % t)
        check(r.stdout == b"https GET /hello?x=1 host=localhost:%d" % t, "GET over HTTPS: %r" % r.stdout)
        r = curl(st, "https://127.0.0.1:%d/ip" % t)
        check(r.stdout.startswith(b"https GET /ip host=127.0.0.1:"), "GET to an IP literal over HTTPS")
        r = curl(st, "-d", "name=value&x=y", "https://localhost:%d/form" % t)
        check(r.stdout == b"https POST /form length=14 sha256=" + hashlib.sha256(b"name=value&x=y").hexdigest().encode(),
              "POST with a body")
        upload = os.urandom(1 << 20)
        up = os.path.join(tmp, "up.bin")
        open(up, "wb").write(upload)
        r = curl(st, "--data-binary", "@" + up, "https://localhost:%d/up" % t)
        check(r.stdout.endswith(hashlib.sha256(upload).hexdigest().encode()), "1 MB POST body byte-exact")
        r = curl(st, "https://localhost:%d/bytes/1048576" % t)
        check(r.stdout == pattern(1 << 20), "1 MB response body byte-exact")
        r = curl(st, "-I", "https://localhost:%d/bytes/10" % t)
        check(r.stdout.startswith(b"HTTP/1.1 200") and b"Content-Length: 10" in r.stdout, "HEAD over HTTPS")

        # Several requests on one connection (curl reuses it: one connect).
        r = curl(st, "-w", "[%{num_connects}]", "https://localhost:%d/a" % t, "https://localhost:%d/b" % t,
                 "https://localhost:%d/c" % t)
        check(r.stdout.count(b"[1]") == 1 and r.stdout.count(b"[0]") == 2, "curl: three requests, one connection")
        s = tunnel(st.port, "localhost", t, st.local_ca)
        check(s.selected_alpn_protocol() == "http/1.1", "ALPN offers http/1.1 only")
        san = s.getpeercert()["subjectAltName"]
        check(san == (("DNS", "localhost"),), "the site certificate names the host: %r" % (san,))
        for i in range(5):
            s.sendall(b"GET /keep/%d HTTP/1.1\r\nHost: localhost\r\n\r\n" % i)
            _, body = read_response(s)
            check(body == b"https GET /keep/%d host=localhost:%d" % (i, t), "request %d on one TLS connection" % i)
        s.sendall(b"POST /keep/p HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked\r\n\r\n"
                  b"5\r\nhello\r\n0\r\n\r\n")
        _, body = read_response(s)
        check(body.startswith(b"https POST /keep/p length=5 "), "chunked request body inside the tunnel")
        s.close()

        def client(i):
            c = tunnel(st.port, "localhost", t, st.local_ca)
            c.sendall(b"POST /many/%d HTTP/1.1\r\nHost: localhost\r\nContent-Length: 3\r\n\r\nabc" % i)
            _, b = read_response(c)
            c.sendall(b"GET /bytes/100000 HTTP/1.1\r\nHost: localhost\r\n\r\n")
            _, b2 = read_response(c)
            c.close()
            return b.startswith(b"https POST /many/%d length=3 " % i) and b2 == pattern(100000)
        with concurrent.futures.ThreadPoolExecutor(20) as pool:
            results = list(pool.map(client, range(20)))
        check(all(results), "20 clients at once (%d of 20 right)" % sum(results))

        # Trust: a client that does not trust the local CA fails.
        r = curl(st, "https://localhost:%d/hello" % t, cacert=st.ca_test, check=False)
        check(r.returncode == 60, "curl trusting another CA fails with a certificate error (exit %d)" % r.returncode)
        try:
            tunnel(st.port, "localhost", t, st.ca_test).close()
            check(False, "Python ssl trusting another CA must fail")
        except ssl.SSLCertVerificationError as e:
            check(True, "Python ssl trusting another CA fails: " + e.verify_message)
        # The fetch server verifies the target: a certificate from a CA it
        # does not know gives a 502 page, not the page.
        r = curl(st, "-i", "https://localhost:%d/hello" % st.stranger.port, check=False)
        check(b"\r\n\r\nHTTP/1.1 502" in r.stdout and b"certificate" in r.stdout.lower() and b"https GET" not in r.stdout,
              "a target with an unknown certificate is refused by the fetch server: %r" % r.stdout[:300])

        # Things that cannot pass: a clear answer and a closed connection.
        s = tunnel(st.port, "localhost", t, st.local_ca)
        s.sendall(b"GET /ws HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  b"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n")
        got, took = read_until_closed(s)
        check(got.startswith(b"HTTP/1.1 501") and b"WebSocket" in got and took < TIMEOUT,
              "WebSocket upgrade inside the tunnel: 501 and closed")
        raw = socket.create_connection(("127.0.0.1", st.port), timeout=TIMEOUT)
        raw.sendall(b"CONNECT localhost:%d HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\nHost: localhost\r\n\r\n" % t)
        got, took = read_until_closed(raw)
        raw.close()
        check(got.startswith(b"HTTP/1.1 200") and b"HTTP/1.1 400" in got and b"Only HTTPS" in got and took < TIMEOUT,
              "plain HTTP after CONNECT: 400 and closed")
        raw = socket.create_connection(("127.0.0.1", st.port), timeout=TIMEOUT)
        raw.sendall(b"GET http://127.0.0.1:%d/ws HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n"
                    % st.http.port)
        got, took = read_until_closed(raw)
        raw.close()
        check(got.startswith(b"HTTP/1.1 501") and took < TIMEOUT, "plain WebSocket upgrade: 501 and closed")
        r = curl(st, "--http2", "http://127.0.0.1:%d/h2c" % st.http.port)
        check(r.stdout.startswith(b"http GET /h2c"), "an h2c upgrade offer is dropped and the request answered")
        for bad in (b"CONNECT localhost HTTP/1.1", b"CONNECT bad_host!:443 HTTP/1.1"):
            raw = socket.create_connection(("127.0.0.1", st.port), timeout=TIMEOUT)
            raw.sendall(bad + b"\r\n\r\n")
            got, _ = read_until_closed(raw)
            raw.close()
            check(got.startswith(b"HTTP/1.1 400"), "%s: 400" % bad.decode())

        # Plain HTTP still works beside HTTPS.
        r = curl(st, "http://127.0.0.1:%d/plain" % st.http.port)
        check(r.stdout.startswith(b"http GET /plain"), "plain HTTP through the same proxy")
        certs = os.listdir(os.path.join(st.package, "certs"))
        check("site_localhost.pem" in certs and "site_127.0.0.1.pem" in certs,
              "site certificates cached in the package's certs folder: %s" % sorted(certs))
    print("all HTTPS tunnel checks passed")


if __name__ == "__main__":
    main()
