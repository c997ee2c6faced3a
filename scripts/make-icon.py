#!/usr/bin/env python3
"""Draws resources/bundlo.ico: a parcel tied with a strap, at 16, 32 and 48 pixels, 32-bit colour.

The icon is an asset checked in beside the resource script; run this only to redraw it.
"""
import struct
import sys


def pixel(x, y, n):
    """Colour (B, G, R, A) of one pixel of an n x n parcel, y counted from the top."""
    m = max(1, n // 16)  # margin and line width scale with the size
    left, right, top, bottom = m, n - 1 - m, 3 * m, n - 1 - m
    if not (left <= x <= right and top <= y <= bottom):
        return (0, 0, 0, 0)
    edge = x in (left, right) or y in (top, bottom)
    if edge:
        return (0x1F, 0x3C, 0x6B, 0xFF)  # dark brown outline
    mid = n // 2
    if abs(x - mid) < m or abs(y - (top + bottom) // 2) < m:
        return (0x2B, 0x2B, 0xC8, 0xFF)  # red strap
    if y < top + 2 * m:
        return (0x5A, 0x9E, 0xE6, 0xFF)  # lid, lighter
    return (0x3E, 0x84, 0xD2, 0xFF)  # cardboard


def image(n):
    rows = []
    for y in range(n - 1, -1, -1):  # bottom-up, as DIBs are stored
        rows.append(b"".join(struct.pack("4B", *pixel(x, y, n)) for x in range(n)))
    xor = b"".join(rows)
    mask_row = ((n + 31) // 32) * 4
    and_mask = bytes(mask_row * n)  # alpha decides; the mask stays clear
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main(path):
    sizes = [16, 32, 48]
    images = [image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/bundlo.ico")
