#!/usr/bin/env python3
"""Draws the launcher's icon: red block capitals PB above white block capitals DOS on black,
inside a grey frame, as four 16-colour images (128, 64, 48 and 32 pixels) in bitmap form.

Usage: make_icon.py OUTPUT.ico               (the same bytes on every run)
       make_icon.py --png ICON.ico OUTPUT.png  (its largest image, twice as large, as a picture)
"""
import struct
import sys
import zlib

SIZES = (128, 64, 48, 32)
BLACK, RED, GREY, WHITE = 0, 1, 2, 3
PALETTE = [(0, 0, 0), (255, 0, 0), (128, 128, 128), (255, 255, 255)] + [(0, 0, 0)] * 12

# Block capitals on a 5 x 7 grid.
GLYPHS = {
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
}


def draw(size):
    """Rows of palette indexes, top row first."""
    pixels = [[BLACK] * size for _ in range(size)]
    frame = max(1, size // 16)
    for y in range(size):
        for x in range(size):
            if min(x, y, size - 1 - x, size - 1 - y) < frame:
                pixels[y][x] = GREY
    # Letter scale: "DOS" (3 glyphs, 2 gaps) must fit inside the frame with a margin.
    scale = max(1, (size - 2 * frame - 4) // 18)
    line_gap = max(1, scale * 2)
    block_height = 2 * 7 * scale + line_gap
    top = (size - block_height) // 2
    for word, colour, y0 in (("PB", RED, top), ("DOS", WHITE, top + 7 * scale + line_gap)):
        width = len(word) * 5 * scale + (len(word) - 1) * scale
        x0 = (size - width) // 2
        for index, letter in enumerate(word):
            gx = x0 + index * 6 * scale
            for row, bits in enumerate(GLYPHS[letter]):
                for col, bit in enumerate(bits):
                    if bit != "#":
                        continue
                    for dy in range(scale):
                        for dx in range(scale):
                            pixels[y0 + row * scale + dy][gx + col * scale + dx] = colour
    return pixels


def padded(row_bytes):
    return (row_bytes + 3) // 4 * 4


def image(size):
    pixels = draw(size)
    xor_stride = padded(size // 2)
    and_stride = padded((size + 7) // 8)
    xor = bytearray()
    for row in reversed(pixels):  # bitmaps are stored bottom-up
        line = bytearray(xor_stride)
        for x in range(0, size, 2):
            line[x // 2] = (row[x] << 4) | row[x + 1]
        xor += line
    mask = bytes(and_stride * size)  # all clear: every pixel is opaque
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + bytes(xor) + mask


def icon_file():
    images = [image(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def png_of_icon(ico, scale=2):
    """The first (largest) image of an icon file made as above, decoded from its bitmap and
    drawn `scale` times as large, as a PNG picture."""
    size, _, _, _, _, _, length, offset = struct.unpack_from("<BBBBHHII", ico, 6)
    bitmap = ico[offset:offset + length]
    pixels = bitmap[40 + 64:]
    rows = b""
    for y in reversed(range(size)):  # bitmaps are stored bottom-up
        line = pixels[y * padded(size // 2):]
        colours = [(line[x // 2] >> 4 if x % 2 == 0 else line[x // 2] & 0xF) for x in range(size)]
        rgb = b"".join(bitmap[40 + 4 * c:40 + 4 * c + 3][::-1] * scale for c in colours)
        rows += (b"\0" + rgb) * scale  # each row starts with filter type 0: none

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", size * scale, size * scale, 8, 2, 0, 0, 0)  # 8-bit RGB
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
            + chunk(b"IEND", b""))


if __name__ == "__main__":
    if len(sys.argv) == 2:
        with open(sys.argv[1], "wb") as f:
            f.write(icon_file())
    elif len(sys.argv) == 4 and sys.argv[1] == "--png":
        with open(sys.argv[2], "rb") as ico, open(sys.argv[3], "wb") as f:
            f.write(png_of_icon(ico.read()))
    else:
        sys.exit(__doc__)
