# Sourced by the Wine scripts: the private 32-bit prefix of a build tree.
# RVX_WINE_BUILD: the win32 build folder (default: build/win32 of this checkout).
_rvx_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${RVX_WINE_BUILD:=$_rvx_root/build/win32}"
export WINEPREFIX="$RVX_WINE_BUILD/wineprefix"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer prompts while the prefix is made.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

rvx_wine_prefix() {
  [ -f "$WINEPREFIX/.rvx-ready" ] && return 0
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
