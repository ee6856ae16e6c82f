#!/usr/bin/env python3
"""Draws the screen and the templates of the guide's pictures of failures
(tools/guide/pictures.sh): one 24-bit BMP screen with a photo-like gradient,
two buttons that differ only in their accent colour, and the letter Z drawn
crisply in three colours and once with a smoothed diagonal. Writes, into the
folder given: screen.bmp, photo.bmp (a 12 x 9 piece of the gradient at
(97, 53)), button.bmp (the blue button), z-crisp.bmp (a red Z on white) and
z-smoothed.bmp (the smoothed Z as the screen shows it)."""
import os
import struct
import sys

W, H = 400, 160
PANEL, WHITE, YELLOW = 0xECE9D8, 0xFFFFFF, 0xF5D76E
px = [[PANEL] * W for _ in range(H)]


def rect(x, y, w, h, c):
    for j in range(y, y + h):
        for i in range(x, x + w):
            px[j][i] = c


def blend(a, b):
    return sum(((a >> s & 0xFF) + (b >> s & 0xFF)) // 2 << s for s in (0, 8, 16))


# The gradient: every pixel a colour of its own, as in a photo or a wallpaper.
for y in range(H):
    for x in range(200):
        px[y][x] = (40 + x) << 16 | (60 + y) << 8 | 150


# A flat button: border, face, and "OK" in white.
OK = ["0110010010", "1001010100", "1001011000", "1001010100", "0110010010"]


def button(x, y, face, edge):
    rect(x, y, 30, 13, edge)
    rect(x + 1, y + 1, 28, 11, face)
    for j, row in enumerate(OK):
        for i, bit in enumerate(row):
            if bit == '1':
                px[y + 4 + j][x + 10 + i] = WHITE


button(215, 20, 0x2B5FB4, 0x1A3C73)   # blue
button(265, 20, 0x2E8B3E, 0x1B5224)   # the same button in a green theme

# The letter Z, 10 x 14: a top bar, a diagonal, a bottom bar.
Z = [(i, j) for j in (0, 1) for i in range(10)] + [(i, j) for j in (12, 13) for i in range(10)]
DIAGONAL = [(i, j) for j in range(2, 12) for i in (9 - (j - 2) - 0, 9 - (j - 2) - 1) if 0 <= i < 10]


def letter(x, y, ink, background, smoothed=False):
    rect(x - 1, y - 1, 12, 16, background)
    for i, j in Z:
        px[y + j][x + i] = ink
    for i, j in DIAGONAL:
        px[y + j][x + i] = blend(ink, background) if smoothed else ink


letter(216, 80, 0xFF0000, PANEL)
letter(246, 80, 0x1F4FBF, WHITE)
letter(276, 80, 0x202020, YELLOW)
letter(306, 80, 0x202020, WHITE, smoothed=True)
letter(336, 80, 0x1F4FBF, PANEL, smoothed=True)


def write_bmp(path, rows):
    h, w = len(rows), len(rows[0])
    stride = (w * 3 + 3) // 4 * 4
    data = bytearray()
    for row in reversed(rows):
        line = b''.join(bytes((v & 0xFF, v >> 8 & 0xFF, v >> 16)) for v in row)
        data += line + b'\0' * (stride - len(line))
    header = struct.pack('<2sIHHI', b'BM', 54 + len(data), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + data)


def piece(x, y, w, h):
    return [row[x:x + w] for row in px[y:y + h]]


out = sys.argv[1] if len(sys.argv) > 1 else '.'
os.makedirs(out, exist_ok=True)
write_bmp(os.path.join(out, 'screen.bmp'), px)
write_bmp(os.path.join(out, 'photo.bmp'), piece(97, 53, 12, 9))
write_bmp(os.path.join(out, 'button.bmp'), piece(215, 20, 30, 13))
write_bmp(os.path.join(out, 'z-smoothed.bmp'), piece(305, 79, 12, 16))
# The crisp Z as a template: red on white, drawn apart from the screen.
saved = [row[:] for row in px]
letter(216, 80, 0xFF0000, WHITE)
write_bmp(os.path.join(out, 'z-crisp.bmp'), piece(215, 79, 12, 16))
px[:] = saved
