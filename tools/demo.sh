#!/usr/bin/env bash
# The library's main job, end to end: a desktop picture is shown on a virtual
# screen, and a host program asks the real zadized.dll, under Wine, where
# templates are: in pattern, shape and tolerance mode, in every scan order and
# with skip counts. Then zadized-find, the template tester, searches the same
# picture file and writes it with the found places outlined.
# Installs what is missing first (Debian 12, as root).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/setup.sh >/dev/null
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win32 --target zadized find_demo >/dev/null
cmake -S . -B build/demo-native -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/demo-native --target zadized-find >/dev/null

source tools/virtual_display.sh
start_virtual_display 1024x768x24
export WINEPREFIX="$root/build/wineprefix"
trap 'tools/wine/run --stop >/dev/null 2>&1; kill $virtual_display_pid 2>/dev/null' EXIT

out=$root/build/demo
mkdir -p "$out"
win() { printf 'Z:%s' "${1//\//\\}"; }

echo "== The DLL under Wine, on a virtual 1024x768 screen showing tools/demo/desktop.bmp"
tools/wine/run build/win32/find_demo.exe "$(win "$root/build/win32/zadized.dll")" \
  "$(win "$root/tools/demo/desktop.bmp")" "$(win "$out")"

echo
echo "== zadized-find on the picture file itself (no screen): the inverted folder icon"
find=build/demo-native/zadized-find
"$find" tools/demo/desktop.bmp "$out/zadized-demo-folder.bmp" --all --mark "$out/folders-found.bmp" || true
echo
echo "== zadized-find, shape mode: the letter Z as a red shape, found in any uniform colour"
"$find" tools/demo/desktop.bmp "$out/zadized-demo-z.bmp" --color 0xFF0000 | grep -E '^(color|found)' || true
echo "== zadized-find, tolerance mode: the close button, exact colour at its top-left corner"
"$find" tools/demo/desktop.bmp "$out/zadized-demo-close.bmp" --color 0x10000000 | grep -E '^(color|found)' || true
echo
echo "== zadized-find --explain: why the icon is not accepted one pixel to the right of a sighting"
"$find" tools/demo/desktop.bmp "$out/zadized-demo-folder.bmp" --explain 25,24 || true
echo
echo "Outlined picture: $out/folders-found.bmp"
