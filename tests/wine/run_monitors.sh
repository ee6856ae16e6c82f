#!/usr/bin/env bash
# Runs one Windows test program on a display of two monitors (Xorg with the
# dummy video driver; see start_monitor_display). Wine reads the monitor
# layout when its server starts, so the program gets a prefix of its own,
# whose server is stopped again afterwards with the display.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../tools/virtual_display.sh"
start_monitor_display || { echo "run_monitors: could not lay out two monitors"; exit 1; }
export WINEPREFIX="${WINEPREFIX:-/tmp/zadized-wine/prefix}-monitors"
stop() {
  "$here/../../tools/wine/run" --stop >/dev/null 2>&1
  kill "$monitor_display_pid" 2>/dev/null
}
trap stop EXIT
"$here/../../tools/wine/run" "$@"
