#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, and only those that are missing.
# Usage: tools/deps.sh [build|run|test|bench|fuzz]...   (quiet when nothing is missing)
set -euo pipefail

want=(cmake ninja-build make g++ python3
      g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
      googletest libgtest-dev
      libssl-dev)  # the native build's TLS provider (never part of the Windows product)
wine_pkgs=(wine wine32:i386)
desk=(xvfb xauth xdotool imagemagick x11-utils)
for goal in "$@"; do
  case "$goal" in
    build) ;;
    run)   want+=("${desk[@]}") ;;
    test)  want+=("${desk[@]}" zlib1g-dev unzip python3-pil pngcheck libzydis-dev libcapstone-dev
                 openssl python3-aiosmtpd dnsmasq-base python3-werkzeug) ;;
    bench) want+=(zlib1g-dev libbenchmark-dev libzydis-dev libcapstone-dev python3-aiosmtpd python3-pil
                  "${desk[@]}" twm xterm x11-apps xfonts-base) ;;  # the PNG bench's real desktop picture
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

# A mirror in the middle of a sync can fail one index file ("File has unexpected size"). Try the update a few
# times; if one index still fails, go on: the packages may well resolve from the indexes that did arrive.
failed_indexes=""
update_indexes() {
  local attempt out
  for attempt in 1 2 3; do
    local rc=0
    out=$($sudo apt-get update -q 2>&1) || rc=$?
    echo "$out" >>"$log"
    failed_indexes=$(echo "$out" | sed -n 's/^E: Failed to fetch \([^ ]*\).*/\1/p' | sort -u)
    if [ $rc -eq 0 ] && [ -z "$failed_indexes" ]; then return 0; fi
    [ $attempt -lt 3 ] && { echo "deps.sh: apt-get update failed (attempt $attempt), retrying in $((attempt * 10)) s" >&2; sleep $((attempt * 10)); }
  done
  return 1
}
if ! update_indexes; then
  if [ -n "$failed_indexes" ]; then
    echo "deps.sh: these package indexes could not be fetched; going on with the others:" >&2
    echo "$failed_indexes" | sed 's/^/  /' >&2
  else
    echo "deps.sh: apt-get update failed; going on with the package lists already here" >&2
  fi
fi
# With an index missing, the libraries of the two architectures may no longer resolve to matching versions
# (an amd64 security update whose i386 twin is only in the missing index). Then take the release's own suite:
# its versions exist for both architectures.
codename=$(. /etc/os-release 2>/dev/null; echo "${VERSION_CODENAME:-}")
apt_install() {
  "$@" >>"$log" 2>&1 && return 0
  if [ -n "$failed_indexes" ] && [ -n "$codename" ]; then
    echo "deps.sh: retrying the installation from the '$codename' suite alone" >&2
    "$@" -t "$codename" >>"$log" 2>&1 && return 0
  fi
  tail -n 30 "$log" >&2
  if [ -n "$failed_indexes" ]; then
    echo "deps.sh: installing failed, most likely because these package indexes could not be fetched:" >&2
    echo "$failed_indexes" | sed 's/^/  /' >&2
    echo "deps.sh: this happens while a Debian mirror is being synchronised; running the command again later helps." >&2
  fi
  exit 1
}
[ ${#missing[@]} -eq 0 ] || apt_install $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
# Wine with its recommended packages (fonts, the 32-bit loader's helpers).
[ ${#missing_wine[@]} -eq 0 ] || apt_install $sudo apt-get install -y -q "${missing_wine[@]}"
