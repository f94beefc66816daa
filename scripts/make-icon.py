#!/usr/bin/env python3
"""Draws the program icon and writes resources/qornsfx.ico.

Four images of 16, 24, 32 and 48 pixels, 32 bits per pixel. The 16-pixel
image is stored as a plain DIB (the oldest shells read nothing else for the
small icon); the larger ones are stored PNG-compressed, which costs a fifth
of the bytes in the stub. Needs ImageMagick's convert.
"""
import os
import struct
import subprocess
import sys
import tempfile


def draw(size, path):
    s = size
    r = max(1, s // 8)
    subprocess.run([
        "convert", "-size", f"{s}x{s}", "xc:none",
        "-fill", "#2f6fb3", "-stroke", "#1d4777", "-strokewidth", "1",
        "-draw", f"roundrectangle 1,{s // 4} {s - 2},{s - 2} {r},{r}",
        "-fill", "#f2c14e", "-stroke", "none",
        "-draw", f"rectangle {s * 3 // 8},{s // 4} {s * 5 // 8 - 1},{s * 5 // 8}",
        "-fill", "#ffffff",
        "-draw", f"polygon {s // 4},{s // 2} {s * 3 // 4},{s // 2} {s // 2},{s * 7 // 8 - 1}",
        "-strip", "PNG32:" + path], check=True)


def rgba(path, size):
    out = subprocess.run(["convert", path, "-depth", "8", "RGBA:-"], check=True,
                         capture_output=True).stdout
    assert len(out) == size * size * 4
    return out


def dib(pixels, size):
    """A 32-bpp icon DIB: header with double height, BGRA rows bottom-up, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in range(size - 1, -1, -1):
        row = bytearray()
        for x in range(size):
            r, g, b, a = pixels[(y * size + x) * 4:(y * size + x) * 4 + 4]
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        bits = bytearray(mask_stride)
        for x in range(size):
            if pixels[(y * size + x) * 4 + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + b"".join(rows) + bytes(mask)


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(__file__), "..", "resources", "qornsfx.ico")
    images = []
    with tempfile.TemporaryDirectory() as tmp:
        for size in (16, 24, 32, 48):
            png = os.path.join(tmp, f"{size}.png")
            draw(size, png)
            if size == 16:
                images.append((size, dib(rgba(png, size), size)))
            else:
                with open(png, "rb") as f:
                    images.append((size, f.read()))
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, blob in images:
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    data += b"".join(blob for _, blob in images)
    with open(target, "wb") as f:
        f.write(data)
    print(f"{target}: {len(data)} bytes")


if __name__ == "__main__":
    main()
