#!/usr/bin/env bash
# Runs a command inside one Wine session: the private prefix, one persistent wineserver and an Xvfb display
# of its own, all stopped at the end.   Usage: tools/wine-session.sh COMMAND [ARG]...
set -u
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
if ! rvx_wine_runs; then
  reason=$(rvx_wine_unavailable_reason)
  if [ "${RVX_WINE_OPTIONAL:-0}" = 1 ]; then
    {
      echo "=================================================================================================="
      echo "WINDOWS TESTS NOT RUN: $reason."
      echo "The Windows tree was built; its tests need Wine, which needs a kernel that runs 32-bit programs."
      echo "=================================================================================================="
    } >&2
    exit 0
  fi
  echo "wine-session: $reason" >&2
  exit 1
fi
rvx_wine_prefix || exit 1
fdfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
xpid=$!
for _ in $(seq 100); do [ -s "$fdfile" ] && break; sleep 0.05; done
if [ ! -s "$fdfile" ]; then echo "wine-session: Xvfb did not start" >&2; kill $xpid 2>/dev/null; exit 1; fi
export DISPLAY=":$(head -n1 "$fdfile")"
rm -f "$fdfile"
wineserver -p >/dev/null 2>&1 </dev/null
cleanup() { wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1; kill $xpid 2>/dev/null; wait $xpid 2>/dev/null; }
trap cleanup EXIT
"$@"
