#!/usr/bin/env python3
"""Decodes PNG files with PIL and compares them with their source pictures (32-bit BMP files).

Usage: png_oracle.py KIND SOURCE.bmp OUT.png [KIND SOURCE.bmp OUT.png ...], KIND = colour or grey.
Prints one line per file: the PNG's name, PIL's mode, the palette length in bytes, the PSNR in dB against
the source (grey files: against the source's grey value (77 R + 151 G + 28 B) / 256), and for grey files
the sorted decoded levels and the count of pixels that are not the level nearest to their grey value (the
lower one on ties); "-" and 0 for colour files.
"""
import math
import sys

from PIL import Image

LEVELS = [0, 28, 52, 73, 92, 109, 125, 140, 155, 170, 185, 199, 213, 227, 241, 255]


def nearest(g):
    return min(LEVELS, key=lambda v: (abs(v - g), v))


def psnr(a, b):
    se = sum((x - y) ** 2 for x, y in zip(a, b))
    return 99.0 if se == 0 else 10 * math.log10(255 * 255 * len(a) / se)


def main(args):
    for kind, src_name, png_name in zip(args[0::3], args[1::3], args[2::3]):
        src = Image.open(src_name).convert("RGB")
        png = Image.open(png_name)
        png.load()
        palette = png.getpalette() or []
        rgb = png.convert("RGB")
        if src.size != rgb.size:
            print(png_name, "size-mismatch", 0, 0, "-", -1)
            continue
        if kind == "grey":
            ref = [(r * 77 + g * 151 + b * 28) >> 8 for r, g, b in src.getdata()]
            out = [r for r, g, b in rgb.getdata()]
            levels = ",".join(map(str, sorted(set(out))))
            wrong = sum(1 for g, v in zip(ref, out) if nearest(g) != v)
        else:
            ref = [c for px in src.getdata() for c in px]
            out = [c for px in rgb.getdata() for c in px]
            levels = "-"
            wrong = 0
        print("%s %s %d %.2f %s %d" % (png_name, png.mode, len(palette), psnr(ref, out), levels, wrong))


if __name__ == "__main__":
    main(sys.argv[1:])
