#!/usr/bin/env bash
# Runs one Windows test program through tools/wine/run (Wine, with the 32-bit
# process emulated where the kernel cannot run 32-bit code). Uses the display
# in DISPLAY, or starts a virtual one for itself.
set -u
here=$(cd "$(dirname "$0")" && pwd)
exe=$1
dll=$2
shared=${3:-}
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
"$here/../../tools/wine/run" "$exe" "$dll" "$shared"
