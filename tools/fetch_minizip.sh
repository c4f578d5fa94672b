#!/usr/bin/env bash
# Fetches the minizip sources (contrib/minizip of Debian's zlib source package)
# into a folder of the build tree:
#   tools/fetch_minizip.sh DEST      ->  DEST/minizip/{unzip.c,ioapi.c,iowin32.c,...}
# MinGW's zlib comes from libz-mingw-w64-dev; minizip is not packaged for MinGW,
# so the build compiles these sources itself. The source package is pinned and
# checked by tools/debian-source.sh. Nothing is done when DEST already holds them.
set -euo pipefail

dest=${1:?usage: fetch_minizip.sh DEST}
version='1:1.2.13.dfsg-1'
dsc_sha256=3fa1e6b2fc525062aa88207dda52fed8e045373c809d362fe8a2bfbf7cf515a8
stamp="$dest/minizip/.fetched-$dsc_sha256"

[ -f "$stamp" ] && exit 0

src="$dest/zlib-source"
bash "$(dirname "$0")/debian-source.sh" zlib "$version" "$dsc_sha256" "$src"
rm -rf "$dest/minizip"
mkdir -p "$dest/minizip"
cp -r "$src/contrib/minizip/." "$dest/minizip/"
for f in unzip.c unzip.h ioapi.c ioapi.h iowin32.c iowin32.h crypt.h; do
  [ -f "$dest/minizip/$f" ] || { echo "fetch_minizip: $f missing from the zlib source" >&2; exit 1; }
done
touch "$stamp"
