#!/usr/bin/env bash
# make run: starts the contact editor under Wine. With a display it runs until its window is closed; without
# one it runs in an Xvfb display of its own for a few seconds and leaves a screenshot.
set -u
build=$(cd "${1:-build/win32}" && pwd)
export RVX_WINE_BUILD="$build"
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
rvx_wine_prefix || exit 1
exe="$build/bin/contacts.exe"
[ -f "$exe" ] || { echo "run: $exe is missing" >&2; exit 1; }
log="$build/artefacts/run.log"
mkdir -p "$build/artefacts"
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "Starting contacts.exe on $DISPLAY (Wine output: $log)"
  cd "$build/bin" && wine contacts.exe >"$log" 2>&1 </dev/null
  exit $?
fi
shot="$build/artefacts/make-run.png"
fdfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
xpid=$!
for _ in $(seq 100); do [ -s "$fdfile" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$fdfile")"
rm -f "$fdfile"
cleanup() { wineserver -k >/dev/null 2>&1; kill $xpid 2>/dev/null; wait $xpid 2>/dev/null; }
trap cleanup EXIT
# Xvfb has no window manager, so a bare window would show without frame or title: the program runs inside a
# Wine virtual desktop, where Wine draws the frames itself, as a user sees them.
(cd "$build/bin" && wine explorer /desktop=Ravex,1024x768 contacts.exe >"$log" 2>&1 </dev/null) &
wpid=$!
# The first start of a Wine session takes a few seconds (more on a busy machine).
shown=0
for i in $(seq 600); do
  if xdotool search --name '^Form1$' >/dev/null 2>&1; then shown=1; break; fi
  # Inside the desktop the program's window may not be an X window of its own: then the desktop window and a
  # program still running after some seconds count as shown.
  if [ "$i" -ge 100 ] && kill -0 $wpid 2>/dev/null && xdotool search --name 'Wine desktop' >/dev/null 2>&1; then
    shown=1; break
  fi
  kill -0 $wpid 2>/dev/null || break
  sleep 0.1
done
sleep 1
if [ $shown = 1 ]; then
  import -window root "$shot" 2>/dev/null
  echo "No display: contacts.exe ran in Xvfb $DISPLAY; screenshot: $shot"
else
  echo "contacts.exe did not show its window (Wine output: $log)" >&2
  exit 1
fi
