#!/usr/bin/env python3
"""Packs PNG images into a Windows icon file (.ico) for the program's icon
resource: images up to 128 pixels as 32-bit DIBs with their alpha and an AND
mask (every Windows and Wine reads those), a 256-pixel one as PNG, as the
shell expects for that size.

    make_icon.py OUT.ico IMAGE.png...

Only what our images are is read: 8-bit RGBA or RGB, not interlaced.
"""
import struct
import sys
import zlib


def read_png(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"make_icon: {path} is no PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        sys.exit(f"make_icon: {path} is not 8-bit RGB(A) without interlacing")
    channels = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prior, pos = [], bytearray(stride), 0
    for _ in range(height):
        kind = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = prior[i]
            corner = prior[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + ((left + up) >> 1)) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                predictor = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + predictor) & 0xFF
        rows.append(line)
        prior = line
    pixels = []
    for line in rows:
        row = []
        for x in range(width):
            px = line[x * channels:(x + 1) * channels]
            row.append((px[0], px[1], px[2], px[3] if channels == 4 else 255))
        pixels.append(row)
    return width, height, pixels, data


def dib(width, height, pixels):
    # BITMAPINFOHEADER with twice the height (image and mask), bottom-up.
    out = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    for row in reversed(pixels):
        for r, g, b, a in row:
            out += bytes((b, g, r, a))
    mask_stride = ((width + 31) // 32) * 4
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    images = []
    for path in sys.argv[2:]:
        width, height, pixels, png = read_png(path)
        body = png if width >= 256 else dib(width, height, pixels)
        images.append((width, height, body))
    images.sort(key=lambda image: image[0])
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, height, body in images:
        out += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(body), offset)
        offset += len(body)
    for _, _, body in images:
        out += body
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
