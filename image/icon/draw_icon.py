#!/usr/bin/python3
"""Draws the launcher's application icon: a rounded tile with an arrow coming down into a tray.

Writes icon-16.png, icon-32.png, icon-48.png, icon-64.png and icon-128.png (RGBA) into the
directory given, default this script's own. The PNGs are the icon's source in the repository;
the build turns them into the 24-bit images of the executable's icon groups. Run it again only
to change the artwork.
"""
import os
import struct
import sys
import zlib

SIZES = (16, 32, 48, 64, 128)
SUPERSAMPLE = 4

TOP = (28, 110, 164)      # tile gradient, top
BOTTOM = (14, 60, 104)    # tile gradient, bottom
MARK = (250, 250, 246)    # arrow and tray
ACCENT = (255, 196, 64)   # tray floor


def inside_rounded_square(x, y, radius):
    """x, y in [0, 1]; the tile fills the square with corners rounded by radius."""
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def colour_at(x, y):
    """Colour (r, g, b, a) of the artwork at x, y in [0, 1], a being 0 or 255."""
    if not inside_rounded_square(x, y, 0.2):
        return (0, 0, 0, 0)
    # Arrow: a shaft and a head pointing down, centred.
    shaft = abs(x - 0.5) <= 0.09 and 0.16 <= y <= 0.5
    head = 0.46 <= y <= 0.68 and abs(x - 0.5) <= (0.68 - y) * 1.1
    # Tray: an open box under the arrow.
    tray_floor = 0.74 <= y <= 0.84 and 0.2 <= x <= 0.8
    tray_walls = 0.58 <= y <= 0.84 and (0.2 <= x <= 0.29 or 0.71 <= x <= 0.8)
    if tray_floor:
        return ACCENT + (255,)
    if shaft or head or tray_walls:
        return MARK + (255,)
    t = y
    return tuple(round(TOP[i] * (1 - t) + BOTTOM[i] * t) for i in range(3)) + (255,)


def render(size):
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    c = colour_at((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    for i in range(3):
                        acc[i] += c[i] * c[3]
                    acc[3] += c[3]
            alpha = acc[3] / (n * n)
            if acc[3]:
                rgb = [round(acc[i] / acc[3]) for i in range(3)]
            else:
                rgb = [0, 0, 0]
            row += bytes(rgb + [255 if alpha >= 128 else 0])
        rows.append(bytes(row))
    return rows


def png(size, rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\x00" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for size in SIZES:
        with open(os.path.join(out, "icon-%d.png" % size), "wb") as f:
            f.write(png(size, render(size)))


if __name__ == "__main__":
    main()
