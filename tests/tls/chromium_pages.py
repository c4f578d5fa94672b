#!/usr/bin/env python3
"""Loads pages in Debian's headless Chromium through an HTTP proxy, trusting a
given CA through an NSS database of its own (a fresh HOME), and returns the
rendered DOM of each page; keeps a screenshot of each.

As a program:
  chromium_pages.py PROXY_PORT CA_FILE SHOT_DIR URL EXPECTED_TEXT [URL EXPECTED_TEXT ...]
exits 0 when every page's DOM holds its expected text.
"""
import os
import shutil
import subprocess
import sys
import tempfile

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-features=OptimizationHints,MediaRouter,Translate", "--window-size=800,600"]


def chromium():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    raise SystemExit("chromium is not installed (tools/setup.sh installs it)")


def make_home(base, ca_file):
    """A HOME whose NSS database trusts ca_file for TLS servers."""
    home = os.path.join(base, "home")
    nssdb = os.path.join(home, ".pki", "nssdb")
    os.makedirs(nssdb)
    subprocess.run(["certutil", "-N", "-d", "sql:" + nssdb, "--empty-password"], check=True, timeout=60)
    if ca_file:
        subprocess.run(["certutil", "-A", "-d", "sql:" + nssdb, "-n", "corvalen-test-ca", "-t", "C,,", "-i", ca_file],
                       check=True, timeout=60)
    return home


def run(home, profile, proxy_port, url, extra):
    env = dict(os.environ, HOME=home)
    env.pop("DISPLAY", None)
    cmd = [chromium()] + FLAGS + ["--user-data-dir=" + profile, "--proxy-server=127.0.0.1:%d" % proxy_port,
                                  "--proxy-bypass-list=<-loopback>"] + extra + [url]
    return subprocess.run(cmd, capture_output=True, env=env, timeout=90)


def load_pages(proxy_port, ca_file, pages, shot_dir):
    """pages: list of (url, expected_text, shot_name). Returns [(url, ok, dom_excerpt)]."""
    os.makedirs(shot_dir, exist_ok=True)
    results = []
    with tempfile.TemporaryDirectory(prefix="corvalen-chromium-") as base:
        home = make_home(base, ca_file)
        for i, (url, expected, shot) in enumerate(pages):
            profile = os.path.join(base, "profile%d" % i)
            r = run(home, profile, proxy_port, url, ["--dump-dom"])
            dom = r.stdout.decode("utf-8", errors="replace")
            shot_path = os.path.join(shot_dir, shot)
            run(home, profile + "s", proxy_port, url, ["--screenshot=" + shot_path])
            ok = expected in dom and os.path.exists(shot_path)
            results.append((url, ok, dom.strip()[:300] or r.stderr.decode(errors="replace")[-600:]))
    return results


def main():
    port, ca_file, shot_dir = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    rest = sys.argv[4:]
    pages = [(rest[i], rest[i + 1], "page%d.png" % (i // 2)) for i in range(0, len(rest), 2)]
    failed = 0
    for url, ok, excerpt in load_pages(port, ca_file, pages, shot_dir):
        print(("ok: " if ok else "FAILED: ") + url + "\n  " + excerpt.replace("\n", "\n  "))
        failed += not ok
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
