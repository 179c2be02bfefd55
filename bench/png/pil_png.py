#!/usr/bin/env python3
"""PIL's own 8-bit palette PNG of a picture: quantize to 256 colours, then save as PNG (default settings).
Usage: pil_png.py PICTURE.bmp ROUNDS. Prints the best time of a round in seconds and the PNG's size."""
import io
import sys
import time

from PIL import Image

picture = Image.open(sys.argv[1]).convert("RGB")
best, size = 1e30, 0
for _ in range(int(sys.argv[2])):
    t0 = time.perf_counter()
    out = io.BytesIO()
    picture.quantize(256).save(out, "PNG")
    best = min(best, time.perf_counter() - t0)
    size = out.tell()
print("%.6f %d" % (best, size))
