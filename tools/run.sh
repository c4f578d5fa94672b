#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the program under Wine
# on a virtual display. Close the window (or press Ctrl+C) to end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" = 0 ] && bash "$root/tools/setup.sh"
bash "$root/tools/build.sh"

source "$root/tools/wine-env.sh"

# The dev content server with the sample channel list, on the address the
# build was configured with, when that address is a local one.
content_pid=
content=$(sed -n 's/^CORVALEN_CONTENT_SERVER:STRING=//p' "$root/build/windows/CMakeCache.txt")
content_host=${content%%:*}
content_port=${content#"$content_host"}; content_port=${content_port#:}; content_port=${content_port:-80}
stop_all() {
  [ -n "$content_pid" ] && kill "$content_pid" 2>/dev/null
  wine_down
}
trap stop_all EXIT
if [ "$content_host" = 127.0.0.1 ] || [ "$content_host" = localhost ]; then
  python3 "$root/tools/content_server.py" --root "$root/tools/content" --host "$content_host" --port "$content_port" &
  content_pid=$!
else
  echo "run: the build uses the content server $content; no local one is started"
fi
wine_up
echo "run: the program runs on DISPLAY=$DISPLAY (look at it with: DISPLAY=$DISPLAY import -window root shot.png)"
# The program is run from a folder of its own, as a user installs it.
install="$CORVALEN_BUILD/run"
mkdir -p "$install"
cp "$root/build/windows/app/shell/CorvalenProxy.exe" "$install/"
(cd "$install" && wine ./CorvalenProxy.exe)
