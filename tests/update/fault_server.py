#!/usr/bin/env python3
"""A content server for the update tests: serves the files under --root over
plain HTTP on a loopback port and misbehaves on request.

Per request, by path prefix (the rest of the path names a file under --root):
  /404/...       answers 404 with a small HTML page
  /half/...      announces the whole length, sends half the body, closes
  /gzip/...      sends the body gzip-compressed with Content-Encoding: gzip
  /nolength/...  sends the body without Content-Length and closes
For the fixed address of the program, --fault applies one of these to
/corvalen/update.exe. --rate limits every body to that many bytes a second;
--delay holds back the body of /corvalen/update.exe for a while after its headers.

The chosen port is printed as "port=N" on the first line of stdout. The server
ends by itself after --lifetime seconds, or when stdin closes."""
import argparse
import gzip
import http.server
import os
import socketserver
import sys
import threading
import time

FAULTS = ("404", "half", "gzip", "nolength")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write("fault_server: " + fmt % args + "\n")

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        fault = None
        first = path.lstrip("/").split("/", 1)[0]
        if first in FAULTS:
            fault = first
            path = path[len(first) + 1:]
        elif path == "/corvalen/update.exe" and self.server.fault:
            fault = self.server.fault
        self.server.requests.append(self.path)
        local = os.path.normpath(os.path.join(self.server.root, path.lstrip("/")))
        if fault == "404" or not local.startswith(self.server.root) or not os.path.isfile(local):
            return self.send_plain(404, b"<html><body>404 Not Found</body></html>")
        with open(local, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if fault == "gzip":
            body = gzip.compress(body)
            self.send_header("Content-Encoding", "gzip")
        if fault == "nolength":
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.server.delay and path == "/corvalen/update.exe":
            self.wfile.flush()
            time.sleep(self.server.delay)
        if fault == "half":
            self.send_body(body[: len(body) // 2])
            self.close_connection = True
            return
        self.send_body(body)

    def send_plain(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def send_body(self, body):
        rate = self.server.rate
        if not rate:
            self.wfile.write(body)
            return
        chunk = max(1, rate // 20)
        for i in range(0, len(body), chunk):
            self.wfile.write(body[i:i + chunk])
            self.wfile.flush()
            time.sleep(0.05)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--fault", choices=FAULTS)
    p.add_argument("--rate", type=int, default=0, help="bytes per second, 0 = unlimited")
    p.add_argument("--delay", type=float, default=0, help="seconds between the headers and the body of update.exe")
    p.add_argument("--lifetime", type=float, default=120)
    p.add_argument("--verbose", action="store_true")
    a = p.parse_args()
    server = Server(("127.0.0.1", a.port), Handler)
    server.root = os.path.abspath(a.root)
    server.fault = a.fault
    server.rate = a.rate
    server.delay = a.delay
    server.verbose = a.verbose
    server.requests = []
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("port=%d" % server.server_address[1], flush=True)
    # Ends when the lifetime is over or the parent closes our stdin.
    stop = threading.Event()
    threading.Thread(target=lambda: (sys.stdin.read(), stop.set()), daemon=True).start()
    stop.wait(a.lifetime)
    server.shutdown()
    server.server_close()


if __name__ == "__main__":
    main()
