#!/usr/bin/env python3
"""Puts the pictures of two folders side by side.

usage: side_by_side.py LEFT_DIR RIGHT_DIR OUT_DIR

For every PNG present in both folders (matched by name) it writes OUT_DIR/NAME:
the left picture, a grey gap, the right one, on a white ground as tall as the
taller of the two. Prints one line per picture with both sizes.
"""

import os
import sys

from compare_pngs import read_png, write_png

GAP = 16
GROUND = (255, 255, 255)
SEPARATOR = (160, 160, 160)


def flatten(px):
    # Transparent parts over white.
    r, g, b, a = px
    return tuple((c * a + 255 * (255 - a)) // 255 for c in (r, g, b))


def main(argv):
    if len(argv) != 4:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    left_dir, right_dir, out_dir = argv[1:]
    os.makedirs(out_dir, exist_ok=True)
    names = sorted(n for n in os.listdir(left_dir) if n.endswith(".png") and os.path.exists(os.path.join(right_dir, n)))
    for name in names:
        w1, h1, p1 = read_png(os.path.join(left_dir, name))
        w2, h2, p2 = read_png(os.path.join(right_dir, name))
        width, height = w1 + GAP + w2, max(h1, h2)
        rows = []
        for y in range(height):
            row = [flatten(p1[y][x]) if y < h1 else GROUND for x in range(w1)]
            row += [SEPARATOR if x == GAP // 2 else GROUND for x in range(GAP)]
            row += [flatten(p2[y][x]) if y < h2 else GROUND for x in range(w2)]
            rows.append(row)
        write_png(os.path.join(out_dir, name), width, height, rows)
        print(f"{name}: {w1}x{h1} | {w2}x{h2}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
