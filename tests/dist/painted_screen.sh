# Sourced by the host tests.
#
# start_screen FOLDER: writes FOLDER/screen.bmp, a 160 x 120 picture of random
# colours, and starts a 1024 x 768 virtual display of the test's own (the
# picture stays behind on it). Sets DISPLAY and virtual_display_pid; the
# caller kills the display.
#
# paint_screen FOLDER: shows the picture tiled over the root window from the
# top-left corner (ImageMagick's display), so that a host can look for pieces
# of it on the screen and read it back through a capture. Call it once a
# Windows program has run on the display: Wine's desktop clears the root
# window when it starts there.
start_screen() {
  local folder=$1
  python3 - "$folder/screen.bmp" <<'PY' || return 1
import random, struct, sys
width, height = 160, 120
stride = (width * 3 + 3) & ~3
pick = random.Random(7)
rows = b"".join(bytes(pick.randrange(256) for _ in range(width * 3)) + bytes(stride - width * 3)
                for _ in range(height))
header = b"BM" + struct.pack("<IHHI", 54 + len(rows), 0, 0, 54)
header += struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
with open(sys.argv[1], "wb") as f:
    f.write(header + rows)
PY
  source "$(dirname "${BASH_SOURCE[0]}")/../../tools/virtual_display.sh"
  start_virtual_display 1024x768x24 91 120
}

paint_screen() {
  # display sets the root window's background and exits with 1 when it has no
  # window of its own to show, so the answer is judged by the picture alone.
  display -window root "$1/screen.bmp" >/dev/null 2>&1
  return 0
}
