#!/usr/bin/env python3
"""Draws the application icon (resource 133) as indexed PNGs: icon-32.png
(32x32, at most 256 colours) and icon-16.png (16x16, at most 16 colours),
and the same two images as the Windows icon file vud-converter.ico (an
8-bit and a 4-bit palette image, each with its transparency mask).

A blue rounded tile carrying a white sound wave that runs into an orange
arrow: voice data turned into another form. Run it from anywhere; it writes
beside itself. Standard library only."""

import os
import struct
import zlib

SUPERSAMPLE = 8

BLUE_TOP = (58, 122, 214)
BLUE_BOTTOM = (22, 62, 140)
WHITE = (255, 255, 255)
ORANGE = (255, 160, 32)
EDGE = (14, 40, 96)

# Sound-wave bars on a 16-unit grid: (centre x, half height).
BARS = [(3.5, 2.0), (5.5, 4.0), (7.5, 5.0), (9.5, 3.0)]


def inside_rounded_square(x, y, radius):
    lo, hi = 0.5, 15.5
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2 and lo <= x <= hi and lo <= y <= hi


def colour_at(x, y):
    """Colour (r, g, b, a) of the design at a point of the 16-unit square."""
    if not inside_rounded_square(x, y, 3.0):
        return (0, 0, 0, 0)
    if not inside_rounded_square(x, y, 2.3) or x < 1.1 or x > 14.9 or y < 1.1 or y > 14.9:
        return EDGE + (255,)
    for centre, half in BARS:
        if abs(x - centre) <= 0.5 and abs(y - 7.0) <= half:
            return WHITE + (255,)
    # The arrow: a shaft from the wave and a head pointing right.
    if 10.5 <= x <= 12.0 and abs(y - 7.0) <= 0.8:
        return ORANGE + (255,)
    if 12.0 <= x <= 14.2 and abs(y - 7.0) <= (14.2 - x) * 1.1:
        return ORANGE + (255,)
    # A base line under the wave: the archive the voice goes into.
    if 2.5 <= x <= 13.5 and 12.0 <= y <= 13.2:
        return ORANGE + (255,)
    t = (y - 0.5) / 15.0
    return tuple(round(a + (b - a) * t) for a, b in zip(BLUE_TOP, BLUE_BOTTOM)) + (255,)


def render(size):
    pixels = []
    step = 16.0 / (size * SUPERSAMPLE)
    for py in range(size):
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    x = (px * SUPERSAMPLE + sx + 0.5) * step
                    y = (py * SUPERSAMPLE + sy + 0.5) * step
                    r, g, b, a = colour_at(x, y)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SUPERSAMPLE * SUPERSAMPLE
            alpha = acc[3] / n
            if acc[3] == 0:
                pixels.append((0, 0, 0, 0))
            else:
                pixels.append(tuple(round(c / acc[3]) for c in acc[:3]) + (round(alpha),))
    return pixels


def median_cut(colours, count):
    """Splits the distinct colours into at most count boxes; each box's mean
    becomes a palette entry."""
    boxes = [sorted(set(colours))]
    while len(boxes) < count:
        boxes.sort(key=lambda box: max(max(c[i] for c in box) - min(c[i] for c in box) for i in range(4)))
        widest = boxes.pop()
        if len(widest) < 2:
            boxes.append(widest)
            break
        channel = max(range(4), key=lambda i: max(c[i] for c in widest) - min(c[i] for c in widest))
        widest.sort(key=lambda c: c[channel])
        middle = len(widest) // 2
        boxes += [widest[:middle], widest[middle:]]
    return [tuple(round(sum(c[i] for c in box) / len(box)) for i in range(4)) for box in boxes if box]


def quantise(pixels, count):
    distinct = set(pixels)
    palette = sorted(distinct) if len(distinct) <= count else median_cut(pixels, count)
    # Fully transparent first, so tRNS stays short.
    palette.sort(key=lambda c: c[3])
    index = {}
    for colour in distinct:
        index[colour] = min(range(len(palette)),
                            key=lambda i: sum((a - b) ** 2 for a, b in zip(colour, palette[i])))
    return palette, [index[p] for p in pixels]


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path, size, palette, indices):
    bit_depth = 8 if len(palette) > 16 else 4
    rows = b""
    for y in range(size):
        row = indices[y * size:(y + 1) * size]
        if bit_depth == 8:
            packed = bytes(row)
        else:
            packed = bytes((row[i] << 4) | (row[i + 1] if i + 1 < size else 0) for i in range(0, size, 2))
        rows += b"\x00" + packed
    alphas = bytes(c[3] for c in palette)
    while alphas and alphas[-1] == 255:
        alphas = alphas[:-1]
    data = b"\x89PNG\r\n\x1a\n"
    data += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, bit_depth, 3, 0, 0, 0))
    data += chunk(b"PLTE", b"".join(bytes(c[:3]) for c in palette))
    if alphas:
        data += chunk(b"tRNS", alphas)
    data += chunk(b"IDAT", zlib.compress(rows, 9))
    data += chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(data)


def icon_image(size, palette, indices, bits):
    """One image of an icon file: a bottom-up palette bitmap of twice the
    height (the colours, then the 1-bit mask where set bits are transparent)."""
    entries = 1 << bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, entries, 0)
    colours = b"".join(bytes((c[2], c[1], c[0], 0)) for c in palette)
    colours += b"\x00" * (4 * (entries - len(palette)))
    transparent = [palette[i][3] < 128 for i in indices]
    pixels = b""
    mask = b""
    for y in reversed(range(size)):
        row = [0 if transparent[y * size + x] else indices[y * size + x] for x in range(size)]
        if bits == 8:
            packed = bytes(row)
        else:
            packed = bytes((row[i] << 4) | row[i + 1] for i in range(0, size, 2))
        pixels += packed + b"\x00" * (-len(packed) % 4)
        bitsrow = 0
        for x in range(size):
            bitsrow = (bitsrow << 1) | transparent[y * size + x]
        packed = bitsrow.to_bytes(size // 8, "big")
        mask += packed + b"\x00" * (-len(packed) % 4)
    return header + colours + pixels + mask


def write_ico(path, images):
    """images: (size, colour count, bits, image data) each."""
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, colours, bits, image in images:
        data += struct.pack("<BBBBHHII", size, size, colours % 256, 0, 1, bits, len(image), offset)
        offset += len(image)
    data += b"".join(image for _, _, _, image in images)
    with open(path, "wb") as out:
        out.write(data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    images = []
    for size, colours, bits in ((32, 256, 8), (16, 16, 4)):
        palette, indices = quantise(render(size), colours)
        write_png(os.path.join(here, "icon-%d.png" % size), size, palette, indices)
        print("icon-%d.png: %d colours" % (size, len(palette)))
        images.append((size, colours, bits, icon_image(size, palette, indices, bits)))
    write_ico(os.path.join(here, "vud-converter.ico"), images)
    print("vud-converter.ico: 32x32 8-bit, 16x16 4-bit")


if __name__ == "__main__":
    main()
