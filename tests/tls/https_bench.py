#!/usr/bin/env python3
"""HTTPS figures of the tunnel, measured side by side in one run on loopback
(not a test: it prints numbers). Paths:
  direct HTTPS      client -> Python HTTPS target
  tunnel HTTPS      client -> CONNECT + TLS with the local CA -> python27.exe (Wine) -> php -S -> HTTPS target
  tunnel HTTP       client -> python27.exe -> php -S -> plain HTTP target (the same run's plain figure)
  tunnel, plain leg to HTTPS target
                    the HTTPS target asked for in absolute form on a plain connection to the
                    proxy: what the fetch server's own TLS leg costs, without the local TLS
For each: MB/s of one 64 MB body (curl), and median / 95th percentile of 500
small GETs on one kept-alive connection. Then the time from CONNECT to an
established TLS session for a host whose certificate is new against one
already cached.

Usage: https_bench.py PATH/TO/python27.exe   (after wine_up)
"""
import os
import socket
import ssl
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tunnel_stack import TIMEOUT, Stack, read_response, tunnel  # noqa: E402

BIG = 64 << 20
SMALL = 500


def curl_speed(args):
    r = subprocess.run(["curl", "-sS", "--noproxy", "", "--max-time", "300", "-o", "/dev/null",
                        "-w", "%{speed_download} %{size_download}"] + args, capture_output=True, timeout=320)
    if r.returncode != 0:
        raise RuntimeError(r.stderr.decode(errors="replace"))
    speed, size = r.stdout.split()
    if int(float(size)) != BIG:
        raise RuntimeError("short body: %s" % size)
    return float(speed) / 1e6


def timed_gets(sock, request):
    times = []
    for _ in range(SMALL):
        t0 = time.perf_counter()
        sock.sendall(request)
        read_response(sock)
        times.append((time.perf_counter() - t0) * 1000)
    times.sort()
    return statistics.median(times), times[int(len(times) * 0.95) - 1]


def main():
    exe = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="corvalen-bench-") as tmp, Stack(exe, tmp) as st:
        t, h = st.https.port, st.http.port
        rows = []
        big = "/bytes/%d" % BIG
        rows.append(("direct HTTPS", curl_speed(["--cacert", st.ca_test, "https://localhost:%d%s" % (t, big)])))
        rows.append(("tunnel HTTPS", curl_speed(["-x", "http://127.0.0.1:%d" % st.port, "--cacert", st.local_ca,
                                                 "https://localhost:%d%s" % (t, big)])))
        rows.append(("tunnel HTTP", curl_speed(["-x", "http://127.0.0.1:%d" % st.port,
                                                "http://127.0.0.1:%d%s" % (h, big)])))
        # The same HTTPS target asked for in absolute form over a plain
        # connection to the proxy: the fetch server's TLS leg without ours.
        s = socket.create_connection(("127.0.0.1", st.port), timeout=TIMEOUT)
        t0 = time.perf_counter()
        s.sendall(b"GET https://localhost:%d%s HTTP/1.1\r\nHost: localhost\r\n\r\n" % (t, big.encode()))
        _, body = read_response(s)
        rows.append(("tunnel, plain leg to HTTPS target", len(body) / (time.perf_counter() - t0) / 1e6))
        s.close()

        small = {}
        ctx = ssl.create_default_context(cafile=st.ca_test)
        s = ctx.wrap_socket(socket.create_connection(("127.0.0.1", t), timeout=TIMEOUT), server_hostname="localhost")
        small["direct HTTPS"] = timed_gets(s, b"GET /s HTTP/1.1\r\nHost: localhost\r\n\r\n")
        s.close()
        s = tunnel(st.port, "localhost", t, st.local_ca)
        small["tunnel HTTPS"] = timed_gets(s, b"GET /s HTTP/1.1\r\nHost: localhost\r\n\r\n")
        s.close()
        s = socket.create_connection(("127.0.0.1", st.port), timeout=TIMEOUT)
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        small["tunnel HTTP"] = timed_gets(s, b"GET http://127.0.0.1:%d/s HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" % h)
        small["tunnel, plain leg to HTTPS target"] = timed_gets(
            s, b"GET https://localhost:%d/s HTTP/1.1\r\nHost: localhost\r\n\r\n" % t)
        s.close()

        def handshake_ms(host):
            t0 = time.perf_counter()
            c = tunnel(st.port, host, 443, st.local_ca)
            ms = (time.perf_counter() - t0) * 1000
            c.close()
            return ms
        handshake_ms("cached.bench")
        fresh = [handshake_ms("new%d.bench" % i) for i in range(20)]
        cached = [handshake_ms("cached.bench") for _ in range(20)]

    print("%-34s %10s %12s %12s" % ("path", "64 MB MB/s", "GET median", "GET p95"))
    for name, mbps in rows:
        med, p95 = small[name]
        print("%-34s %10.0f %9.3f ms %9.3f ms" % (name, mbps, med, p95))
    https_mbps, http_mbps, leg_mbps = rows[1][1], rows[2][1], rows[3][1]
    print("tunnel HTTPS / tunnel HTTP throughput: %.2f (target at least 0.5)" % (https_mbps / http_mbps))
    print("tunnel HTTPS / same target without local TLS: %.2f" % (https_mbps / leg_mbps))
    print("CONNECT to TLS established, new host (certificate made): median %.2f ms" % statistics.median(fresh))
    print("CONNECT to TLS established, cached host:                  median %.2f ms" % statistics.median(cached))
    print("first request to a new host costs %.2f ms more (target under 50 ms)"
          % (statistics.median(fresh) - statistics.median(cached)))


if __name__ == "__main__":
    main()
