#!/usr/bin/env bash
# Configures and builds both trees: build/windows (MinGW, the real executables
# and Windows tests) and build/native (portable code with sanitizers).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-$(nproc)}
extra=("$@")
cmake -S "$root" -B "$root/build/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${extra[@]}" >/dev/null
cmake -S "$root" -B "$root/build/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" "${extra[@]}" >/dev/null
ninja -C "$root/build/native" -j "$jobs"
ninja -C "$root/build/windows" -j "$jobs"
