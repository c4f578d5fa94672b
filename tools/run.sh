#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the program under Wine
# with a local content server (the sample channel list) and a local PHP fetch
# server that the sample's first channels point at. The window appears on the
# desktop when DISPLAY names one, otherwise on a private virtual display.
# Close the window (or press Ctrl+C) to end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" = 0 ] && bash "$root/tools/setup.sh"
bash "$root/tools/build.sh"

source "$root/tools/wine-env.sh"

# The dev content server with the sample channel list, on the address the
# build was configured with, when that address is a local one.
content_pid=
fetch_pid=
content=$(sed -n 's/^CORVALEN_CONTENT_SERVER:STRING=//p' "$root/build/windows/CMakeCache.txt")
content_host=${content%%:*}
content_port=${content#"$content_host"}; content_port=${content_port#:}; content_port=${content_port:-80}
stop_all() {
  [ -n "$content_pid" ] && kill "$content_pid" 2>/dev/null
  [ -n "$fetch_pid" ] && kill -- "-$fetch_pid" 2>/dev/null
  wine_down
}
trap stop_all EXIT

# The fetch server of the sample channels: fetchserver/ on php -S with several
# workers. It may reach local sites too, so the tunnel can be tried on one machine.
CORVALEN_FETCH_ALLOW_PRIVATE=1 PHP_CLI_SERVER_WORKERS=4 \
  setsid php -S 127.0.0.1:18081 -t "$root/fetchserver" >/dev/null 2>&1 &
fetch_pid=$!
if [ "$content_host" = 127.0.0.1 ] || [ "$content_host" = localhost ]; then
  python3 "$root/tools/content_server.py" --root "$root/tools/content" --host "$content_host" --port "$content_port" &
  content_pid=$!
else
  echo "run: the build uses the content server $content; no local one is started"
fi
export CORVALEN_DISPLAY=${DISPLAY:-}
wine_up
echo "run: the program runs on DISPLAY=$DISPLAY (a picture of it: DISPLAY=$DISPLAY import -window root shot.png)"
echo "run: pick a channel, press 使用, then browse with the proxy 127.0.0.1:8088, e.g."
echo "     curl -x http://127.0.0.1:8088 http://127.0.0.1:18080/corvalen/list.txt"
# The program is run from a folder of its own, as a user installs it.
install="$CORVALEN_BUILD/run"
mkdir -p "$install"
cp "$root/build/windows/app/shell/CorvalenProxy.exe" "$install/"
(cd "$install" && wine ./CorvalenProxy.exe)
