// The system's own message-fetch routine of user32, found before the message-fetch hooks replace any import
// slot: code of the crash reporter that must never stand still at a pause point (the freeze watch) fetches
// through it.
#pragma once
#include <windows.h>

namespace rvx {

using PeekMessageRoutine = BOOL(WINAPI*)(MSG*, HWND, UINT, UINT, UINT);
PeekMessageRoutine SystemPeekMessageA();

}  // namespace rvx
