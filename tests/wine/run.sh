#!/usr/bin/env bash
# Runs one Windows test program through tools/wine/run (Wine, with the 32-bit
# process emulated where the kernel cannot run 32-bit code). Uses the display
# in DISPLAY, or starts a virtual one for itself.
set -u
here=$(cd "$(dirname "$0")" && pwd)
exe=$1
dll=$2
data=${3:-}
if [ -z "${DISPLAY:-}" ]; then
  source "$here/../../tools/virtual_display.sh"
  start_virtual_display 1024x768x24 91 120
  trap 'kill $virtual_display_pid 2>/dev/null' EXIT
fi
"$here/../../tools/wine/run" "$exe" "$dll" "$data"
