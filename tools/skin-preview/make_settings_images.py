#!/usr/bin/env python3
"""Draws the images of the settings window, the selective synchronisation
window and the copy window (res/settings/*.png) with the drawing helpers of
make_images.py.

Run from anywhere: python3 tools/skin-preview/make_settings_images.py. The
images are committed; run it again after changing a drawing.
"""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_images import (ACCENT, INK, WHITE, Canvas, circle, line, rect, ring, rrect,  # noqa: E402
                         union)
from make_login_images import arrows  # noqa: E402

BORDER = (0x9A, 0xA5, 0xB1)


def main():
    # The task bar / tray choice: a round option, clear and chosen.
    c = Canvas(16, 16)
    c.fill(ring(8, 8, 6.4, 1.2), BORDER)
    c.save("settings/radio.png")
    c = Canvas(16, 16)
    c.fill(ring(8, 8, 6.4, 1.4), ACCENT)
    c.fill(circle(8, 8, 3.4), ACCENT)
    c.save("settings/radio_on.png")

    # Minimise, white on the blue title bar.
    c = Canvas(14, 14)
    c.fill(rect(2.5, 9.6, 11.5, 11.0), WHITE)
    c.save("settings/min.png")

    # The pages: general (a gear), Orlin's configuration (two arrows), about
    # (an "i" in a ring).
    c = Canvas(18, 18)
    teeth = []
    for k in range(8):
        a = math.radians(k * 45)
        teeth.append(line(9 + 5.2 * math.cos(a), 9 + 5.2 * math.sin(a), 9 + 7.6 * math.cos(a),
                          9 + 7.6 * math.sin(a), 2.4))
    c.fill(union(ring(9, 9, 4.3, 2.6), *teeth), INK)
    c.save("settings/general.png")
    c = Canvas(18, 18)
    arrows(9, 9, 5.2, 1.9, INK, c)
    c.save("settings/sync.png")
    c = Canvas(18, 18)
    c.fill(ring(9, 9, 7, 1.5), INK)
    c.fill(union(circle(9, 5.4, 1.2), rrect(8, 7.6, 10, 13, 0.6)), INK)
    c.save("settings/about.png")

    # The program's mark on the about page: the blue disc with white arrows.
    c = Canvas(64, 64)
    c.fill(circle(32, 32, 31), ACCENT)
    arrows(32, 32, 17, 6, WHITE, c)
    c.save("settings/logo.png")


if __name__ == "__main__":
    main()
