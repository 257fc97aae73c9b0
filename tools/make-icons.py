#!/usr/bin/env python3
"""Draws the application icon (a chip with an arrow into it) as resources/tarvik.svg, as PNGs
of 16, 32, 48 and 256 pixels, and as resources/tarvik.ico for the Windows programs (the same
four sizes in one file), with nothing but the standard library: no SVG renderer or image
converter is needed to rebuild them."""
import struct
import zlib
from pathlib import Path

VIEW = 64  # the design's own units, as in the SVG's viewBox
BODY = (0x2F, 0x4F, 0x6F, 0xFF)
ARROW = (0xF0, 0x8C, 0x00, 0xFF)

# The design, back to front: rectangles (x, y, w, h) and triangles (three points).
SHAPES = [("rect", (12, 28 + 10 * i, 6, 4), BODY) for i in range(3)]
SHAPES += [("rect", (46, 28 + 10 * i, 6, 4), BODY) for i in range(3)]
SHAPES += [("rect", (22 + 8 * i, 58, 4, 5), BODY) for i in range(3)]
SHAPES += [
    ("rect", (18, 22, 28, 36), BODY),
    ("rect", (28, 2, 8, 16), ARROW),
    ("tri", ((20, 16), (44, 16), (32, 32)), ARROW),
]


def inside(shape, x, y):
    kind, geometry, _ = shape
    if kind == "rect":
        left, top, width, height = geometry
        return left <= x < left + width and top <= y < top + height
    (ax, ay), (bx, by), (cx, cy) = geometry
    d1 = (x - bx) * (ay - by) - (ax - bx) * (y - by)
    d2 = (x - cx) * (by - cy) - (bx - cx) * (y - cy)
    d3 = (x - ax) * (cy - ay) - (cx - ax) * (y - ay)
    negative = d1 < 0 or d2 < 0 or d3 < 0
    positive = d1 > 0 or d2 > 0 or d3 > 0
    return not (negative and positive)


def pixel(size, px, py, samples=4):
    """Averages samples × samples points of one pixel, so that small sizes keep their edges."""
    total = [0, 0, 0, 0]
    for sy in range(samples):
        for sx in range(samples):
            x = (px + (sx + 0.5) / samples) * VIEW / size
            y = (py + (sy + 0.5) / samples) * VIEW / size
            colour = (0, 0, 0, 0)
            for shape in SHAPES:
                if inside(shape, x, y):
                    colour = shape[2]
            for i in range(4):
                total[i] += colour[i] * (colour[3] if i < 3 else 255) // 255
    n = samples * samples
    alpha = total[3] // n
    if alpha == 0:
        return (0, 0, 0, 0)
    return tuple(total[i] // n * 255 // alpha for i in range(3)) + (alpha,)


def pixels(size):
    """The image as rows of (r, g, b, a), top row first."""
    return [[pixel(size, x, y) for x in range(size)] for y in range(size)]


def png(size, image=None):
    image = image or pixels(size)
    rows = b"".join(b"\x00" + b"".join(bytes(p) for p in row) for row in image)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def dib(size, image):
    """An icon image as Windows has always read it: a 32-bit BGRA bitmap, bottom row first,
    then the 1-bit AND mask (set where the pixel is transparent), rows padded to 4 bytes."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(image) for r, g, b, a in row)
    stride = (size + 31) // 32 * 4
    mask = b""
    for row in reversed(image):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (stride * 8 - 1 - x)
        mask += bits.to_bytes(stride, "big")
    return header + colour + mask


def ico(sizes):
    """The sizes in one .ico: bitmaps up to 48 pixels, PNG for 256 (Windows Vista and later
    read PNG images in icons; the small sizes stay bitmaps for every reader)."""
    images = []
    for size in sizes:
        image = pixels(size)
        images.append((size, png(size, image) if size >= 256 else dib(size, image)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        edge = size if size < 256 else 0  # 0 stands for 256
        out += struct.pack("<BBBBHHII", edge, edge, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def svg():
    def fill(colour):
        return "#%02x%02x%02x" % colour[:3]

    lines = [f'<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 {VIEW} {VIEW}" '
             'width="256" height="256">']
    for kind, geometry, colour in SHAPES:
        if kind == "rect":
            x, y, w, h = geometry
            lines.append(f'  <rect x="{x}" y="{y}" width="{w}" height="{h}" '
                         f'fill="{fill(colour)}"/>')
        else:
            points = " ".join(f"{x},{y}" for x, y in geometry)
            lines.append(f'  <polygon points="{points}" fill="{fill(colour)}"/>')
    lines.append("</svg>")
    return "\n".join(lines) + "\n"


def main():
    out = Path(__file__).resolve().parent.parent / "resources"
    out.mkdir(exist_ok=True)
    (out / "tarvik.svg").write_text(svg())
    for size in (16, 32, 48, 256):
        (out / f"tarvik-{size}.png").write_bytes(png(size))
    (out / "tarvik.ico").write_bytes(ico((16, 32, 48, 256)))


if __name__ == "__main__":
    main()
