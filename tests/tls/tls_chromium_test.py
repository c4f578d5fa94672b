#!/usr/bin/env python3
"""Headless Chromium through tls_connect_server (under Wine): with the local CA
in its NSS database it renders an HTTPS page; without it, it does not.

Usage: tls_chromium_test.py PATH/TO/tls_connect_server.exe SHOT_DIR
"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chromium_pages import load_pages  # noqa: E402
from tls_connect_test import Server, check  # noqa: E402


def main():
    exe, shots = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(prefix="corvalen-tls-chromium-") as tmp:
        server = Server(exe, os.path.join(tmp, "s"))
        try:
            url = "https://site.test/page.html"
            [(u, ok, dom)] = load_pages(server.port, server.ca_file, [(url, "TLS page of site.test at /page.html",
                                                                       "tls-trusted.png")], shots)
            check(ok, "Chromium trusting the local CA renders %s: %s" % (url, dom[:200]))
            [(u, ok, dom)] = load_pages(server.port, None, [(url, "TLS page of site.test", "tls-untrusted.png")], shots)
            check("TLS page of site.test" not in dom, "Chromium without the CA does not show the page")
        finally:
            server.stop()
        check(any(l.startswith("handshake failed site.test") for l in server.lines),
              "the untrusting browser broke off the handshake")
    print("Chromium TLS checks passed")


if __name__ == "__main__":
    main()
