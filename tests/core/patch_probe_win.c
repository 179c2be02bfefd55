// A library with nothing but one import: copies of it, loaded under many names, fill the process's module
// list for the patching tests.
#include <windows.h>

__declspec(dllexport) DWORD probe_ticks(void) { return GetTickCount(); }

BOOL WINAPI ProbeEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
