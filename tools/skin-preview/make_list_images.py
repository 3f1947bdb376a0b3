#!/usr/bin/env python3
"""Draws the status lists' row icons (PNG, RGBA) with make_images.py's canvas.

Run from anywhere: python3 tools/skin-preview/make_list_images.py. The images are
committed; run it again after changing a drawing.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_images import ACCENT, INK, WHITE, Canvas, circle, line, poly, ring, union  # noqa: E402

GREY = (0xB0, 0xBB, 0xC7)


def main():
    # A file in transfer: a down arrow in an accent disc.
    c = Canvas(16, 16)
    c.fill(circle(8, 8, 7), ACCENT)
    c.fill(union(line(8, 3.8, 8, 9.5, 1.8), poly([(4.6, 8.2), (11.4, 8.2), (8, 12.2)])), WHITE)
    c.save("list/progress.png")

    # A file waiting its turn: a clock face.
    c = Canvas(16, 16)
    c.fill(ring(8, 8, 6, 1.5), GREY)
    c.fill(union(line(8, 8, 8, 4.4, 1.4), line(8, 8, 10.6, 9.6, 1.4)), INK)
    c.save("list/queued.png")


if __name__ == "__main__":
    main()
