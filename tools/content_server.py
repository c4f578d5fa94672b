#!/usr/bin/env python3
"""Dev content server: serves a folder laid out like the real content server.

    python3 tools/content_server.py [--root tools/content] [--host 127.0.0.1] [--port 18080]

The folder holds corvalen/list.txt (the channel list), and may hold
corvalen/md5.txt and corvalen/update.exe. Files go out unchanged, with
Content-Length and without content encoding; a missing file is a 404.
With --port 0 a free port is chosen. The first line printed is
"serving ROOT on HOST:PORT".
"""

import argparse
import functools
import http.server
import os
import signal
import sys


class ContentHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {"": "application/octet-stream", ".txt": "text/plain", ".exe": "application/octet-stream"}

    def log_message(self, fmt, *args):
        if self.server.verbose:
            super().log_message(fmt, *args)

    def list_directory(self, path):
        self.send_error(404, "No listing")
        return None


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(here, "content"))
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=18080)
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()

    root = os.path.abspath(args.root)
    handler = functools.partial(ContentHandler, directory=root)
    server = http.server.ThreadingHTTPServer((args.host, args.port), handler)
    server.daemon_threads = True
    server.verbose = args.verbose
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("serving %s on %s:%d" % (root, args.host, server.server_address[1]), flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except (KeyboardInterrupt, SystemExit):
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
