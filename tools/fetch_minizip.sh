#!/usr/bin/env bash
# Fetches the minizip sources (contrib/minizip of Debian's zlib source package)
# into a folder of the build tree:
#   tools/fetch_minizip.sh DEST      ->  DEST/minizip/{unzip.c,ioapi.c,iowin32.c,...}
# MinGW's zlib comes from libz-mingw-w64-dev; minizip is not packaged for MinGW,
# so the build compiles these sources itself. apt-get runs with a private sources
# list and private package lists under DEST; the machine's apt configuration is
# neither read for packages nor changed. Nothing is done when DEST already holds
# the checked sources.
set -euo pipefail

dest=${1:?usage: fetch_minizip.sh DEST}
version='1:1.2.13.dfsg-1'
dsc=zlib_1.2.13.dfsg-1.dsc
dsc_sha256=3fa1e6b2fc525062aa88207dda52fed8e045373c809d362fe8a2bfbf7cf515a8
orig=zlib_1.2.13.dfsg.orig.tar.bz2
orig_sha256=71feb7947e3c00ef125f83b79a4e529bde31171e5babe48b391f06758d1ab0a1
stamp="$dest/minizip/.fetched-$orig_sha256"

[ -f "$stamp" ] && exit 0

# The Debian mirror the machine already uses (deb822 or one-line format).
mirror=${CORVALEN_DEBIAN_MIRROR:-}
if [ -z "$mirror" ]; then
  for f in /etc/apt/sources.list.d/*.sources /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    mirror=$(awk '
      /^[[:space:]]*URIs:/ { for (i = 2; i <= NF; i++) if ($i ~ /\/debian\/?$/) { print $i; exit } }
      /^[[:space:]]*deb(-src)?[[:space:]]/ { for (i = 2; i <= NF; i++) if ($i ~ /\/debian\/?$/) { print $i; exit } }
    ' "$f")
    [ -n "$mirror" ] && break
  done
fi
mirror=${mirror:-http://deb.debian.org/debian}

work="$dest/apt"
rm -rf "$work"
mkdir -p "$work/lists/partial" "$work/parts" "$work/cache/archives/partial" "$work/download"
echo "deb-src $mirror bookworm main" > "$work/sources.list"
apt_opts=(
  -o "Dir::Etc::sourcelist=$work/sources.list"
  -o "Dir::Etc::sourceparts=$work/parts"
  -o "Dir::State::Lists=$work/lists"
  -o "Dir::Cache=$work/cache"
  -o "APT::Sandbox::User=root"
  -qq
)

echo "fetch_minizip: zlib $version source from $mirror" >&2
apt-get "${apt_opts[@]}" update >/dev/null
(cd "$work/download" && apt-get "${apt_opts[@]}" source --download-only "zlib=$version" >/dev/null)

check() {
  local file=$1 want=$2 got
  got=$(sha256sum "$work/download/$file" | cut -d' ' -f1)
  if [ "$got" != "$want" ]; then
    echo "fetch_minizip: $file has sha256 $got, expected $want" >&2
    exit 1
  fi
}
check "$dsc" "$dsc_sha256"
check "$orig" "$orig_sha256"
# The orig tarball's hash is also the one the signed .dsc lists.
grep -q " $orig_sha256 [0-9]* $orig\$" "$work/download/$dsc" || {
  echo "fetch_minizip: $dsc does not list $orig with the expected hash" >&2
  exit 1
}

rm -rf "$dest/minizip"
mkdir -p "$dest/minizip"
tar --no-same-owner -xjf "$work/download/$orig" -C "$dest/minizip" --strip-components=3 \
  --wildcards 'zlib-*/contrib/minizip/*'
for f in unzip.c unzip.h ioapi.c ioapi.h iowin32.c iowin32.h crypt.h; do
  [ -f "$dest/minizip/$f" ] || { echo "fetch_minizip: $f missing from $orig" >&2; exit 1; }
done
rm -rf "$work"
touch "$stamp"
