#!/usr/bin/env python3
"""A real browser through the tunnel: Debian's headless Chromium, with the
proxy's local CA in an NSS database of its own, loads a local HTTP page and a
local HTTPS page through python27.exe (under Wine) and the PHP fetch server;
the rendered text is checked and a screenshot of each page kept.

Usage: https_chromium_test.py PATH/TO/python27.exe SHOT_DIR   (after wine_up)
"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chromium_pages import load_pages  # noqa: E402
from tunnel_stack import Stack  # noqa: E402


def main():
    exe, shots = sys.argv[1], sys.argv[2]
    failed = 0
    with tempfile.TemporaryDirectory(prefix="corvalen-chromium-") as tmp, Stack(exe, tmp) as st:
        pages = [
            ("http://127.0.0.1:%d/page.html" % st.http.port, "HTTP target page /page.html", "tunnel-http.png"),
            ("https://localhost:%d/page.html" % st.https.port, "HTTPS target page /page.html", "tunnel-https.png"),
        ]
        for url, ok, excerpt in load_pages(st.port, st.local_ca, pages, shots):
            print(("ok: " if ok else "FAILED: ") + "Chromium renders " + url + "\n  " + excerpt[:300])
            failed += not ok
        # Without the CA the HTTPS page must not render.
        [(url, _, dom)] = load_pages(st.port, None, pages[1:2], os.path.join(tmp, "untrusted"))
        untrusted_ok = "HTTPS target page" not in dom
        print(("ok: " if untrusted_ok else "FAILED: ") + "Chromium without the CA does not render " + url)
        failed += not untrusted_ok
    if failed:
        sys.exit(1)
    print("Chromium tunnel checks passed; screenshots in " + shots)


if __name__ == "__main__":
    main()
