#!/usr/bin/env python3
"""Draws the crash reporter's pictures as 32-bit BMP files with straight alpha (rows bottom-up, blue, green, red,
alpha) and writes a resource script naming each one as a BITMAP resource: the 32 x 32 dialog pictures
(RVIPLWAIT: an hourglass, RVISEND32: a letter with an arrow, RVIBIG: a warning sign), and the exception box's
16 x 16 button pictures (RVISEND, RVISAVE, RVIPRINT, RVISHOW, RVICONTINUE, RVIRESTART, RVICLOSE and the disabled
continue picture RVICANTCONTINUE). Edges are smoothed by sampling every pixel 4 x 4 times.
Usage: pictures.py OUTDIR RCFILE [PNGDIR]  (PNGDIR: also zoomed PNG previews, needs PIL)"""
import math
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


def render(shape, side=SIDE):
    pixels = []
    for row in range(side):
        line = []
        for col in range(side):
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
    side = len(pixels)
    header = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(body), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, side, side, 1, 32, 0, len(body), 2835, 2835, 0, 0)
    return header + info + bytes(body)


# ---- the exception box's 16 x 16 button pictures and its 32 x 32 warning sign ---------------------------


def in_circle(x, y, cx, cy, r):
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def send16(x, y):
    """A letter with a green arrow leaving it to the upper right."""
    arrow = [(9, 1), (15, 1), (15, 7), (13.2, 5.2), (10.6, 7.8), (8.2, 5.4), (10.8, 2.8)]
    if inside_polygon(x, y, arrow):
        return (40, 150, 60)
    if 1 <= x <= 14 and 6 <= y <= 14:
        if x < 2 or x > 13 or y < 7 or y > 13:
            return (80, 90, 120)
        if near_segment(x, y, (2, 7), (7.5, 11), 1.1) or near_segment(x, y, (13, 7), (7.5, 11), 1.1):
            return (80, 90, 120)
        return (250, 248, 240)
    return None


def save16(x, y):
    """A blue floppy disk: shutter on top, label below."""
    if not (1 <= x <= 15 and 1 <= y <= 15) or (x > 13 and y < 3 and x - 13 > y - 1):
        return None  # cut corner
    if 4 <= x <= 11 and 1 <= y <= 6:
        return (90, 200, 255) if 8.5 <= x <= 10 and 2 <= y <= 5 else (200, 210, 220)  # shutter
    if 3 <= x <= 13 and 9 <= y <= 15:
        return (120, 120, 130) if (y - 10.5) % 2 < 0.6 and 4 <= x <= 12 and y < 14.5 else (252, 252, 248)
    return (40, 80, 170)


def print16(x, y):
    """A grey printer with a sheet coming out."""
    if 4 <= x <= 12 and 1 <= y <= 6:
        return (110, 110, 120) if (y - 2.5) % 2 < 0.6 and 5 <= x <= 11 and y < 5.5 else (252, 252, 252)
    if 1 <= x <= 15 and 6 <= y <= 12:
        if 12.5 <= x <= 14 and 7.5 <= y <= 8.7:
            return (60, 200, 60)  # lamp
        return (150, 150, 160) if y < 7 or x < 2 or x > 14 else (200, 200, 206)
    if 4 <= x <= 12 and 12 <= y <= 15:
        return (252, 252, 252) if x > 4.8 and x < 11.2 else (110, 110, 120)
    return None


def show16(x, y):
    """A sheet of text under a magnifying glass."""
    if in_circle(x, y, 6.5, 6.5, 5):
        if in_circle(x, y, 6.5, 6.5, 3.8):
            return (200, 228, 255) if (y - 4.5) % 2.4 > 0.8 else (90, 110, 150)
        return (60, 60, 70)
    if near_segment(x, y, (10, 10), (14.5, 14.5), 2.6):
        return (150, 90, 40)
    if 2 <= x <= 13 and 1 <= y <= 15:
        return (252, 252, 248) if 2.6 < x < 12.4 and 1.6 < y < 14.4 else (120, 120, 130)
    return None


def continue_arrow(colour, edge):
    def shape(x, y):
        arrow = [(1.5, 5.5), (8, 5.5), (8, 1.5), (14.8, 8), (8, 14.5), (8, 10.5), (1.5, 10.5)]
        if inside_polygon(x, y, arrow):
            inner = [(2.7, 6.7), (9.2, 6.7), (9.2, 4.4), (13.1, 8), (9.2, 11.6), (9.2, 9.3), (2.7, 9.3)]
            return colour if inside_polygon(x, y, inner) else edge
        return None
    return shape


continue16 = continue_arrow((70, 190, 70), (20, 110, 30))
cant_continue16 = continue_arrow((196, 196, 196), (128, 128, 128))


def restart16(x, y):
    """A blue arrow running round three quarters of a circle."""
    d = math.hypot(x - 8, y - 8.5)
    angle = math.degrees(math.atan2(y - 8.5, x - 8)) % 360
    if 3.6 <= d <= 6.2 and not (255 <= angle <= 345):
        return (40, 100, 210)
    head = [(7.2, 0.3), (7.2, 7.2), (13.6, 3.0)]
    rotated = [(8 + (px - 8) * 0.98, py) for px, py in head]
    if inside_polygon(x, y, rotated):
        return (40, 100, 210)
    return None


def close16(x, y):
    """A red round sign with a white cross."""
    if not in_circle(x, y, 8, 8, 7.3):
        return None
    if near_segment(x, y, (5, 5), (11, 11), 2.2) or near_segment(x, y, (11, 5), (5, 11), 2.2):
        return (255, 255, 255)
    return (200, 40, 40) if in_circle(x, y, 8, 8, 6.3) else (140, 20, 20)


def big32(x, y):
    """A yellow warning triangle with a dark exclamation mark."""
    outer = [(16, 1.5), (31, 29), (1, 29)]
    if not inside_polygon(x, y, outer):
        return None
    inner = [(16, 4.6), (28.3, 27.4), (3.7, 27.4)]
    if not inside_polygon(x, y, inner):
        return (150, 100, 0)
    if near_segment(x, y, (16, 11), (16, 19.5), 3.2) or in_circle(x, y, 16, 23.6, 1.8):
        return (40, 30, 20)
    return (250, 200, 40)


PICTURES = (
    ('RVIPLWAIT', hourglass, 32), ('RVISEND32', letter, 32), ('RVIBIG', big32, 32),
    ('RVISEND', send16, 16), ('RVISAVE', save16, 16), ('RVIPRINT', print16, 16), ('RVISHOW', show16, 16),
    ('RVICONTINUE', continue16, 16), ('RVIRESTART', restart16, 16), ('RVICLOSE', close16, 16),
    ('RVICANTCONTINUE', cant_continue16, 16),
)


def preview(pictures, path):
    """All pictures zoomed 8 times over the button face, side by side."""
    from PIL import Image
    zoom = 8
    sheet = Image.new('RGB', (sum(len(p) * zoom + 8 for _, p in pictures), 32 * zoom), (0xD4, 0xD0, 0xC8))
    x = 0
    for _, pixels in pictures:
        for row, line in enumerate(pixels):
            for col, (r, g, b, a) in enumerate(line):
                bg = (0xD4, 0xD0, 0xC8)
                c = tuple((bg[i] * (256 - a - 1) + (r, g, b)[i] * (a + 1)) >> 8 for i in range(3))
                sheet.paste(c, (x + col * zoom, row * zoom, x + (col + 1) * zoom, (row + 1) * zoom))
        x += len(pixels) * zoom + 8
    sheet.save(path)


def main():
    outdir, rc = sys.argv[1:3]
    os.makedirs(outdir, exist_ok=True)
    lines = []
    drawn = []
    for name, shape, side in PICTURES:
        pixels = render(shape, side)
        drawn.append((name, pixels))
        path = os.path.join(outdir, name + '.bmp')
        with open(path, 'wb') as f:
            f.write(bmp(pixels))
        lines.append(f'{name} BITMAP "{path}"')
    with open(rc, 'w') as f:
        f.write('\n'.join(lines) + '\n')
    if len(sys.argv) > 3:
        preview(drawn, os.path.join(sys.argv[3], 'pictures-preview.png'))


if __name__ == '__main__':
    main()
