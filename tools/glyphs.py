#!/usr/bin/env python3
"""Turns the grid's text-drawn glyphs (resources/glyphs/glyphs.txt) into 24-bit BMP files and a resource script
that names each one as a BITMAP resource. Usage: glyphs.py GLYPHS.txt OUTDIR RCFILE"""
import os
import struct
import sys

COLOURS = {
    'k': (0, 0, 0), 'd': (64, 64, 64), 'g': (128, 128, 128), 'l': (192, 192, 192), 'w': (255, 255, 255),
    'b': (0, 0, 128), 'c': (96, 160, 224), 'y': (255, 224, 0), 'G': (0, 128, 0), 'r': (192, 0, 0),
}
KEYS = {'olive': (128, 128, 0), 'fuchsia': (255, 0, 255), 'white': (255, 255, 255)}
SIZES = {
    'JvDBGridSMDOWN': (10, 9), 'JvDBGridSMUP': (10, 9), 'JvDBGridPOPUP': (9, 9),
    'JvDBGridMSDOT': (6, 11), 'JvDBGridMSARROW': (6, 11),
}
DEFAULT_SIZE = (18, 14)


def parse(text):
    glyphs, current = [], None
    for raw in text.splitlines():
        line = raw.rstrip()
        if line.startswith('#'):
            continue
        if not line:
            current = None
            continue
        if current is None:
            name, key = line.split()
            current = {'name': name, 'key': KEYS[key], 'rows': []}
            glyphs.append(current)
        else:
            current['rows'].append(line)
    return glyphs


def bmp(width, height, pixels):
    stride = (width * 3 + 3) & ~3
    body = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b'\0' * (stride - len(line))
        body += line
    header = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(body), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    return header + info + bytes(body)


def main():
    src, outdir, rc = sys.argv[1:4]
    os.makedirs(outdir, exist_ok=True)
    lines = []
    for g in parse(open(src).read()):
        w, h = SIZES.get(g['name'], DEFAULT_SIZE)
        rows = g['rows']
        if len(rows) != h or any(len(r) != w for r in rows):
            sys.exit(f"{g['name']}: expected {w}x{h}, got {[len(r) for r in rows]}")
        pixels = [[g['key'] if ch == '.' else COLOURS[ch] for ch in row] for row in rows]
        path = os.path.join(outdir, g['name'] + '.bmp')
        with open(path, 'wb') as f:
            f.write(bmp(w, h, pixels))
        lines.append(f'{g["name"]} BITMAP "{path}"')
    with open(rc, 'w') as f:
        f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
