#!/usr/bin/env bash
# The Wine harness. Source it, then call wine_up before and wine_down after a run:
#   a private WINEPREFIX inside the build tree, initialised once and reused;
#   the zh_CN.UTF-8 locale (ANSI code page 936) and a CJK GUI font;
#   an Xvfb display of our own on a free display number;
#   a persistent wineserver, so each Wine process starts in a few milliseconds.
# A stale wineserver or Xvfb left by an earlier run is ended first.

CORVALEN_ROOT=${CORVALEN_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
CORVALEN_BUILD=${CORVALEN_BUILD:-$CORVALEN_ROOT/build}
export WINEPREFIX=${WINEPREFIX:-$CORVALEN_BUILD/wineprefix}
export WINEDEBUG=-all
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=zh_CN.UTF-8
export LC_ALL=zh_CN.UTF-8

_xvfb_pidfile() { echo "$CORVALEN_BUILD/xvfb.pid"; }

# Registry: map the Chinese UI font names to WenQuanYi Micro Hei so that the
# default GUI font shows Chinese, and keep Wine from opening its own desktop.
_wine_font_reg() {
  local reg="$CORVALEN_BUILD/wine-fonts.reg"
  cat > "$reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"MS Shell Dlg"="WenQuanYi Micro Hei"
"MS Shell Dlg 2"="WenQuanYi Micro Hei"
"Tahoma"="WenQuanYi Micro Hei"
"SimSun"="WenQuanYi Micro Hei"
"NSimSun"="WenQuanYi Micro Hei"
"MS Sans Serif"="WenQuanYi Micro Hei"
"Microsoft YaHei"="WenQuanYi Micro Hei"
"宋体"="WenQuanYi Micro Hei"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
  wine regedit /S "$(winepath -w "$reg" 2>/dev/null || echo "$reg")" >/dev/null 2>&1 || true
}

wine_prefix_ready() { [ -f "$WINEPREFIX/.corvalen-ready" ]; }

# Kills whatever an earlier run left behind for our prefix and display.
wine_clean_stale() {
  wineserver -k >/dev/null 2>&1 || true
  local pidfile; pidfile=$(_xvfb_pidfile)
  if [ -f "$pidfile" ]; then
    kill "$(cat "$pidfile")" >/dev/null 2>&1 || true
    rm -f "$pidfile"
  fi
}

_free_display() {
  local n
  for n in $(seq 91 140); do
    if [ -e "/tmp/.X$n-lock" ]; then
      local pid; pid=$(tr -d ' ' < "/tmp/.X$n-lock" 2>/dev/null)
      if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then continue; fi
      rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
    fi
    echo "$n"; return 0
  done
  return 1
}

# CORVALEN_DISPLAY names a display to use instead of a private Xvfb (the run
# command passes the desktop's, so a person sees the window).
xvfb_up() {
  if [ -n "${CORVALEN_DISPLAY:-}" ]; then
    export DISPLAY=$CORVALEN_DISPLAY
    return 0
  fi
  local n; n=$(_free_display) || { echo "wine-env: no free X display" >&2; return 1; }
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  echo $! > "$(_xvfb_pidfile)"
  export DISPLAY=":$n"
  local i
  for i in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && return 0
    sleep 0.05
  done
  echo "wine-env: Xvfb did not start on :$n" >&2
  return 1
}

wine_up() {
  mkdir -p "$CORVALEN_BUILD"
  wine_clean_stale
  xvfb_up || return 1
  if ! wine_prefix_ready; then
    echo "wine-env: initialising $WINEPREFIX" >&2
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    _wine_font_reg
    wineserver -w
    touch "$WINEPREFIX/.corvalen-ready"
  fi
  wineserver -p
  wine cmd /c echo >/dev/null 2>&1 || true
}

wine_down() {
  wineserver -k >/dev/null 2>&1 || true
  local pidfile; pidfile=$(_xvfb_pidfile)
  if [ -f "$pidfile" ]; then
    kill "$(cat "$pidfile")" >/dev/null 2>&1 || true
    rm -f "$pidfile"
  fi
}
