#!/usr/bin/env python3
"""Draws the program's icon: a small photo album (orange cover, a photo of a green hill
under a sun). Writes app/icons/photoforKP.ico with nine images (16, 32 and 48 pixels at
4, 8 and 32 bits per pixel) and app/icons/photoforKP-<size>.png (16 to 256 pixels) for
desktop launchers.
Run from the project root; the output is committed."""
import math
import struct
import zlib

SS = 4  # supersampling per axis


def clamp(v, lo=0.0, hi=1.0):
    return max(lo, min(hi, v))


def rounded_box(x, y, x0, y0, x1, y1, r):
    """Signed distance (pixels) to a rounded rectangle; negative inside."""
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r
    dx, dy = abs(x - cx) - hx, abs(y - cy) - hy
    outside = math.hypot(max(dx, 0), max(dy, 0))
    return outside + min(max(dx, dy), 0) - r


def sample(u, v):
    """Colour (r, g, b, a) at normalised point (u, v) in 0..1."""
    layers = []
    # album cover with a darker spine
    d = rounded_box(u, v, 0.08, 0.06, 0.94, 0.94, 0.08)
    if d <= 0:
        col = (0.87, 0.45, 0.13) if u > 0.22 else (0.62, 0.28, 0.07)
        layers.append(col)
    else:
        return None
    # photo: white border, sky, hill, sun
    if 0.30 <= u <= 0.86 and 0.20 <= v <= 0.74:
        if 0.35 <= u <= 0.81 and 0.25 <= v <= 0.69:
            hill = 0.58 - 0.12 * math.cos((u - 0.58) * 7.0)
            if v > hill:
                col = (0.22, 0.62, 0.20)
            elif math.hypot(u - 0.70, v - 0.36) < 0.07:
                col = (1.0, 0.82, 0.10)
            else:
                col = (0.45, 0.72, 0.95)
        else:
            col = (0.98, 0.97, 0.93)
        layers.append(col)
    # two binding rings on the spine
    for ry in (0.30, 0.70):
        if math.hypot(u - 0.15, v - ry) < 0.055:
            layers.append((0.90, 0.90, 0.88))
    return layers[-1] + (1.0,)


def render(size):
    px = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SS):
                for sx in range(SS):
                    c = sample((x + (sx + 0.5) / SS) / size, (y + (sy + 0.5) / SS) / size)
                    if c:
                        for i in range(3):
                            acc[i] += c[i]
                        acc[3] += 1
            n = SS * SS
            a = acc[3] / n
            if acc[3]:
                rgb = [int(round(255 * acc[i] / acc[3])) for i in range(3)]
            else:
                rgb = [0, 0, 0]
            row.append((rgb[0], rgb[1], rgb[2], int(round(255 * a))))
        px.append(row)
    return px


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]
CUBE = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
PAL256 = CUBE + [(int(i * 255 / 39),) * 3 for i in range(40)]


def nearest(palette, c):
    return min(range(len(palette)), key=lambda i: sum((palette[i][k] - c[k]) ** 2 for k in range(3)))


def row_bytes(bits, width):
    return ((bits * width + 31) // 32) * 4


def and_mask(px):
    size = len(px)
    stride = row_bytes(1, size)
    out = bytearray()
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            if px[y][x][3] < 128:
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def dib(px, bits):
    size = len(px)
    palette = {4: VGA16, 8: PAL256}.get(bits, [])
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0,
                         len(palette) if bits < 32 else 0, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in palette)
    stride = row_bytes(bits, size)
    xor = bytearray()
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            r, g, b, a = px[y][x]
            if bits == 32:
                row[4 * x:4 * x + 4] = bytes((b, g, r, a))
            else:
                i = nearest(palette, (r, g, b)) if a >= 128 else 0
                if bits == 8:
                    row[x] = i
                else:
                    row[x // 2] |= i << (4 if x % 2 == 0 else 0)
        xor += row
    return header + pal + bytes(xor) + and_mask(px)


def png(px):
    size = len(px)
    raw = b''.join(b'\x00' + bytes(v for p in row for v in p) for row in px)

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def main():
    images = []
    renders = {s: render(s) for s in (16, 32, 48, 64, 128, 256)}
    for bits in (4, 8, 32):
        for s in (16, 32, 48):
            images.append((s, bits, dib(renders[s], bits)))
    head = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b'', b''
    for s, bits, data in images:
        colours = 16 if bits == 4 else 0
        entries += struct.pack('<BBBBHHII', s, s, colours, 0, 1, bits, len(data), offset + len(blobs))
        blobs += data
    with open('app/icons/photoforKP.ico', 'wb') as f:
        f.write(head + entries + blobs)
    for s, p in renders.items():
        with open('app/icons/photoforKP-%d.png' % s, 'wb') as f:
            f.write(png(p))


if __name__ == '__main__':
    main()
