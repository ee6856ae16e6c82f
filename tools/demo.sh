#!/usr/bin/env bash
# The library's main job, end to end: a desktop picture is shown on a virtual
# screen, and a host program asks the real zadized.dll, under Wine, where
# templates are: in pattern, shape and tolerance mode, in every scan order and
# with skip counts; a 32-bit host the 32-bit DLL, then a 64-bit host the
# 64-bit DLL. Then zadized-find, the template tester, searches the same
# picture file and writes it with the found places outlined, and the Windows
# zadized-find.exe cuts a template from the live screen and finds it there.
# tools/demo.sh --guide also refreshes the guide's pictures (docs/images).
# Installs what is missing first (Debian 12, as root).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/setup.sh >/dev/null
cmake --no-warn-unused-cli -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win32 --target zadized find_demo zadized-find >/dev/null
cmake --no-warn-unused-cli -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win64 --target zadized find_demo >/dev/null
cmake -S . -B build/demo-native -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/demo-native --target zadized-find >/dev/null

source tools/virtual_display.sh
start_virtual_display 1024x768x24
export WINEPREFIX="$root/build/wineprefix"
trap 'tools/wine/run --stop >/dev/null 2>&1; kill $virtual_display_pid 2>/dev/null' EXIT

out=$root/build/demo
mkdir -p "$out"
win() { printf 'Z:%s' "${1//\//\\}"; }

echo "== The 32-bit DLL under Wine, on a virtual 1024x768 screen showing tools/demo/desktop.bmp"
# The host keeps the picture shown for a while after its searches, so that
# the template can be cut from the live screen below.
rm -f "$out/host.log"
tools/wine/run build/win32/find_demo.exe "$(win "$root/build/win32/zadized.dll")" \
  "$(win "$root/tools/demo/desktop.bmp")" "$(win "$out")" 20 >"$out/host.log" 2>&1 &
host=$!
for _ in $(seq 600); do grep -qE '^(all as expected|some results)' "$out/host.log" 2>/dev/null && break; sleep 0.5; done
cat "$out/host.log"

echo
echo "== A template made from the live screen and tried there: zadized-find.exe --grab, then --screen"
tools/wine/run build/win32/zadized-find.exe --grab 698,205,711,218 "$(win "$out/close-grabbed.png")" || true
tools/wine/run build/win32/zadized-find.exe --screen "$(win "$out/close-grabbed.png")" --color 0x10000000 |
  grep -E '^(template|found|not found)' || true
wait "$host" || true

echo
echo "== The same searches through the 64-bit DLL, from a 64-bit host"
tools/wine/run build/win64/find_demo.exe "$(win "$root/build/win64/zadized.dll")" \
  "$(win "$root/tools/demo/desktop.bmp")" "$(win "$out")" 2>&1 || true

echo
echo "== zadized-find on the picture file itself (no screen): the inverted folder icon, from its PNG file"
find=build/demo-native/zadized-find
"$find" tools/demo/desktop.bmp "$out/zadized-demo-folder.png" --all --mark "$out/pattern-found.png" || true
echo
echo "== zadized-find, shape mode: the letter Z as a red shape, found in any uniform colour"
"$find" tools/demo/desktop.bmp "$out/zadized-demo-z.bmp" --color 0xFF0000 --all --mark "$out/shape-found.png" |
  grep -E '^(color|found)' || true
echo "== zadized-find, tolerance mode: the close button, exact colour at its top-left corner"
"$find" tools/demo/desktop.bmp "$out/zadized-demo-close.bmp" --color 0x10000000 --all \
  --mark "$out/tolerance-found.png" | grep -E '^(color|found)' || true
echo
echo "== zadized-find --explain: why the icon is not accepted one pixel to the right of a sighting"
"$find" tools/demo/desktop.bmp "$out/zadized-demo-folder.bmp" --explain 25,24 || true

# One picture per mode for the guide: the template (enlarged four times) beside
# the screen with every accepted place outlined (the returned one in green).
for mode in pattern:folder shape:z tolerance:close; do
  name=${mode%%:*}
  convert "$out/zadized-demo-${mode#*:}.bmp" -scale 400% -bordercolor white -border 8 "$out/$name-template.png"
  convert "$out/$name-template.png" "$out/$name-found.png" -background white -gravity north +append \
    "$out/guide-$name.png"
done
if [ "${1:-}" = --guide ]; then
  mkdir -p docs/images
  for name in pattern shape tolerance; do cp "$out/guide-$name.png" "docs/images/mode-$name.png"; done
  echo "Guide pictures updated in docs/images/"
fi
echo
echo "Pictures: $out/guide-pattern.png, $out/guide-shape.png, $out/guide-tolerance.png"
