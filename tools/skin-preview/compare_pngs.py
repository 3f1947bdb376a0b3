#!/usr/bin/env python3
"""Compares two folders of window pictures pixel by pixel.

usage: compare_pngs.py BEFORE_DIR AFTER_DIR [DIFF_DIR]

For every PNG present in both folders (matched by relative path) it prints
whether the sizes agree, how many pixels differ, the largest difference of a
colour channel and the rectangle holding every difference. With DIFF_DIR it
writes, for each picture that differs, a picture of the differences (black
where equal, red scaled by the difference elsewhere). Pictures of only one
folder are listed. Exit code 0 when every common picture is identical, 1
otherwise.

Plain Python: 8-bit grey, RGB and RGBA PNGs without interlacing, which is
what Qt and GDI+ write.
"""

import os
import struct
import sys
import zlib


def read_png(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG")
    pos, idat, width, height, colour, depth, interlace = 8, b"", 0, 0, 0, 0, 0
    palette = None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"PLTE":
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
    if depth != 8 or interlace:
        raise ValueError(f"{path}: only 8-bit, non-interlaced pictures are read")
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev, i = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[i], bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        for x in range(stride):
            a = line[x - channels] if x >= channels else 0
            b = prev[x]
            c = prev[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + b) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + ((a + b) >> 1)) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append(line)
        prev = line
    pixels = []
    for line in rows:
        out = []
        for x in range(width):
            px = line[x * channels:(x + 1) * channels]
            if colour == 0:
                out.append((px[0], px[0], px[0], 255))
            elif colour == 2:
                out.append((px[0], px[1], px[2], 255))
            elif colour == 3:
                out.append(palette[px[0]] + (255,))
            elif colour == 4:
                out.append((px[0], px[0], px[0], px[1]))
            else:
                out.append(tuple(px))
        pixels.append(out)
    return width, height, pixels


def write_png(path, width, height, rows):
    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 6)))
        f.write(chunk(b"IEND", b""))


def pictures(folder):
    found = set()
    for root, _, files in os.walk(folder):
        for name in files:
            if name.lower().endswith(".png"):
                found.add(os.path.relpath(os.path.join(root, name), folder))
    return found


def main(argv):
    if len(argv) not in (3, 4):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    before, after = argv[1], argv[2]
    diff_dir = argv[3] if len(argv) == 4 else None
    a, b = pictures(before), pictures(after)
    differing = 0
    for name in sorted(a - b):
        print(f"only before: {name}")
    for name in sorted(b - a):
        print(f"only after:  {name}")
    for name in sorted(a & b):
        w1, h1, p1 = read_png(os.path.join(before, name))
        w2, h2, p2 = read_png(os.path.join(after, name))
        if (w1, h1) != (w2, h2):
            print(f"{name}: size {w1}x{h1} -> {w2}x{h2}")
            differing += 1
            continue
        count, worst, box = 0, 0, None
        diff_rows = []
        for y in range(h1):
            row = []
            for x in range(w1):
                d = max(abs(p1[y][x][i] - p2[y][x][i]) for i in range(4))
                if d:
                    count += 1
                    worst = max(worst, d)
                    box = (x, y, x, y) if box is None else (min(box[0], x), min(box[1], y), max(box[2], x), max(box[3], y))
                row.append((min(255, 64 + d * 4) if d else 0, 0, 0))
            diff_rows.append(row)
        if count == 0:
            print(f"{name}: identical ({w1}x{h1})")
            continue
        differing += 1
        print(f"{name}: {count} pixels differ ({100.0 * count / (w1 * h1):.3f} %), largest channel difference {worst},"
              f" within {box[0]},{box[1]} - {box[2]},{box[3]}")
        if diff_dir:
            os.makedirs(os.path.dirname(os.path.join(diff_dir, name)) or diff_dir, exist_ok=True)
            write_png(os.path.join(diff_dir, name), w1, h1, diff_rows)
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
