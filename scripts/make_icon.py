#!/usr/bin/env python3
"""Renders the text pixel map res/icon.txt into a Windows .ico with seven sizes.

Each size is a PNG image (Vista and later read PNG icon entries). Downscaling
averages the covered source pixels; upscaling repeats them.
"""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128, 256)


def read_map(path):
    palette, rows = {}, []
    with open(path, encoding="ascii") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            parts = line.split()
            if len(parts) == 2 and len(parts[0]) == 1 and len(parts[1]) == 8:
                palette[parts[0]] = bytes.fromhex(parts[1])
            else:
                rows.append(line)
    width = len(rows[0])
    if any(len(r) != width for r in rows) or len(rows) != width:
        raise SystemExit(f"{path}: the pixel map must be square")
    return [[palette[c] for c in r] for r in rows]


def scale(pixels, size):
    n = len(pixels)
    out = []
    for y in range(size):
        y0, y1 = y * n // size, max(y * n // size + 1, (y + 1) * n // size)
        row = bytearray()
        for x in range(size):
            x0, x1 = x * n // size, max(x * n // size + 1, (x + 1) * n // size)
            cover = [pixels[j][i] for j in range(y0, y1) for i in range(x0, x1)]
            alpha = sum(p[3] for p in cover)
            for ch in range(3):
                # Alpha-weighted colour so transparent corners do not darken the edge.
                row.append(sum(p[ch] * p[3] for p in cover) // alpha if alpha else 0)
            row.append(alpha // len(cover))
        out.append(bytes(row))
    return out


def png(rows, size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    raw = b"".join(b"\x00" + r for r in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: make_icon.py SOURCE.txt OUTPUT.ico")
    pixels = read_map(sys.argv[1])
    images = [png(scale(pixels, s), s) for s in SIZES]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, data = b"", b""
    for s, img in zip(SIZES, images):
        entries += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
        data += img
    with open(sys.argv[2], "wb") as f:
        f.write(header + entries + data)


if __name__ == "__main__":
    main()
