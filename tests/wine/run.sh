#!/usr/bin/env bash
# Runs one Windows test program under Wine with a prefix of its own in the
# build tree. Uses the display in DISPLAY, or starts a virtual one for itself.
set -u
exe=$1
dll=$2
shared=${3:-}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$exe")" && pwd)/wineprefix}
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill $xvfb 2>/dev/null' EXIT
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
fi
wine "$exe" "$dll" "$shared"
