#!/usr/bin/env python3
"""Draws the dialogs' pictures and the program icon into ui/resources/.

Only the standard library: pixels are computed here and written as PNG with
zlib, so the artwork can be remade anywhere without fetching anything. The
output is deterministic; rerun after changing a shape and commit the PNGs.

    python3 scripts/make-artwork.py [output folder]
"""

import math
import os
import struct
import sys
import zlib


def png_bytes(width, height, rows):
    """rows: list of bytearrays of RGBA pixels, top to bottom."""
    raw = bytearray()
    stride = width * 4
    previous = bytearray(stride)
    for row in rows:
        # Per row, the filter (none, sub, up) with the smallest sum of
        # residues: a cheap heuristic that keeps the gradients small.
        candidates = []
        sub = bytearray(row[i] - (row[i - 4] if i >= 4 else 0) & 0xFF for i in range(stride))
        up = bytearray((row[i] - previous[i]) & 0xFF for i in range(stride))
        for kind, data in ((0, row), (1, sub), (2, up)):
            cost = sum(b if b < 128 else 256 - b for b in data)
            candidates.append((cost, kind, data))
        _, kind, data = min(candidates, key=lambda c: (c[0], c[1]))
        raw.append(kind)
        raw += data
        previous = row

    def chunk(tag, payload):
        body = tag + payload
        return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
            chunk(b"IEND", b""))


def ico_bytes(images):
    """images: (size, png) pairs, each stored PNG-compressed, as Windows
    reads icon images since Vista; the system picks the one made for the
    size it needs instead of shrinking the largest."""
    header = struct.pack("<HHH", 0, 1, len(images))
    entries = b""
    offset = 6 + 16 * len(images)
    for size, png in images:
        dimension = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dimension, dimension, 0, 0, 1, 32, len(png), offset)
        offset += len(png)
    return header + entries + b"".join(png for _, png in images)


def clamp(value):
    return 0 if value < 0 else 255 if value > 255 else int(value + 0.5)


def render(width, height, shade, samples=1):
    """shade(x, y) -> (r, g, b, a) floats 0..255 at a point (pixel centres at
    +0.5); with samples > 1 each pixel averages a samples x samples grid, so
    edges are smooth. Colours are averaged weighted by their alpha."""
    rows = []
    offsets = [(i + 0.5) / samples for i in range(samples)]
    count = samples * samples
    for y in range(height):
        row = bytearray()
        for x in range(width):
            r = g = b = a = 0.0
            for dy in offsets:
                for dx in offsets:
                    pr, pg, pb, pa = shade(x + dx, y + dy)
                    r += pr * pa
                    g += pg * pa
                    b += pb * pa
                    a += pa
            if a > 0:
                row += bytes((clamp(r / a), clamp(g / a), clamp(b / a), clamp(a / count)))
            else:
                row += b"\0\0\0\0"
        rows.append(row)
    return rows


def scaled(length, scale):
    """A length of the 100 % picture at `scale`, rounded as the dialogs round
    their sizes (half away from zero), so each picture is exactly as large as
    the control it fills."""
    return int(length * scale + 0.5)


# --- The window background, 640 x 288 at 100 % ------------------------------

RED = (205, 28, 44)
BLUE = (36, 86, 230)


def background(x, y, width=640, height=288):
    # Near-black, a shade lighter towards the middle.
    middle = 1.0 - abs(y / height - 0.5) * 0.8
    r, g, b = 9 + 5 * middle, 10 + 5 * middle, 14 + 7 * middle

    def edge_glow(px, py):
        # A red band hugging the top and left edges, strongest in the corner
        # and fading along each edge, with a diffuse halo around the corner.
        along_top = math.exp(-py / 22.0) * math.exp(-px / 200.0) * 0.5
        along_left = math.exp(-px / 22.0) * math.exp(-py / 110.0) * 0.5
        halo = math.exp(-(px * px + py * py) / (2 * 80.0 ** 2)) * 0.35
        return min(0.7, along_top + along_left + halo)

    def corner_glow(px, py):
        return math.exp(-(px * px + py * py) / (2 * 90.0 ** 2)) * 0.5

    red = edge_glow(x, y) + edge_glow(width - x, height - y)
    blue = corner_glow(width - x, y) + corner_glow(x, height - y)
    r += RED[0] * red + BLUE[0] * blue
    g += RED[1] * red + BLUE[1] * blue
    b += RED[2] * red + BLUE[2] * blue
    return (r, g, b, 255.0)


def window_background(scale):
    """The same glow at any scale: the picture is computed, not resampled."""
    width, height = scaled(640, scale), scaled(288, scale)
    return width, height, lambda x, y: background(x / scale, y / scale)


# --- The action-button plate, 175 x 45 at 100 % ----------------------------

PLATE_W, PLATE_H, FOLD = 175, 45, 13


def plate(scale):
    """The plate as drawn `scale` times its 100 % size: the light edge stays
    whole device pixels wide, so it is as crisp at 200 % as at 100 %."""
    width, height = scaled(PLATE_W, scale), scaled(PLATE_H, scale)
    fold = FOLD * scale
    line = max(1, round(scale))

    def shade(x, y):
        # Distance of the point from the lower-left corner along the diagonal.
        corner = x + (height - y)
        if corner < fold:
            return (0, 0, 0, 0)  # the corner folded away
        edge = min(x, y, width - x, height - y, (corner - fold) / math.sqrt(2))
        if edge < line:
            return (168, 172, 184, 255)  # the thin light edge, the fold line included
        if x < fold and height - y < fold and corner < fold + 9 * scale:
            # The back of the folded flap, lit from above.
            return (96, 99, 108, 255)
        level = 60 - 16 * (y / height)
        return (level, level + 2, level + 7, 255)

    return width, height, shade


# --- The minimise glyph, 60 x 40 at 100 % ----------------------------------


def minimise(scale):
    """A bar on whole device pixels at every scale: 18 x 3 at 100 %."""
    width, height = scaled(60, scale), scaled(40, scale)
    left, right = scaled(21, scale), scaled(39, scale)
    top = scaled(21, scale)
    bottom = top + max(1, round(3 * scale))

    def shade(x, y):
        if left <= x < right and top <= y < bottom:
            return (228, 230, 238, 255)
        return (8, 9, 12, 150)  # a dark ground that lets the glow show through

    return width, height, shade


# --- The icon, 256 x 256 ---------------------------------------------------


def rounded_box(x, y, left, top, right, bottom, radius):
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius and left <= x <= right and top <= y <= bottom


def icon(x, y):
    if not rounded_box(x, y, 8, 8, 248, 248, 44):
        return (0, 0, 0, 0)
    # The dialog background in small: red along two edges, blue in two corners.
    r, g, b, _ = background(x * 2.5, y * 1.125)
    # The graphics chip with its pins.
    chip = 70 <= x <= 186 and 70 <= y <= 186
    pins = ((52 <= x < 70 or 186 < x <= 204) and (y - 78) % 22 < 10 and 78 <= y <= 178) or \
           ((52 <= y < 70 or 186 < y <= 204) and (x - 78) % 22 < 10 and 78 <= x <= 178)
    if pins:
        return (200, 204, 214, 255)
    if chip:
        if x < 76 or x > 180 or y < 76 or y > 180:
            return (214, 218, 228, 255)
        r, g, b = 30, 32, 40
        # An upward arrow: the update.
        shaft = 116 <= x <= 140 and 112 <= y <= 162
        head = y >= 84 and y <= 118 and abs(x - 128) <= (y - 84) * 1.05
        if shaft or head:
            return (245, 246, 250, 255)
    return (r, g, b, 255)


def icon_sized(size):
    return size, size, lambda x, y: icon(x * 256 / size, y * 256 / size)


def variant(name, scale):
    """background.png at 100 %, background_150.png at 150 %."""
    percent = round(scale * 100)
    return name if percent == 100 else name.replace(".png", f"_{percent}.png")


# The scales the dialogs draw at (ui/toolkit/scale.h kPictureScales).
SCALES = (1.0, 1.25, 1.5, 1.75, 2.0)
# The icon's sizes: the small and large icon at each of those scales, and the
# 256 x 256 image.
ICON_SIZES = (16, 20, 24, 28, 32, 40, 48, 56, 64, 256)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "ui", "resources")
    os.makedirs(out, exist_ok=True)
    for scale in SCALES:
        for name, make, samples in (("background.png", window_background, 1), ("button_plate.png", plate, 4),
                                    ("minimize_glyph.png", minimise, 1)):
            width, height, shade = make(scale)
            data = png_bytes(width, height, render(width, height, shade, samples))
            with open(os.path.join(out, variant(name, scale)), "wb") as f:
                f.write(data)
            print(f"{variant(name, scale)}: {width} x {height}, {len(data)} bytes")
    images = []
    for size in ICON_SIZES:
        width, height, shade = icon_sized(size)
        # Small icons average more points per pixel, so the chip's pins stay
        # apart instead of flickering in and out.
        images.append((size, png_bytes(width, height, render(width, height, shade, max(3, 768 // size)))))
    with open(os.path.join(out, "icon.png"), "wb") as f:
        f.write(images[-1][1])
    with open(os.path.join(out, "icon.ico"), "wb") as f:
        f.write(ico_bytes(images))
    print(f"icon.ico: {', '.join(str(size) for size, _ in images)}, {os.path.getsize(os.path.join(out, 'icon.ico'))} bytes")


if __name__ == "__main__":
    main()
