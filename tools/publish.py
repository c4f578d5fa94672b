#!/usr/bin/env python3
"""Lays out a content-server folder from a build of the main program:

    publish.py --exe build/windows/app/shell/CorvalenProxy.exe --out DIR [--list list.txt]

writes DIR/corvalen/update.exe (the program, byte for byte), DIR/corvalen/md5.txt
(its MD5 digest: exactly 32 upper-case hex characters, nothing else) and
DIR/corvalen/list.txt (the given channel list, else tools/content/corvalen/list.txt
when that exists)."""
import argparse
import hashlib
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_LIST = os.path.join(HERE, "content", "corvalen", "list.txt")


def publish(exe, out, channel_list=None):
    # Everything is checked before anything is written.
    with open(exe, "rb") as f:
        image = f.read()
    if image[:2] != b"MZ":
        raise SystemExit("publish: %s is not a Windows executable" % exe)
    if channel_list and not os.path.isfile(channel_list):
        raise SystemExit("publish: channel list %s not found" % channel_list)
    source = channel_list or (DEFAULT_LIST if os.path.isfile(DEFAULT_LIST) else None)
    folder = os.path.join(out, "corvalen")
    os.makedirs(folder, exist_ok=True)
    # The program before its digest: a client never sees a digest without its program.
    with open(os.path.join(folder, "update.exe"), "wb") as f:
        f.write(image)
    digest = hashlib.md5(image).hexdigest().upper()
    with open(os.path.join(folder, "md5.txt"), "wb") as f:
        f.write(digest.encode("ascii"))
    if source:
        shutil.copyfile(source, os.path.join(folder, "list.txt"))
    return digest


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--exe", required=True, help="the main program to publish")
    p.add_argument("--out", required=True, help="the content server's folder")
    p.add_argument("--list", help="the channel list to publish")
    a = p.parse_args()
    digest = publish(a.exe, a.out, a.list)
    print("published %s (md5 %s) to %s" % (a.exe, digest, os.path.join(a.out, "corvalen")))


if __name__ == "__main__":
    sys.exit(main())
