#!/usr/bin/env python3
"""Draws the crash reporter's 32 x 32 dialog pictures (RVIPLWAIT: an hourglass, RVISEND32: a letter with an
arrow) as 32-bit BMP files with straight alpha (rows bottom-up, blue, green, red, alpha), and writes a resource
script naming each one as a BITMAP resource. Edges are smoothed by sampling every pixel 4 x 4 times.
Usage: pictures.py OUTDIR RCFILE"""
import os
import struct
import sys

SIDE = 32
SAMPLES = 4


def inside_polygon(x, y, points):
    result = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def near_segment(x, y, a, b, width):
    (ax, ay), (bx, by) = a, b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / float(dx * dx + dy * dy)))
    px, py = ax + t * dx, ay + t * dy
    return (x - px) ** 2 + (y - py) ** 2 <= (width / 2.0) ** 2


def hourglass(x, y):
    """Colour (r, g, b) at a point of the hourglass, or None outside it."""
    if 6 <= x <= 26 and (3 <= y <= 6 or 26 <= y <= 29):
        return (120, 72, 32)  # wooden caps
    if (7 <= x <= 9 or 23 <= x <= 25) and 6 <= y <= 26:
        return (150, 96, 48)  # posts
    top = [(10, 7), (22, 7), (17, 16), (15, 16)]
    bottom = [(15, 16), (17, 16), (22, 25), (10, 25)]
    if inside_polygon(x, y, top):
        return (236, 200, 96) if y >= 11 else (214, 232, 244)  # sand left above, glass
    if inside_polygon(x, y, bottom):
        return (236, 200, 96) if y >= 20 else (214, 232, 244)
    if 15.5 <= x <= 16.5 and 16 <= y <= 21:
        return (236, 200, 96)  # falling sand
    return None


def letter(x, y):
    arrow = [(17, 4), (27, 4), (27, 14), (24, 11), (19, 16), (15, 12), (20, 7)]
    if inside_polygon(x, y, arrow):
        return (40, 150, 60)
    if 3 <= x <= 27 and 11 <= y <= 28:
        if x < 4 or x > 26 or y < 12 or y > 27:
            return (90, 100, 130)  # border
        if near_segment(x, y, (4, 12), (15.5, 21), 1.4) or near_segment(x, y, (26, 12), (15.5, 21), 1.4):
            return (90, 100, 130)  # flap
        return (250, 248, 240)
    return None


def render(shape):
    pixels = []
    for row in range(SIDE):
        line = []
        for col in range(SIDE):
            hits, r, g, b = 0, 0, 0, 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = shape(col + (sx + 0.5) / SAMPLES, row + (sy + 0.5) / SAMPLES)
                    if c:
                        hits += 1
                        r, g, b = r + c[0], g + c[1], b + c[2]
            if hits:
                line.append((r // hits, g // hits, b // hits, hits * 255 // (SAMPLES * SAMPLES)))
            else:
                line.append((0, 0, 0, 0))
        pixels.append(line)
    return pixels


def bmp(pixels):
    body = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            body += bytes((b, g, r, a))
    header = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(body), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, SIDE, SIDE, 1, 32, 0, len(body), 2835, 2835, 0, 0)
    return header + info + bytes(body)


def main():
    outdir, rc = sys.argv[1:3]
    os.makedirs(outdir, exist_ok=True)
    lines = []
    for name, shape in (('RVIPLWAIT', hourglass), ('RVISEND32', letter)):
        path = os.path.join(outdir, name + '.bmp')
        with open(path, 'wb') as f:
            f.write(bmp(render(shape)))
        lines.append(f'{name} BITMAP "{path}"')
    with open(rc, 'w') as f:
        f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
