#!/usr/bin/env python3
"""Draws Orlin's window images (PNG, RGBA) with the standard library only.

Run from anywhere: python3 tools/skin-preview/make_images.py. The images are committed;
run it again after changing a drawing.
"""
import math
import os
import struct
import zlib

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "res")
ACCENT = (0x2F, 0x6F, 0xDE)
ACCENT_DARK = (0x24, 0x5B, 0xC0)
INK = (0x52, 0x60, 0x6D)
RED = (0xD6, 0x45, 0x45)
GREEN = (0x2E, 0xA0, 0x5A)
WHITE = (0xFF, 0xFF, 0xFF)
SS = 4  # samples per pixel and axis


def write_png(path, w, h, pixels):
    raw = b"".join(b"\x00" + bytes(pixels[y * w * 4:(y + 1) * w * 4]) for y in range(h))

    def chunk(tag, data):
        c = struct.pack(">I", len(data)) + tag + data
        return c + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(png)


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [0.0] * (w * h * 4)  # premultiplied rgba in 0..1

    def fill(self, inside, color, alpha=1.0):
        r, g, b = (c / 255.0 for c in color)
        for y in range(self.h):
            for x in range(self.w):
                hits = 0
                for sy in range(SS):
                    for sx in range(SS):
                        if inside(x + (sx + 0.5) / SS, y + (sy + 0.5) / SS):
                            hits += 1
                if not hits:
                    continue
                a = alpha * hits / (SS * SS)
                i = (y * self.w + x) * 4
                p = self.px
                p[i] = r * a + p[i] * (1 - a)
                p[i + 1] = g * a + p[i + 1] * (1 - a)
                p[i + 2] = b * a + p[i + 2] * (1 - a)
                p[i + 3] = a + p[i + 3] * (1 - a)

    def save(self, name):
        out = []
        for i in range(0, len(self.px), 4):
            a = self.px[i + 3]
            if a <= 0:
                out += [0, 0, 0, 0]
            else:
                out += [round(min(self.px[i + k] / a, 1) * 255) for k in range(3)] + [round(a * 255)]
        write_png(os.path.join(HERE, name), self.w, self.h, out)


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r, t, start=None, end=None):
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if not (r - t / 2 <= d <= r + t / 2):
            return False
        if start is None:
            return True
        a = math.degrees(math.atan2(cy - y, x - cx)) % 360
        return (a - start) % 360 <= (end - start) % 360
    return inside


def rect(l, t, r, b):
    return lambda x, y: l <= x <= r and t <= y <= b


def rrect(l, t, r, b, rad):
    def inside(x, y):
        if not (l <= x <= r and t <= y <= b):
            return False
        cx = min(max(x, l + rad), r - rad)
        cy = min(max(y, t + rad), b - rad)
        return (x - cx) ** 2 + (y - cy) ** 2 <= rad * rad
    return inside


def line(x1, y1, x2, y2, w):
    def inside(x, y):
        dx, dy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - (x1 + t * dx), y - (y1 + t * dy)) <= w / 2
    return inside


def poly(points):
    def inside(x, y):
        n, c = len(points), False
        for i in range(n):
            (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
            if (ay > y) != (by > y) and x < (bx - ax) * (y - ay) / (by - ay) + ax:
                c = not c
        return c
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def main():
    c = Canvas(14, 14)  # close cross, white on the blue title bar
    c.fill(union(line(3, 3, 11, 11, 1.6), line(11, 3, 3, 11, 1.6)), WHITE)
    c.save("common/close.png")

    c = Canvas(36, 36)  # information mark of the message window
    c.fill(circle(18, 18, 17), ACCENT)
    c.fill(union(circle(18, 10.5, 2.3), rrect(16, 15, 20, 27.5, 1.5)), WHITE)
    c.save("common/info.png")

    c = Canvas(9, 9)  # current language in the language menu
    c.fill(union(line(1.2, 4.8, 3.6, 7.2, 1.6), line(3.6, 7.2, 7.9, 1.8, 1.6)), ACCENT)
    c.save("common/menu_check.png")

    # Program and tray icon: two arrows around a disc. The larger sizes are
    # the desktop's (the Linux package puts them in the icon theme).
    for size in (256, 128, 64, 48, 32, 16):
        s = size / 32.0
        c = Canvas(size, size)
        c.fill(rrect(1 * s, 1 * s, 31 * s, 31 * s, 7 * s), ACCENT)
        c.fill(ring(16 * s, 16 * s, 8.5 * s, 3 * s, 20, 160), WHITE)
        c.fill(ring(16 * s, 16 * s, 8.5 * s, 3 * s, 200, 340), WHITE)
        c.fill(poly([(24.5 * s, 9 * s), (27.5 * s, 15.5 * s), (20.5 * s, 14.5 * s)]), WHITE)
        c.fill(poly([(7.5 * s, 23 * s), (4.5 * s, 16.5 * s), (11.5 * s, 17.5 * s)]), WHITE)
        c.save({32: "icons/128.png", 16: "icons/128-16.png"}.get(size, "icons/orlin-%d.png" % size))

    tray = {
        "folder": [(union(rrect(1.5, 3, 7, 6, 1), rrect(1.5, 4.5, 14.5, 13, 1.2)), ACCENT)],
        "panel": [(rrect(1.5, 2.5, 14.5, 13.5, 1.5), INK), (rect(3, 5.5, 13, 12), WHITE),
                  (rect(4.5, 7, 8, 10.5), ACCENT)],
        "web": [(ring(8, 8, 6, 1.4), ACCENT), (line(2, 8, 14, 8, 1.2), ACCENT),
                (lambda x, y: abs((x - 8) ** 2 / 9 + (y - 8) ** 2 / 36 - 1) < 0.28, ACCENT)],
        "upgrade": [(circle(8, 8, 7), GREEN),
                    (union(poly([(8, 3.2), (12.2, 8), (3.8, 8)]), rect(6.6, 7.5, 9.4, 12.5)), WHITE)],
        "start": [(circle(8, 8, 7), ACCENT), (poly([(6.2, 4.6), (11.6, 8), (6.2, 11.4)]), WHITE)],
        "pause": [(circle(8, 8, 7), INK), (union(rect(5.3, 4.8, 7.1, 11.2), rect(8.9, 4.8, 10.7, 11.2)), WHITE)],
        "setting": [(minus(union(circle(8, 8, 5.2), *[
            rrect(8 + 6 * math.cos(a) - 1.4, 8 + 6 * math.sin(a) - 1.4, 8 + 6 * math.cos(a) + 1.4,
                  8 + 6 * math.sin(a) + 1.4, 0.6) for a in [k * math.pi / 4 for k in range(8)]]),
            circle(8, 8, 2.2)), INK)],
        "logoff": [(ring(8, 8.5, 5.5, 1.6, 120, 60), INK), (line(8, 1.5, 8, 8, 1.7), INK)],
        "exit": [(circle(8, 8, 7), RED), (union(line(5.3, 5.3, 10.7, 10.7, 1.7), line(10.7, 5.3, 5.3, 10.7, 1.7)), WHITE)],
    }
    for name, layers in tray.items():
        c = Canvas(16, 16)
        for shape, color in layers:
            c.fill(shape, color)
        c.save("tray/%s.png" % name)


if __name__ == "__main__":
    main()
