#!/usr/bin/env bash
# A real 1920 x 1080 desktop picture for the PNG benchmark: a private Xvfb display with a window manager,
# a photo-like wallpaper and real application windows (terminals showing source text and a colour
# listing, a clock, a calculator, eyes, a logo), grabbed as a 24-bit BMP file.
# Usage: desktop_picture.sh OUT.bmp. Exits non-zero (and writes nothing) when a needed program is missing.
set -u
out=$1
for p in Xvfb twm xterm xclock xcalc xeyes xlogo display import xdotool; do
  command -v "$p" >/dev/null || { echo "desktop_picture.sh: $p is missing" >&2; exit 2; }
done
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

exec 3>"$work/displayfd"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/displayfd" ] && break; sleep 0.1; done
number=$(head -n1 "$work/displayfd")
[ -n "$number" ] || { echo "desktop_picture.sh: Xvfb did not start" >&2; exit 3; }
export DISPLAY=:$number

# Wallpaper: soft colour waves with a little grain, as a photograph has.
/usr/bin/python3 - "$work/wall.png" <<'EOF'
import math, sys
from PIL import Image, ImageFilter
w, h = 480, 270
img = Image.new("RGB", (w, h))
px = img.load()
for y in range(h):
    for x in range(w):
        u, v = x / w, y / h
        px[x, y] = (int(60 + 50 * math.sin(u * 5 + v * 2) + 40 * v),
                    int(90 + 60 * math.cos(v * 4 - u * 3)),
                    int(150 + 70 * math.sin(u * v * 9 + 1)))
img = img.resize((1920, 1080), Image.BICUBIC).filter(ImageFilter.GaussianBlur(3))
grain = Image.effect_noise((1920, 1080), 6).convert("RGB")
img = Image.blend(img, grain, 0.06)
img.save(sys.argv[1])
EOF
# The wallpaper is the lowest window, without a title; the applications get their title bars.
display -geometry +0+0 -borderwidth 0 -title wallpaper "$work/wall.png" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do xdotool search --onlyvisible --name wallpaper >/dev/null 2>&1 && break; sleep 0.1; done
printf 'NoTitle { "wallpaper" }\nBorderWidth 1\n' >"$work/twmrc"
LANG=C LC_ALL=C twm -f "$work/twmrc" >/dev/null 2>&1 &
pids+=($!)
sleep 0.5
font=(-fa "DejaVu Sans Mono" -fs 10)
xterm -geometry 110x48+30+40 "${font[@]}" -bg white -fg black -T "png_encoder.cpp" \
  -e sh -c "cat '$root/crash/ui/png_encoder.cpp' '$root/crash/ui/colour_quantizer.cpp'; exec sleep 600" \
  >/dev/null 2>&1 &
pids+=($!)
xterm -geometry 96x40+900+260 "${font[@]}" -T "listing" \
  -e sh -c "ls -l --color=always /usr/bin | head -200; exec sleep 600" >/dev/null 2>&1 &
pids+=($!)
xclock -geometry 180x180+1700+30 -update 1 >/dev/null 2>&1 &
pids+=($!)
xcalc -geometry 260x380+1620+660 >/dev/null 2>&1 &
pids+=($!)
xeyes -geometry 160x110+1000+40 >/dev/null 2>&1 &
pids+=($!)
xlogo -geometry 140x140+1220+40 >/dev/null 2>&1 &
pids+=($!)

# Wait until both terminals are shown and have drawn their text.
for _ in $(seq 100); do
  [ "$(xdotool search --onlyvisible --class xterm 2>/dev/null | wc -l)" -ge 2 ] && break
  sleep 0.1
done
sleep 1.5
import -window root -depth 8 -type TrueColor "BMP3:$work/desktop.bmp" >/dev/null 2>&1 || exit 4
mv "$work/desktop.bmp" "$out"
