#!/usr/bin/env python3
"""Draws the images of the login window and the sync folder location window
(res/login/*.png) with the drawing helpers of make_images.py.

Run from anywhere: python3 tools/skin-preview/make_login_images.py. The images
are committed; run it again after changing a drawing.
"""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_images import (ACCENT, INK, WHITE, Canvas, circle, line, minus, poly,  # noqa: E402
                         rect, ring, rrect, union)

MUTED = (0x7B, 0x87, 0x94)
BORDER = (0x9A, 0xA5, 0xB1)


def arrows(cx, cy, r, t, color, c):
    """The program's mark: two arrows chasing each other around a disc."""
    c.fill(ring(cx, cy, r, t, 20, 160), color)
    c.fill(ring(cx, cy, r, t, 200, 340), color)
    k = r / 8.5
    c.fill(poly([(cx + 8.5 * k, cy - 7 * k), (cx + 11.5 * k, cy - 0.5 * k), (cx + 4.5 * k, cy - 1.5 * k)]), color)
    c.fill(poly([(cx - 8.5 * k, cy + 7 * k), (cx - 11.5 * k, cy + 0.5 * k), (cx - 4.5 * k, cy + 1.5 * k)]), color)


def main():
    # The brand mark on the blue side of the login window: a white disc with
    # the blue arrows.
    c = Canvas(88, 88)
    c.fill(circle(44, 44, 43), WHITE)
    arrows(44, 44, 23, 8, ACCENT, c)
    c.save("login/logo.png")

    # Title bar buttons on the white side: dark marks.
    c = Canvas(14, 14)
    c.fill(union(line(3, 3, 11, 11, 1.5), line(11, 3, 3, 11, 1.5)), INK)
    c.save("login/close.png")
    c = Canvas(14, 14)
    c.fill(rect(2.5, 9.6, 11.5, 11.0), INK)
    c.save("login/min.png")

    # Language: a globe.
    c = Canvas(16, 16)
    c.fill(ring(8, 8, 6.2, 1.3), INK)
    c.fill(line(2, 8, 14, 8, 1.1), INK)
    c.fill(lambda x, y: abs((x - 8) ** 2 / 8 + (y - 8) ** 2 / 38 - 1) < 0.3, INK)
    c.save("login/language.png")

    # Field marks: server, user, password.
    c = Canvas(16, 16)
    c.fill(rrect(2, 2, 14, 7, 1.3), MUTED)
    c.fill(rrect(2, 9, 14, 14, 1.3), MUTED)
    c.fill(union(circle(11.3, 4.5, 0.9), circle(11.3, 11.5, 0.9)), WHITE)
    c.save("login/server.png")
    c = Canvas(16, 16)
    c.fill(circle(8, 5.3, 3.2), MUTED)
    c.fill(lambda x, y: y >= 9.2 and y <= 14.5 and (x - 8) ** 2 / 36 + (y - 15) ** 2 / 30 <= 1, MUTED)
    c.save("login/user.png")
    c = Canvas(16, 16)
    c.fill(ring(8, 6, 3.2, 1.5, 0, 180), MUTED)
    c.fill(union(rect(4.05, 5.8, 5.55, 8), rect(10.45, 5.8, 11.95, 8)), MUTED)
    c.fill(minus(rrect(2.5, 7.5, 13.5, 14.5, 1.5), circle(8, 11, 1.2)), MUTED)
    c.save("login/password.png")

    # The default-location check box, clear and ticked.
    c = Canvas(16, 16)
    c.fill(minus(rrect(1.5, 1.5, 14.5, 14.5, 2.5), rrect(2.7, 2.7, 13.3, 13.3, 1.6)), BORDER)
    c.save("login/check.png")
    c = Canvas(16, 16)
    c.fill(rrect(1.5, 1.5, 14.5, 14.5, 2.5), ACCENT)
    c.fill(union(line(4.3, 8.2, 6.9, 10.8, 1.8), line(6.9, 10.8, 11.8, 5.2, 1.8)), WHITE)
    c.save("login/check_on.png")

    # The folder mark of the browse button.
    c = Canvas(16, 16)
    c.fill(union(rrect(1.5, 3, 7, 6, 1), rrect(1.5, 4.5, 14.5, 13, 1.2)), ACCENT)
    c.save("login/folder.png")


if __name__ == "__main__":
    main()
