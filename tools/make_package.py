#!/usr/bin/env python3
"""Packs the tunnel service package: a deflate-compressed ZIP archive with every
entry at its root.

    make_package.py OUT.zip NAME=PATH ... FOLDER/ ...

NAME=PATH adds the file PATH as entry NAME; an argument ending in "/" adds a
folder entry. Entries keep the order given. Times are fixed, so the same inputs
give the same archive byte for byte. The archive is written next to OUT and
renamed into place, so a failed run leaves no partial archive behind.
"""
import os
import sys
import zipfile

FIXED_TIME = (2023, 10, 24, 0, 0, 0)
DOS_DIRECTORY = 0x10
DOS_ARCHIVE = 0x20


def add_file(archive, name, path):
    with open(path, "rb") as f:
        data = f.read()
    info = zipfile.ZipInfo(name, FIXED_TIME)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 0  # MS-DOS attributes
    info.external_attr = DOS_ARCHIVE
    archive.writestr(info, data, compresslevel=9)


def add_folder(archive, name):
    info = zipfile.ZipInfo(name, FIXED_TIME)
    info.compress_type = zipfile.ZIP_STORED
    info.create_system = 0
    info.external_attr = DOS_DIRECTORY
    archive.writestr(info, b"")


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    out = argv[1]
    names = set()
    tmp = out + ".tmp"
    try:
        with zipfile.ZipFile(tmp, "w") as archive:
            for arg in argv[2:]:
                if arg.endswith("/") and "=" not in arg:
                    name = arg
                    add = lambda: add_folder(archive, name)
                else:
                    name, sep, path = arg.partition("=")
                    if not sep or not name or not path:
                        sys.exit(f"make_package: bad argument {arg!r}")
                    if not os.path.isfile(path) or os.path.getsize(path) == 0:
                        sys.exit(f"make_package: {path} is missing or empty")
                    add = lambda: add_file(archive, name, path)
                if "/" in name.rstrip("/") or "\\" in name or name in names:
                    sys.exit(f"make_package: entry {name!r} is not a new name at the archive root")
                names.add(name)
                add()
        os.replace(tmp, out)
    finally:
        if os.path.exists(tmp):
            os.remove(tmp)


if __name__ == "__main__":
    main(sys.argv)
