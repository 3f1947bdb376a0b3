#!/usr/bin/env python3
"""Draws the main window's toolbar and title bar images (PNG, RGBA) with
make_images.py's canvas.

Run from anywhere: python3 tools/skin-preview/make_mainwnd_images.py. The images
are committed; run it again after changing a drawing.
"""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_images import (ACCENT, INK, WHITE, Canvas, circle, line, minus, poly, rect, ring,  # noqa: E402
                         rrect, union)

DARK = (0x1F, 0x29, 0x33)


def sync_arrows():
    # Two arrows chasing each other round a circle.
    return union(ring(8, 8, 5.2, 1.7, 30, 165), ring(8, 8, 5.2, 1.7, 210, 345),
                 poly([(12.9, 2.6), (14.6, 7.6), (9.8, 6.4)]),
                 poly([(3.1, 13.4), (1.4, 8.4), (6.2, 9.6)]))


def pause_bars():
    return union(rrect(4.2, 3, 6.9, 13, 0.8), rrect(9.1, 3, 11.8, 13, 0.8))


def refresh_arrow():
    return union(ring(8, 8.5, 5.2, 1.7, 100, 400 - 40), poly([(10.8, 1.2), (14.2, 4.6), (9.4, 6.0)]))


def gear():
    teeth = [rrect(8 + 5.6 * math.cos(a) - 1.3, 8 + 5.6 * math.sin(a) - 1.3, 8 + 5.6 * math.cos(a) + 1.3,
                   8 + 5.6 * math.sin(a) + 1.3, 0.5) for a in [k * math.pi / 4 for k in range(8)]]
    return minus(union(circle(8, 8, 4.8), *teeth), circle(8, 8, 2.0))


def folder():
    return union(rrect(1.5, 2.5, 7, 5.5, 1), rrect(1.5, 4, 14.5, 13, 1.2))


def save(name, layers, size=16):
    c = Canvas(size, size)
    for shape, color in layers:
        c.fill(shape, color)
    c.save("mainwnd/%s.png" % name)


def main():
    # The sync and pause buttons: dark on the grey inactive look, white on
    # the blue active one.
    save("sync_btn_normal", [(sync_arrows(), DARK)])
    save("sync_btn_selected", [(sync_arrows(), WHITE)])
    save("pause_btn_normal", [(pause_bars(), DARK)])
    save("pause_btn_selected", [(pause_bars(), WHITE)])

    save("refresh", [(refresh_arrow(), DARK)])
    save("preferences", [(gear(), DARK)])
    save("open_folder", [(folder(), DARK), (rect(3.5, 7, 12.5, 8), (0xB0, 0xBB, 0xC7))])
    save("add_folder", [(folder(), DARK), (union(rect(7.2, 6, 8.8, 12), rect(5, 8.2, 11, 9.8)), WHITE)])
    # Revert: an arrow turning back; override: an arrow pushing up through a bar.
    save("revert", [(union(ring(8.5, 9, 4.8, 1.7, 270 - 360, 100), poly([(1.6, 5.2), (6.6, 1.6), (6.6, 8.6)])),
                     DARK)])
    save("override", [(union(rect(2.5, 12, 13.5, 13.8), line(8, 10, 8, 3.5, 1.8),
                             poly([(4.2, 6.2), (11.8, 6.2), (8, 1.8)])), DARK)])

    # Title bar buttons, white on blue.
    save("language", [(ring(8, 8, 6.2, 1.3), WHITE), (line(2, 8, 14, 8, 1.1), WHITE),
                      (lambda x, y: abs((x - 8) ** 2 / 8 + (y - 8) ** 2 / 38 - 1) < 0.3, WHITE)])
    save("min", [(rect(3.5, 7.4, 12.5, 8.6), WHITE)])
    save("max", [(minus(rect(3.5, 3.5, 12.5, 12.5), rect(4.8, 4.8, 11.2, 11.2)), WHITE)])

    # Transfer direction marks of the status area.
    save("upload", [(union(line(8, 13, 8, 5, 1.8), poly([(3.8, 7.2), (12.2, 7.2), (8, 2.4)])), ACCENT)])
    save("download", [(union(line(8, 3, 8, 11, 1.8), poly([(3.8, 8.8), (12.2, 8.8), (8, 13.6)])), INK)])


if __name__ == "__main__":
    main()
