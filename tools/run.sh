#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the program under Wine
# on a virtual display. Close the window (or press Ctrl+C) to end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" = 0 ] && bash "$root/tools/setup.sh"
bash "$root/tools/build.sh"

source "$root/tools/wine-env.sh"
trap wine_down EXIT
wine_up
echo "run: the program runs on DISPLAY=$DISPLAY (look at it with: DISPLAY=$DISPLAY import -window root shot.png)"
# The program is run from a folder of its own, as a user installs it.
install="$CORVALEN_BUILD/run"
mkdir -p "$install"
cp "$root/build/windows/app/shell/CorvalenProxy.exe" "$install/"
(cd "$install" && wine ./CorvalenProxy.exe)
