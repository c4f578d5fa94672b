#!/usr/bin/env bash
# Fetches one Debian source package and unpacks it, without touching the
# machine's apt configuration:
#   tools/debian-source.sh PACKAGE VERSION SHA256 DEST
# PACKAGE and VERSION pin the source package (e.g. mbedtls 2.28.3-1); SHA256 is
# the SHA-256 of its .dsc file. The .dsc lists the SHA-256 of every other file of
# the package (orig tarball, Debian tarball), and each is checked against it, so
# the one pinned hash covers the whole source. DEST receives the unpacked tree
# (Debian patches applied). A DEST already unpacked from the same pin is kept.
#
# The private apt state lives beside DEST (DEST.apt/); the Debian mirror is the
# one the machine already uses (CORVALEN_DEBIAN_MIRROR overrides it). Needs
# apt-get and dpkg-source (dpkg-dev).
set -euo pipefail

if (($# != 4)); then
  echo "usage: $0 PACKAGE VERSION SHA256 DEST" >&2
  exit 2
fi
package=$1 version=$2 want_sha=$3 dest=$4
stamp="$package $version $want_sha"

if [ -f "$dest/.debian-source" ] && [ "$(cat "$dest/.debian-source")" = "$stamp" ]; then
  exit 0
fi

work="$dest.apt"
rm -rf "$work" "$dest"
mkdir -p "$work/lists/partial" "$work/parts" "$work/download"
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
printf 'deb-src %s bookworm main\ndeb-src %s bookworm-updates main\n' "$mirror" "$mirror" > "$work/sources.list"
apt_opts=(
  -o "Dir::Etc::sourcelist=$work/sources.list"
  -o "Dir::Etc::sourceparts=$work/parts"
  -o "Dir::State::Lists=$work/lists"
  -o "Dir::Cache=$work/cache"
  -o "Debug::NoLocking=1"
  -o "APT::Sandbox::User=root"
)
mkdir -p "$work/cache/archives/partial"
echo "debian-source: fetching $package $version" >&2
apt-get -qq "${apt_opts[@]}" update >/dev/null
(cd "$work/download" && apt-get -qq "${apt_opts[@]}" source --download-only "$package=$version" >/dev/null)

# The epoch (if any) is not part of the file names.
file_version=${version#*:}
dsc="$work/download/${package}_${file_version}.dsc"
if [ ! -f "$dsc" ]; then
  echo "debian-source: $dsc was not downloaded" >&2
  exit 1
fi
got_sha=$(sha256sum "$dsc" | cut -d' ' -f1)
if [ "$got_sha" != "$want_sha" ]; then
  echo "debian-source: SHA-256 of $(basename "$dsc") is $got_sha, expected $want_sha" >&2
  exit 1
fi

# Every file the .dsc names must match the hash it gives there.
listed=0
while read -r sha size name; do
  [ -n "$name" ] || continue
  file="$work/download/$name"
  if [ ! -f "$file" ] || [ "$(sha256sum "$file" | cut -d' ' -f1)" != "$sha" ] ||
     [ "$(stat -c %s "$file")" != "$size" ]; then
    echo "debian-source: $name does not match the hash in the .dsc" >&2
    exit 1
  fi
  listed=$((listed + 1))
done < <(sed -n '/^Checksums-Sha256:/,/^[^ ]/{/^ /p}' "$dsc")
if ((listed == 0)); then
  echo "debian-source: the .dsc lists no SHA-256 checksums" >&2
  exit 1
fi

dpkg-source --no-check --no-copy -x "$dsc" "$dest" >/dev/null
echo "$stamp" > "$dest/.debian-source"
rm -rf "$work"
echo "debian-source: $package $version unpacked into $dest" >&2
