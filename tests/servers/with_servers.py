"""Runs one test command with the test servers up, then stops them.

    python3 with_servers.py [--content-server SCRIPT] -- COMMAND...

The command finds the servers through the environment:
  CORVALEN_TEST_HTTP     host:port of the recording server
  CORVALEN_TEST_HTTPS    host:port of the same server behind TLS (self-signed certificate)
  CORVALEN_TEST_PROXY    host:port of the forward proxy
  CORVALEN_TEST_CLOSED   host:port where nothing listens
  CORVALEN_TEST_CONTENT  host:port of the dev content server (with --content-server)
  CORVALEN_TEST_CONTENT_DIR  its root folder, as a Windows path (Z:\\...) for Wine
The command's exit status is ours; it is given at most 240 s.
"""

import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import http_servers  # noqa: E402


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def start_content_server(script, root):
    proc = subprocess.Popen([sys.executable, script, "--root", root, "--port", "0"],
                            stdout=subprocess.PIPE, text=True)
    line = proc.stdout.readline()  # "serving ROOT on HOST:PORT"
    if not line.startswith("serving "):
        proc.kill()
        raise RuntimeError("content server did not start: %r" % line)
    return proc, line.split()[-1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--content-server")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command")

    with tempfile.TemporaryDirectory(prefix="corvalen-servers-") as folder:
        plain = http_servers.start_recording()
        secure = http_servers.start_https(folder)
        proxy = http_servers.start_proxy()
        env = dict(os.environ)
        env["CORVALEN_TEST_HTTP"] = plain.address
        env["CORVALEN_TEST_HTTPS"] = secure.address
        env["CORVALEN_TEST_PROXY"] = proxy.address
        env["CORVALEN_TEST_CLOSED"] = "127.0.0.1:%d" % http_servers.closed_port()
        content = None
        if args.content_server:
            root = os.path.join(folder, "content")
            os.makedirs(os.path.join(root, "corvalen"))
            content, address = start_content_server(args.content_server, root)
            env["CORVALEN_TEST_CONTENT"] = address
            env["CORVALEN_TEST_CONTENT_DIR"] = wine_path(root)
        try:
            return subprocess.run(command, env=env, timeout=240).returncode
        except subprocess.TimeoutExpired:
            print("with_servers: the command took longer than 240 s", file=sys.stderr)
            return 1
        finally:
            if content:
                content.terminate()
                content.wait(timeout=10)
            for server in (plain, secure, proxy):
                server.shutdown()
                server.server_close()


if __name__ == "__main__":
    sys.exit(main())
