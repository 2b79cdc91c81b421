#!/usr/bin/env python3
"""Writes the program's icon: one 32 x 32 image in 16 colours (4 bits per
pixel), a printer taking in a sheet under a downward arrow.

The output is byte-for-byte reproducible, so the committed fwupgrade.ico and
the desktop's fwupgrade.png (packaging/linux/) can be checked against this
script:  python3 make_icon.py [output.ico | output.png]
"""
import struct
import sys
import zlib

SIZE = 32

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, GREEN_LED, NAVY, SILVER, GREY, BLUE, WHITE = 0x0, 0xA, 0x4, 0x7, 0x8, 0xC, 0xF
CLEAR = None  # transparent: mask bit set, colour black


def blank():
    return [[CLEAR] * SIZE for _ in range(SIZE)]


def box(img, left, top, right, bottom, fill, outline=BLACK):
    """Filled rectangle, both corners inclusive, with a one-pixel outline."""
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            edge = y in (top, bottom) or x in (left, right)
            img[y][x] = outline if edge else fill


def hline(img, left, right, y, colour):
    for x in range(left, right + 1):
        img[y][x] = colour


def arrow(img):
    """A blue arrow pointing down with a navy outline."""
    shape = set()
    for y in range(0, 8):  # shaft
        for x in range(14, 18):
            shape.add((x, y))
    for row, y in enumerate(range(8, 14)):  # head
        for x in range(10 + row, 22 - row):
            shape.add((x, y))
    for (x, y) in shape:
        inner = all((x + dx, y + dy) in shape for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
        img[y][x] = BLUE if inner else NAVY


def picture():
    img = blank()
    box(img, 8, 4, 23, 16, WHITE)  # the sheet going in
    for y in (7, 10, 13):
        hline(img, 10, 21, y, GREY)
    box(img, 2, 15, 29, 26, SILVER)  # the printer's body
    hline(img, 7, 24, 16, BLACK)  # paper slot
    hline(img, 3, 28, 17, WHITE)  # top edge highlight
    hline(img, 3, 28, 24, GREY)  # bottom shade
    hline(img, 3, 28, 25, GREY)
    hline(img, 6, 25, 21, BLACK)  # output slot
    img[19][25] = GREEN_LED
    img[19][26] = GREEN_LED
    box(img, 5, 26, 26, 30, WHITE)  # the output tray's sheet
    arrow(img)
    return img


def ico_bytes(img):
    """ICONDIR, one ICONDIRENTRY, then the DIB: header, palette, XOR and AND bitmaps
    (rows bottom-up, each padded to 4 bytes)."""
    xor_row = SIZE // 2  # 4 bits per pixel: 16 bytes, already a multiple of 4
    and_row = 4  # 32 bits, one per pixel
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):
        row = img[y]
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            xor.append((hi << 4) | lo)
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if row[x] is None else 0)
        mask += bits.to_bytes(and_row, "big")
    assert len(xor) == xor_row * SIZE
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return icondir + entry + image


def png_bytes(img):
    """The same picture as a 32 x 32 RGBA PNG, for the Linux desktop's icon theme."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = bytearray()
    for row in img:
        raw.append(0)  # filter: none
        for px in row:
            raw += bytes(PALETTE[px]) + b"\xff" if px is not None else b"\0\0\0\0"
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "fwupgrade.ico"
    data = png_bytes(picture()) if out.endswith(".png") else ico_bytes(picture())
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
