#!/usr/bin/env python3
"""Benchmark of the tunnel on loopback (not a test: it prints figures).

Four paths to one Python target server, measured side by side in one run:
  direct     client -> target
  php-hop    client -> php -S running a minimal curl pass-through -> target
  tunnel     client -> python27.exe under Wine -> php -S index.php -> target
  tinyproxy  client -> tinyproxy -> target
For each: MB/s for a 64 MB body (curl), median and 95th percentile of 500
small GETs on one kept-alive client connection (Python client), failures.
Also the proxy's peak resident memory (VmHWM of its Wine process) while it
streams 256 MB.

Usage (after a build): tools/bench_tunnel.py  [--proxy build/windows/package/proxy/python27.exe]
Wine: run after `source tools/wine-env.sh && wine_up`, or let the script call it.
"""
import argparse
import http.client
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "tunnel"))
import tunnel_harness as th  # noqa: E402

PASS_THROUGH_PHP = r"""<?php
// Minimal pass-through: the floor any PHP tunnel pays.
while (ob_get_level() > 0) ob_end_flush();
header('X-Accel-Buffering: no');
$ch = curl_init($_GET['u']);
curl_setopt($ch, CURLOPT_HEADERFUNCTION, function ($ch, $h) { return strlen($h); });
curl_setopt($ch, CURLOPT_WRITEFUNCTION, function ($ch, $d) { echo $d; flush(); return strlen($d); });
curl_exec($ch);
curl_close($ch);
"""

FAILURES = []


def throughput(url, size, proxy=None):
    cmd = ["curl", "-s", "-o", "/dev/null", "--max-time", "300", "-w", "%{http_code} %{size_download} %{time_total}"]
    if proxy:
        cmd += ["-x", proxy]
    out = subprocess.run(cmd + [url], capture_output=True, text=True, timeout=400)
    try:
        code, got, seconds = out.stdout.split()
    except ValueError:
        FAILURES.append((url, "curl: " + out.stderr))
        return 0.0
    if code != "200" or int(got) != size:
        FAILURES.append((url, code, got))
        return 0.0
    return size / float(seconds) / 1e6


def small_gets(host, port, path, count=500, absolute=None):
    """`count` GETs on one kept-alive connection (reopened only if the server closes)."""
    times = []
    conn = http.client.HTTPConnection(host, port, timeout=30)
    target = absolute or path
    for _ in range(count):
        t0 = time.perf_counter()
        try:
            try:
                conn.request("GET", target)
                r = conn.getresponse()
            except (http.client.RemoteDisconnected, ConnectionResetError, BrokenPipeError):
                # A server may close a kept-alive connection without saying
                # so; like a browser, ask once more on a new one.
                conn.close()
                conn.request("GET", target)
                r = conn.getresponse()
            body = r.read()
            if r.status != 200 or body != b"hello":
                FAILURES.append((target, r.status, body[:60]))
            if r.getheader("Connection", "").lower() == "close":
                conn.close()
        except Exception as e:  # noqa: BLE001
            FAILURES.append((target, repr(e)))
            conn.close()
        times.append((time.perf_counter() - t0) * 1000)
    conn.close()
    times.sort()
    return statistics.median(times), times[int(len(times) * 0.95) - 1]


def vm_hwm_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return -1


def vm_rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return -1


def start_tinyproxy(workdir):
    port = th.free_port()
    conf = os.path.join(workdir, "tinyproxy.conf")
    with open(conf, "w") as f:
        f.write("Port %d\nListen 127.0.0.1\nTimeout 600\nMaxClients 100\nAllow 127.0.0.1\n"
                "LogLevel Critical\nLogFile \"%s\"\nPidFile \"%s\"\nDisableViaHeader Yes\n" % (
                    port, os.path.join(workdir, "tinyproxy.log"), os.path.join(workdir, "tinyproxy.pid")))
    proc = subprocess.Popen(["tinyproxy", "-d", "-c", conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    th.wait_for_port(port, 20, proc)
    return proc, port


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--proxy", default=os.path.join(ROOT, "build", "windows", "package", "proxy", "python27.exe"))
    ap.add_argument("--wine", default=os.path.join(ROOT, "tools", "wine-run.sh"))
    ap.add_argument("--big", type=int, default=64 << 20)
    ap.add_argument("--stream", type=int, default=256 << 20)
    ap.add_argument("--count", type=int, default=500)
    ap.add_argument("--paths", default="direct,php-hop,tunnel,tinyproxy", help="comma-separated subset")
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="corvalen-bench-")
    with open(os.path.join(work, "pass.php"), "w") as f:
        f.write(PASS_THROUGH_PHP)
    shutil.copy(os.path.join(ROOT, "fetchserver", "index.php"), os.path.join(work, "index.php"))

    target = th.TargetServer()
    th.big_body(args.big)
    th.big_body(args.stream)
    php = th.PhpServer(work, workers=4)
    tiny, tiny_port = start_tinyproxy(work)
    proxy = th.Proxy(args.proxy, args.wine, php.url("index.php")).wait()
    rows = []
    try:
        big = target.url("/bytes?n=%d" % args.big)
        small = target.url("/small")
        php_big = php.url("pass.php") + "?u=" + urllib.parse.quote(big, safe="")
        php_small_path = "/pass.php?u=" + urllib.parse.quote(small, safe="")
        proxy_url = "http://127.0.0.1:%d" % proxy.port
        tiny_url = "http://127.0.0.1:%d" % tiny_port

        # warm-up of every path
        throughput(target.url("/bytes?n=1000000"), 1000000, proxy_url)
        small_gets("127.0.0.1", proxy.port, None, 20, absolute=small)

        paths = [
            ("direct", lambda: throughput(big, args.big),
             lambda: small_gets("127.0.0.1", target.port, "/small", args.count)),
            ("php-hop", lambda: throughput(php_big, args.big),
             lambda: small_gets("127.0.0.1", php.port, php_small_path, args.count)),
            ("tunnel", lambda: throughput(big, args.big, proxy_url),
             lambda: small_gets("127.0.0.1", proxy.port, None, args.count, absolute=small)),
            ("tinyproxy", lambda: throughput(big, args.big, tiny_url),
             lambda: small_gets("127.0.0.1", tiny_port, None, args.count, absolute=small)),
        ]
        for name, tp, sg in paths:
            if name not in args.paths.split(","):
                continue
            before = len(FAILURES)
            mbs = max(tp() for _ in range(2))
            med, p95 = sg()
            rows.append((name, mbs, med, p95, len(FAILURES) - before))

        with open("/proc/%d/cmdline" % proxy.pid(), "rb") as f:
            image = f.read().split(b"\0")[0].decode(errors="replace")
        rss_before = vm_rss_kb(proxy.pid())
        hwm_before = vm_hwm_kb(proxy.pid())
        try:
            with open("/proc/%d/clear_refs" % proxy.pid(), "w") as f:
                f.write("5")  # restart the peak count: VmHWM then covers this stream only
            hwm_reset = True
        except OSError:
            hwm_reset = False
        stream_mbs = throughput(target.url("/bytes?n=%d" % args.stream), args.stream, proxy_url)
        hwm_after = vm_hwm_kb(proxy.pid())
    finally:
        proxy.stop()
        tiny.terminate()
        tiny.wait(10)
        php.stop()
        target.stop()
        shutil.rmtree(work, ignore_errors=True)

    print("path        MB/s(%d MB)   small GET median ms   p95 ms   failed" % (args.big >> 20))
    for name, mbs, med, p95, failed in rows:
        print("%-10s %12.0f %20.3f %9.3f %8d" % (name, mbs, med, p95, failed))
    hop = dict((r[0], r) for r in rows)
    if all(k in hop for k in ("php-hop", "tunnel", "tinyproxy")) and hop["php-hop"][1] > 0:
        print("tunnel / php-hop throughput: %.2f x; tunnel / tinyproxy: %.2f x" % (
            hop["tunnel"][1] / hop["php-hop"][1], hop["tunnel"][1] / max(hop["tinyproxy"][1], 1e-9)))
    if "php-hop" in hop and "tunnel" in hop:
        print("tunnel median minus php-hop median: %.3f ms" % (hop["tunnel"][2] - hop["php-hop"][2]))
    print("proxy process %s: resident %.1f MB before streaming; peak %.1f MB %s while streaming %d MB at "
          "%.0f MB/s (peak over the whole run before: %.1f MB)" % (
              image, rss_before / 1024, hwm_after / 1024, "(peak counter reset)" if hwm_reset else "(lifetime)",
              args.stream >> 20, stream_mbs, hwm_before / 1024))
    print("failed requests: %d" % len(FAILURES))
    for f in FAILURES[:10]:
        print("  ", f)
    return 0 if not FAILURES else 1


if __name__ == "__main__":
    sys.exit(main())
