# Sourced by the Wine scripts: the private 32-bit prefix of a build tree.
# RVX_WINE_BUILD: the win32 build folder (default: build/win32 of this checkout).
_rvx_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${RVX_WINE_BUILD:=$_rvx_root/build/win32}"
export WINEPREFIX="$RVX_WINE_BUILD/wineprefix"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer prompts while the prefix is made.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# Wine's loader is a 32-bit Linux program: it runs only where the kernel executes 32-bit programs, which some
# kernels are built or booted without ("32-bit emulation disabled" in the kernel log).
# A user-mode emulator registered for 32-bit programs makes Wine's loader start but not Wine itself (the
# prefix set-up hangs), so it counts as no support. Such kernels also mark the 32-bit user code segment not
# present, so a 64-bit Wine in wow64 mode dies at the first 32-bit instruction as well.
rvx_i386_emulated() {
  local f
  for f in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$f" ] && grep -q '^enabled' "$f" 2>/dev/null && grep -q '^interpreter .*qemu-i386' "$f" 2>/dev/null && return 0
  done
  return 1
}
rvx_wine_runs() {
  ! rvx_i386_emulated && wine --version >/dev/null 2>&1 </dev/null
}
rvx_wine_unavailable_reason() {
  if ! command -v wine >/dev/null 2>&1; then echo "Wine is not installed"
  elif rvx_i386_emulated; then
    echo "32-bit programs run here only through a user-mode emulator (binfmt_misc qemu-i386), under which Wine hangs"
  elif dmesg 2>/dev/null | grep -q '32-bit emulation disabled'; then
    echo "this machine's kernel runs no 32-bit programs (32-bit emulation disabled; boot option ia32_emulation=on)"
  else echo "Wine does not start here ($(wine --version 2>&1 </dev/null | tail -n1))"
  fi
}

rvx_wine_prefix() {
  [ -f "$WINEPREFIX/.rvx-ready" ] && return 0
  rvx_wine_runs || { echo "wine: $(rvx_wine_unavailable_reason)" >&2; return 1; }
  mkdir -p "$RVX_WINE_BUILD"
  ( flock 9; _rvx_make_prefix ) 9>"$RVX_WINE_BUILD/.wineprefix.lock"
}

_rvx_make_prefix() {
  [ -f "$WINEPREFIX/.rvx-ready" ] && return 0
  mkdir -p "$WINEPREFIX"
  local log="$RVX_WINE_BUILD/wineboot.log"
  wineboot -u >"$log" 2>&1 </dev/null || { cat "$log" >&2; return 1; }
  wineserver -w
  # Crashing test programs must end, not wait in Wine's debugger dialog.
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f >>"$log" 2>&1 </dev/null
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 0 /f >>"$log" 2>&1 </dev/null
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >>"$log" 2>&1 </dev/null
  wineserver -w
  touch "$WINEPREFIX/.rvx-ready"
}
