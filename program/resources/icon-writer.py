#!/usr/bin/env python3
"""Writes .ico and .cur files from raw pixels, the same bytes every time.

    icon-writer.py RAW-FOLDER OUTPUT icon|cursor IMAGE...

Each IMAGE is NAME:SIZE:BITS or, for a cursor, NAME:SIZE:BITS:X,Y with the hot
spot. NAME.rgb (colour, 3 bytes a pixel) and NAME.a (opacity, 1 byte a pixel)
in RAW-FOLDER hold its pixels row by row from the top, as ImageMagick writes
them with rgb: and gray:.

Each image is a bitmap as Windows keeps it in an icon file: header with the
height doubled, palette, colour rows bottom-up, then the one-bit mask (set
where the image is clear), each row padded to 4 bytes. A cursor file is the
same with type 2 and the hot spot where an icon keeps its planes and bit
count. Bitmaps rather than PNG images, which Windows XP cannot read.
"""
import struct, sys

tmp = sys.argv[1]

def load(name, size):
    rgb = open(f"{tmp}/{name}.rgb", "rb").read()
    alpha = open(f"{tmp}/{name}.a", "rb").read()
    assert len(rgb) == 3 * size * size and len(alpha) == size * size, name
    return [(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], alpha[i]) for i in range(size * size)]

def rows_bottom_up(size):
    return range(size - 1, -1, -1)

def pad(row):
    return row + b"\0" * (-len(row) % 4)

def mask_of(pixels, size, clear):
    out = b""
    for y in rows_bottom_up(size):
        bits = bytearray((size + 7) // 8)
        for x in range(size):
            if clear(pixels[y * size + x]):
                bits[x // 8] |= 0x80 >> (x % 8)
        out += pad(bytes(bits))
    return out

def bitmap(name, size, bpp):
    """Returns (palette size for the directory, image bytes)."""
    pixels = load(name, size)
    if bpp == 32:
        # Fully clear pixels carry no colour, so that old systems that use
        # the mask show nothing there either.
        clear = lambda p: p[3] == 0
        body = b"".join(
            bytes(b"\0\0\0\0" if clear(p) else bytes((p[2], p[1], p[0], p[3])))
            for y in rows_bottom_up(size) for p in pixels[y * size:(y + 1) * size])
        palette, colours = b"", 0
    else:
        clear = lambda p: p[3] < 128
        if bpp == 1:
            # Black and white only: the darker half is black.
            table = [(0, 0, 0), (255, 255, 255)]
            index = lambda p: 0 if clear(p) or sum(p[:3]) < 3 * 128 else 1
        else:
            # Black goes under the mask, where there is one.
            under_mask = {(0, 0, 0)} if any(clear(p) for p in pixels) else set()
            table = sorted({p[:3] for p in pixels if not clear(p)} | under_mask)
            assert len(table) <= 1 << bpp, f"{name}: {len(table)} colours"
            table += [(0, 0, 0)] * ((1 << bpp) - len(table))
            where = {c: i for i, c in reversed(list(enumerate(table)))}
            index = lambda p: where[(0, 0, 0)] if clear(p) else where[p[:3]]
        per_byte = 8 // bpp
        body = b""
        for y in rows_bottom_up(size):
            row = bytearray((size + per_byte - 1) // per_byte)
            for x in range(size):
                row[x // per_byte] |= index(pixels[y * size + x]) << (8 - bpp) - bpp * (x % per_byte)
            body += pad(bytes(row))
        palette = b"".join(bytes((b, g, r, 0)) for r, g, b in table)
        colours = len(table) if bpp < 8 else 0
    mask = mask_of(pixels, size, clear)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bpp, 0,
                         len(body) + len(mask), 0, 0, 0, 0)
    return colours, header + palette + body + mask

def write(path, kind, images):
    """images: (raw name, size, bits per pixel, hot spot or None)."""
    parts = [(size, hot, bpp) + bitmap(name, size, bpp) for name, size, bpp, hot in images]
    directory = struct.pack("<HHH", 0, kind, len(parts))
    offset = 6 + 16 * len(parts)
    data = b""
    for size, hot, bpp, colours, image in parts:
        planes, bits = hot if kind == 2 else (1, bpp)
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, colours % 256, 0,
                                 planes, bits, len(image), offset + len(data))
        data += image
    with open(path, "wb") as f:
        f.write(directory + data)

ICON, CURSOR = 1, 2


def main():
    out, kind = sys.argv[2], {"icon": ICON, "cursor": CURSOR}[sys.argv[3]]
    images = []
    for image_arg in sys.argv[4:]:
        parts = image_arg.split(":")
        hot = tuple(int(v) for v in parts[3].split(",")) if len(parts) > 3 else None
        images.append((parts[0], int(parts[1]), int(parts[2]), hot))
    write(out, kind, images)


main()
