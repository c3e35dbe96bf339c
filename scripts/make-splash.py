#!/usr/bin/env python3
"""Paints the splash picture: a meadow under an evening sky with scattered photo prints
and paw prints. Writes splash/splash.bmp, an uncompressed 24-bit bitmap of 411 x 188
pixels (40-byte info header, no colour table, rows bottom-up padded to 4 bytes,
3780 pixels per metre: 232,422 bytes). Run from the project root; the output is
committed."""
import math
import struct

W, H = 411, 188


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def photo(x, y, cx, cy, w, h, angle, tint):
    """A tilted print with a white border; returns a colour or None."""
    c, s = math.cos(angle), math.sin(angle)
    dx, dy = x - cx, y - cy
    u, v = dx * c + dy * s, -dx * s + dy * c
    if abs(u) > w / 2 or abs(v) > h / 2:
        return None
    if abs(u) > w / 2 - 4 or abs(v) > h / 2 - 4 or v > h / 2 - 12:
        return (250, 248, 240)
    # a tiny landscape inside the print
    if v > 2 + 5 * math.sin(u / 6):
        return mix(tint, (40, 110, 40), 0.6)
    return mix(tint, (190, 225, 250), 0.5)


def paw(x, y, cx, cy, r):
    if math.hypot(x - cx, (y - cy) * 1.2) < r:
        return True
    for ox, oy in ((-0.9, -1.1), (-0.3, -1.6), (0.3, -1.6), (0.9, -1.1)):
        if math.hypot(x - (cx + ox * r), y - (cy + oy * r)) < r * 0.38:
            return True
    return False


PHOTOS = [(95, 78, 70, 56, -0.18, (250, 200, 150)), (205, 66, 78, 60, 0.08, (180, 210, 255)),
          (318, 84, 70, 56, 0.22, (255, 220, 230))]
PAWS = [(30 + 36 * i, 168 - (i % 2) * 10) for i in range(11)]


def pixel(x, y):
    # sky: warm evening gradient
    col = mix((255, 214, 150), (120, 170, 230), y / H * 1.6 if y < H / 1.6 else 1.0)
    # sun
    d = math.hypot(x - 350, y - 30)
    if d < 18:
        col = (255, 240, 190)
    elif d < 30:
        col = mix((255, 240, 190), col, (d - 18) / 12)
    # hills
    hill1 = 125 + 12 * math.sin(x / 40.0)
    hill2 = 140 + 9 * math.sin(x / 23.0 + 1.3)
    if y > hill1:
        col = mix((120, 190, 90), (80, 150, 60), min(1, (y - hill1) / 60))
    if y > hill2:
        col = mix((90, 170, 70), (50, 120, 45), min(1, (y - hill2) / 50))
    for p in PHOTOS:
        c = photo(x, y, *p)
        if c:
            col = c
    for cx, cy in PAWS:
        if paw(x, y, cx, cy, 5):
            col = mix(col, (60, 40, 30), 0.55)
    return col


def main():
    stride = (W * 3 + 3) // 4 * 4
    rows = []
    for y in reversed(range(H)):
        row = bytearray()
        for x in range(W):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += b'\0' * (stride - len(row))
        rows.append(bytes(row))
    pixels = b''.join(rows)
    info = struct.pack('<IiiHHIIiiII', 40, W, H, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    header = b'BM' + struct.pack('<IHHI', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    data = header + info + pixels
    assert len(data) == 232422, len(data)
    with open('splash/splash.bmp', 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
