#!/usr/bin/env python3
"""Makes app/icons/quorvane.ico, the Windows program icon, from the PNG icons beside it.

Each size becomes a 32-bit BGRA bitmap with its transparency kept, which every Windows
version and wine read. Run it again when the PNG icons change; the .ico is committed.
"""
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)
ICONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "app", "icons")


def read_png(path):
    """Returns (width, height, rows of 8-bit RGBA) of a non-interlaced RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, color, _, _, interlace = header
    if color != 6 or depth not in (8, 16) or interlace:
        sys.exit(f"{path}: only non-interlaced RGBA PNG files are read")
    bpp = 4 * depth // 8
    stride = width * bpp
    raw = zlib.decompress(idat)
    rows, prev = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 255
        prev = line
        rows.append(bytes(line[::2]) if depth == 16 else bytes(line))
    return width, height, rows


def bitmap(width, height, rows):
    """An icon image: BITMAPINFOHEADER, BGRA rows bottom up, then the AND mask."""
    head = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(
        bytes(b for i in range(0, len(row), 4) for b in (row[i + 2], row[i + 1], row[i], row[i + 3]))
        for row in reversed(rows))
    mask_stride = ((width + 31) // 32) * 4
    return head + pixels + bytes(mask_stride * height)


def main():
    images = []
    for size in SIZES:
        width, height, rows = read_png(os.path.join(ICONS, f"quorvane-{size}.png"))
        images.append((width, height, bitmap(width, height, rows)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, height, data in images:
        out += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, _, data in images)
    with open(os.path.join(ICONS, "quorvane.ico"), "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
