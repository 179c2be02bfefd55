#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, and only those that are missing.
# Usage: tools/deps.sh [build|run|test|bench|fuzz]...   (quiet when nothing is missing)
set -euo pipefail

want=(cmake ninja-build make g++ python3
      g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
      googletest libgtest-dev)
wine_pkgs=(wine wine32:i386)
desk=(xvfb xauth xdotool imagemagick x11-utils)
for goal in "$@"; do
  case "$goal" in
    build) ;;
    run)   want+=("${desk[@]}") ;;
    test)  want+=("${desk[@]}" zlib1g-dev unzip python3-pil pngcheck libzydis-dev libcapstone-dev) ;;
    bench) want+=(zlib1g-dev libbenchmark-dev libzydis-dev libcapstone-dev) ;;
    fuzz)  want+=(clang libclang-rt-14-dev zlib1g-dev) ;;
    *) echo "deps.sh: unknown goal '$goal'" >&2; exit 2 ;;
  esac
done
case " $* " in *" run "*|*" test "*) need_wine=1 ;; *) need_wine=0 ;; esac

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }
missing=(); missing_wine=()
for p in "${want[@]}"; do installed "$p" || missing+=("$p"); done
if [ "$need_wine" = 1 ]; then
  for p in "${wine_pkgs[@]}"; do installed "$p" || missing_wine+=("$p"); done
fi
[ ${#missing[@]} -eq 0 ] && [ ${#missing_wine[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" != 0 ]; then
  command -v sudo >/dev/null || { echo "deps.sh: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "Installing: ${missing[*]} ${missing_wine[*]}"
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing_wine[@]} -gt 0 ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
run() { "$@" >>"$log" 2>&1 || { tail -n 30 "$log" >&2; exit 1; }; }
run $sudo apt-get update -q
[ ${#missing[@]} -eq 0 ] || run $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
# Wine with its recommended packages (fonts, the 32-bit loader's helpers).
[ ${#missing_wine[@]} -eq 0 ] || run $sudo apt-get install -y -q "${missing_wine[@]}"
