#!/usr/bin/env bash
# The whole suite on a fresh Debian 12 machine: installs what is missing, builds
# both trees, runs the native unit tests, then the Windows tests under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" = 0 ] && bash "$root/tools/setup.sh"
bash "$root/tools/build.sh"

source "$root/tools/wine-env.sh"
trap wine_down EXIT
wine_up

status=0
(cd "$root/build/native" && ctest --output-on-failure -j "$(nproc)" </dev/null) || status=1
# Wine tests run one at a time: GUI tests share the display and the service ports.
# A failed test runs once more: now and then Wine fails to start a test program
# at all (it ends at once, printing nothing); a real failure fails twice.
(cd "$root/build/windows" && ctest --output-on-failure --timeout 600 --repeat until-pass:2 </dev/null) || status=1
exit $status
