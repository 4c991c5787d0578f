#!/usr/bin/env python3
"""Draws the program's icon, an SD card, as a 16-colour .ico with a 32x32 and
a 16x16 image, and writes it to res/vorninst.ico (or to the path given).
With --png SIZE PATH it draws the same card SIZE pixels square as a PNG, for
the Linux desktop's icon theme."""
import os
import struct
import sys
import zlib

# The standard 16-colour palette (blue, green, red, reserved).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, GOLD, WHITE, RED = 0, 4, 11, 15, 9


def draw(size):
    """Rows top to bottom of palette indexes, None where transparent."""
    s = size / 32.0
    px = [[None] * size for _ in range(size)]
    left, right, top, bottom = int(6 * s), int(26 * s), int(2 * s), int(30 * s)
    notch = int(6 * s)
    for y in range(top, bottom):
        for x in range(left, right):
            if y - top + (x - (right - notch)) < 0 or x < right - notch or y >= top + notch:
                edge = x in (left, right - 1) or y in (top, bottom - 1)
                px[y][x] = BLACK if edge else NAVY
    # The cut corner's edge.
    for i in range(notch):
        x, y = right - notch + i, top + i
        if 0 <= y < size and 0 <= x < size:
            px[y][x] = BLACK
            for xx in range(x + 1, right):
                px[y][xx] = None
    # Gold contacts along the top.
    for c in range(4):
        x0 = left + int((2 + 3 * c) * s)
        for y in range(top + int(2 * s), top + int(6 * s)):
            for x in range(x0, x0 + max(1, int(2 * s))):
                px[y][x] = GOLD
    # A white label with a red stripe.
    for y in range(top + int(12 * s), bottom - int(3 * s)):
        for x in range(left + int(3 * s), right - int(3 * s)):
            px[y][x] = RED if y < top + int(15 * s) else WHITE
    return px


def image(size):
    px = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in
                       [(c[0], c[1], c[2]) for c in PALETTE])
    xor_row = (size * 4 + 31) // 32 * 4
    and_row = (size + 31) // 32 * 4
    xor, mask = b"", b""
    for row in reversed(px):  # bottom-up
        bits = bytearray(xor_row)
        for x, v in enumerate(row):
            v = 0 if v is None else v
            bits[x // 2] |= v << (4 if x % 2 == 0 else 0)
        xor += bytes(bits)
        m = bytearray(and_row)
        for x, v in enumerate(row):
            if v is None:
                m[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(m)
    return header + palette + xor + mask


def png(size):
    """The drawing as an 8-bit RGBA PNG, transparent where the .ico is."""
    rows = b""
    for row in draw(size):
        rows += b"\x00" + b"".join(
            bytes((0, 0, 0, 0)) if v is None else bytes(PALETTE[v]) + b"\xff" for v in row)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) +
            chunk(b"IEND", b""))


def main(path):
    images = [image(32), image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--png":
        with open(sys.argv[3], "wb") as f:
            f.write(png(int(sys.argv[2])))
        sys.exit(0)
    # The project's icon whatever the current folder; a given path is taken
    # as the user typed it.
    default = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res", "vorninst.ico")
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.normpath(default))
