#!/usr/bin/env python3
"""Draws the demo's synthetic desktop (800x600, 24-bit BMP): a solid desktop
with folder icons, two windows with title bars, close buttons and text, and a
taskbar. find_demo.cpp knows where everything is; keep the two in step."""
import struct
import sys

W, H = 800, 600
DESKTOP, WINDOW, TITLE, TASKBAR = 0x3A6EA5, 0xECE9D8, 0x0A246A, 0x245EDC
FOLDER, FOLDER_DARK, PAPER, INK, CLOSE = 0xF5C542, 0xC89B22, 0xFFFFFF, 0x202020, 0xC0392B

px = [[DESKTOP] * W for _ in range(H)]


def rect(x, y, w, h, c):
    for j in range(y, y + h):
        for i in range(x, x + w):
            px[j][i] = c


# A 5x7 font for the few letters used, drawn 2x.
FONT = {
    'Z': ["11111", "00001", "00010", "00100", "01000", "10000", "11111"],
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'D': ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    'I': ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'N': ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    'T': ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    'M': ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    'S': ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    ' ': ["00000"] * 7,
}


def text(x, y, s, c):
    for ch in s:
        for j, row in enumerate(FONT[ch]):
            for i, bit in enumerate(row):
                if bit == '1':
                    rect(x + 2 * i, y + 2 * j, 2, 2, c)
        x += 12


def folder(x, y):
    # 32x32 icon on whatever lies behind it: a tab, a body and a dark edge.
    rect(x + 2, y + 6, 12, 4, FOLDER)
    rect(x + 2, y + 10, 28, 18, FOLDER)
    rect(x + 2, y + 26, 28, 2, FOLDER_DARK)
    rect(x + 29, y + 10, 1, 18, FOLDER_DARK)
    rect(x + 6, y + 14, 12, 2, PAPER)


def window(x, y, w, h, title):
    rect(x, y, w, h, WINDOW)
    rect(x, y, w, 24, TITLE)
    text(x + 8, y + 5, title, PAPER)
    rect(x + w - 22, y + 5, 14, 14, CLOSE)
    for k in range(10):  # the X
        px[y + 7 + k][x + w - 20 + k] = PAPER
        px[y + 7 + k][x + w - 11 - k] = PAPER


for fx, fy in [(24, 24), (24, 104), (600, 24)]:
    folder(fx, fy)
window(300, 200, 420, 300, "ZADIZED DEMO")
folder(436, 340)
window(60, 420, 200, 120, "NOTES")
text(80, 470, "DONE", INK)
rect(0, H - 32, W, 32, TASKBAR)
rect(4, H - 28, 60, 24, 0x3C9A3C)
text(10, H - 23, "SET", PAPER)

stride = (W * 3 + 3) // 4 * 4
data = bytearray()
for y in range(H - 1, -1, -1):
    row = bytearray()
    for v in px[y]:
        row += bytes((v & 0xFF, v >> 8 & 0xFF, v >> 16))
    data += row + b'\0' * (stride - len(row))
header = struct.pack('<2sIHHI', b'BM', 54 + len(data), 0, 0, 54)
info = struct.pack('<IiiHHIIiiII', 40, W, H, 1, 24, 0, len(data), 2835, 2835, 0, 0)
out = sys.argv[1] if len(sys.argv) > 1 else 'desktop.bmp'
with open(out, 'wb') as f:
    f.write(header + info + data)
