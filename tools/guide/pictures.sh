#!/usr/bin/env bash
# The guide's pictures of the way each mode fails (docs/images/fails-*.png),
# made from the library's own answers: tools/guide/make_failures.py draws a
# screen and templates, zadized-find (the library's loader and search) marks
# every place it accepts, and ImageMagick puts the template (enlarged four
# times) beside the marked screens. Prints what zadized-find said, which the
# guide quotes. Usage: tools/guide/pictures.sh [--update]; with --update the
# pictures are copied into docs/images. Needs the tools of tools/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/../.."

# ZADIZED_FIND names a zadized-find already built; otherwise one is built.
find=${ZADIZED_FIND:-}
if [ -z "$find" ]; then
  cmake -S . -B build/guide-native -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/guide-native --target zadized-find >/dev/null
  find=build/guide-native/zadized-find
fi
find=$(cd "$(dirname "$find")" && pwd)/$(basename "$find")
out=build/guide-pictures
rm -rf "$out" && mkdir -p "$out"
python3 tools/guide/make_failures.py "$out"

# run NAME TEMPLATE COLOUR: zadized-find's answer lines, and the screen marked.
run() {
  echo "\$ zadized-find screen.bmp $2 --color $3"
  (cd "$out" && "$find" screen.bmp "$2" --color "$3" --mark "$1.png" || true) |
    grep -E '^(color|found|not found|warning|marked)'
}
# panel NAME TEMPLATE FAILING GOOD: the template beside both marked screens.
panel() {
  convert "$out/$2" -scale 400% -bordercolor white -border 8 "$out/$1-template.png"
  convert "$out/$1-template.png" "$out/$1-fails.png" "$out/$1-works.png" -background white -splice 8x0 \
    -gravity north +append "$out/fails-$1.png"
}

echo "== Pattern mode on a photo-like template, then near colours"
run pattern-fails photo.bmp -1
run pattern-works photo.bmp 0x20000000
echo "== Near colours on a button in another theme colour, then pattern mode"
run near-fails button.bmp 0x20000000
run near-works button.bmp -1
echo "== Shape mode with a crisp template on a smoothed letter, then a template cut from the screen"
run shape-fails z-crisp.bmp 0xFF0000
run shape-works z-smoothed.bmp 0x202020

for name in pattern near shape; do
  template=$(case $name in pattern) echo photo.bmp ;; near) echo button.bmp ;; shape) echo z-crisp.bmp ;; esac)
  panel "$name" "$template"
done
if [ "${1:-}" = --update ]; then
  for name in pattern near shape; do cp "$out/fails-$name.png" "docs/images/fails-$name.png"; done
  echo "Pictures updated in docs/images/"
fi
echo "Pictures: $out/fails-pattern.png, $out/fails-near.png, $out/fails-shape.png"
