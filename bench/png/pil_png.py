#!/usr/bin/env python3
"""PIL's own 8-bit palette PNG of a picture (quantize to 256 colours, then save as PNG with default settings),
and how close both it and our PNG of the same picture stay to the source.
Usage: pil_png.py SOURCE.bmp OURS.png ROUNDS.
Prints: PIL's best time of a round in seconds, PIL's PNG size, PSNR of PIL's and of our picture in dB."""
import io
import math
import sys
import time

from PIL import Image, ImageChops


def psnr(source, picture):
    """Peak signal-to-noise ratio over the red, green and blue samples; 99 for identical pictures."""
    histogram = ImageChops.difference(source, picture.convert("RGB")).histogram()
    squares = sum(count * (i % 256) ** 2 for i, count in enumerate(histogram))
    if squares == 0:
        return 99.0
    return 10 * math.log10(255 * 255 * source.width * source.height * 3 / squares)


source = Image.open(sys.argv[1]).convert("RGB")
ours = Image.open(sys.argv[2])
best, size, out = 1e30, 0, None
for _ in range(int(sys.argv[3])):
    t0 = time.perf_counter()
    out = io.BytesIO()
    source.quantize(256).save(out, "PNG")
    best = min(best, time.perf_counter() - t0)
    size = out.tell()
out.seek(0)
print("%.6f %d %.3f %.3f" % (best, size, psnr(source, Image.open(out)), psnr(source, ours)))
