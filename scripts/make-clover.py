#!/usr/bin/env python3
"""Draws the viewers' clover strip: a vine with green four-leaf clovers, 303 x 25 pixels,
written as a one-frame GIF89a with a 64-colour palette whose index 0 is transparent.
Writes viewers/clover.gif; run from the project root. The output is committed."""
import math
import struct

W, H = 303, 25

# index 0: transparent; 1..31 greens (dark to light); 32..47 vine browns; rest unused greys
PALETTE = [(255, 0, 255)]
for i in range(31):
    t = i / 30
    PALETTE.append((int(20 + 120 * t), int(90 + 140 * t), int(20 + 80 * t)))
for i in range(16):
    t = i / 15
    PALETTE.append((int(70 + 60 * t), int(90 + 50 * t), int(30 + 20 * t)))
while len(PALETTE) < 64:
    g = 40 + 3 * len(PALETTE)
    PALETTE.append((g, g, g))


def green(shade):
    return 1 + max(0, min(30, int(shade * 30)))


def vine_y(x):
    return 12.5 + 4.0 * math.sin(x / 14.0)


def draw():
    px = [[0] * W for _ in range(H)]
    # the vine
    for x in range(W):
        y = vine_y(x)
        for yy in range(H):
            d = abs(yy + 0.5 - y)
            if d < 1.2:
                px[yy][x] = 32 + int(15 * (1 - d / 1.2))
    # clovers sit on the vine every 30 pixels, alternating above and below it
    for n, cx in enumerate(range(14, W - 6, 30)):
        cy = vine_y(cx) + (-4 if n % 2 == 0 else 4)
        cy = max(7.5, min(H - 7.5, cy))
        for yy in range(H):
            for xx in range(max(0, cx - 9), min(W, cx + 10)):
                best = None
                for a in range(4):
                    ang = math.pi / 4 + a * math.pi / 2
                    lx, ly = cx + 3.2 * math.cos(ang), cy + 3.2 * math.sin(ang)
                    d = math.hypot(xx + 0.5 - lx, yy + 0.5 - ly)
                    if d < 3.4:
                        shade = 1 - d / 3.4
                        best = shade if best is None else max(best, shade)
                if best is not None:
                    px[yy][xx] = green(0.25 + 0.75 * best)
        # the clover's heart
        px[int(cy)][cx] = green(0.1)
    return px


def lzw(indices, min_code=6):
    """Literal-only LZW: a clear code every 60 codes keeps the code width at 7 bits,
    which every decoder reads."""
    clear, end = 1 << min_code, (1 << min_code) + 1
    width = min_code + 1
    codes = [clear]
    for i, v in enumerate(indices):
        if i and i % 60 == 0:
            codes.append(clear)
        codes.append(v)
    codes.append(end)
    out, acc, nbits = bytearray(), 0, 0
    for c in codes:
        acc |= c << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xff)
            acc >>= 8
            nbits -= 8
    if nbits:
        out.append(acc & 0xff)
    return bytes(out)


def gif(px):
    data = b'GIF89a' + struct.pack('<HHBBB', W, H, 0xF5, 0, 0)  # global table, 64 entries
    data += b''.join(bytes(c) for c in PALETTE)
    data += b'\x21\xf9\x04\x01\x00\x00\x00\x00'                   # transparent index 0
    data += b'\x2c' + struct.pack('<HHHHB', 0, 0, W, H, 0)
    stream = lzw([v for row in px for v in row])
    data += b'\x06'
    for i in range(0, len(stream), 255):
        chunk = stream[i:i + 255]
        data += bytes([len(chunk)]) + chunk
    return data + b'\x00\x3b'


if __name__ == '__main__':
    with open('viewers/clover.gif', 'wb') as f:
        f.write(gif(draw()))
