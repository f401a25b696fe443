#!/usr/bin/env python3
"""Renders resources/tessaline.svg into resources/tessaline.ico.

Sizes 16 to 128 are stored as 32-bit DIBs with an AND mask, 256 and 512 as
PNG, which is how Windows expects large icon images. rsvg-convert (librsvg2-bin)
draws each size from the vector art, so small sizes are not blurred copies of a
large bitmap; ImageMagick's convert unpacks the PNGs to raw RGBA for the DIBs.
The .ico is committed, so the build never needs these tools.
"""
import os
import struct
import subprocess
import sys
import tempfile

SIZES = [16, 20, 24, 32, 40, 48, 64, 96, 128, 256, 512]
PNG_FROM = 256

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SVG = os.path.join(ROOT, "resources", "tessaline.svg")
ICO = os.path.join(ROOT, "resources", "tessaline.ico")


def render_png(size, folder):
    path = os.path.join(folder, "%d.png" % size)
    subprocess.run(["rsvg-convert", "-w", str(size), "-h", str(size), "-o", path, SVG], check=True)
    return path


def rgba_pixels(png, size):
    raw = subprocess.run(["convert", png, "-depth", "8", "RGBA:-"], check=True,
                         stdout=subprocess.PIPE).stdout
    if len(raw) != size * size * 4:
        sys.exit("unexpected pixel data for %s: %d bytes" % (png, len(raw)))
    return raw


def dib(size, rgba):
    """BITMAPINFOHEADER, bottom-up BGRA rows, then the 1-bit AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    mask = bytearray()
    mask_stride = (size + 31) // 32 * 4
    for y in reversed(range(size)):
        row_mask = bytearray(mask_stride)
        for x in range(size):
            r, g, b, a = rgba[(y * size + x) * 4:(y * size + x) * 4 + 4]
            colour += bytes((b, g, r, a))
            if a == 0:
                row_mask[x // 8] |= 0x80 >> (x % 8)
        mask += row_mask
    return header + bytes(colour) + bytes(mask)


def main():
    with tempfile.TemporaryDirectory() as folder:
        images = []
        for size in SIZES:
            png = render_png(size, folder)
            if size >= PNG_FROM:
                with open(png, "rb") as f:
                    images.append((size, f.read()))
            else:
                images.append((size, dib(size, rgba_pixels(png, size))))

    # ICONDIR, one ICONDIRENTRY per image (0 stands for 256 and more), data.
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        side = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(ICO, "wb") as f:
        f.write(out)
    print("%s: %d images, %d bytes" % (os.path.relpath(ICO, ROOT), len(images), len(out)))


if __name__ == "__main__":
    main()
