#include <windows.h>

#include "crash/core/ide_link.h"

namespace rvx {
namespace {

BOOL CALLBACK CollectWindow(HWND w, LPARAM p) {
  char cls[256] = {};
  GetClassNameA(w, cls, sizeof cls);
  reinterpret_cast<std::vector<TopWindow>*>(p)->push_back({reinterpret_cast<uintptr_t>(w), cls});
  return TRUE;
}

}  // namespace

int IdeJump(const std::string& line, IdeJumpScope scope) {
  HWND ide = FindWindowA("TAppBuilder", nullptr);
  if (!ide) return 0;
  DWORD ideThread = GetWindowThreadProcessId(ide, nullptr);
  std::vector<TopWindow> windows;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  std::vector<uintptr_t> receivers = IdeJumpReceivers(windows, ideThread, scope);
  UINT message = receivers.empty() ? 0 : RegisterWindowMessageA("RavexIdeJumpCommand");
  if (!message) return 0;
  int sent = 0;
  for (uintptr_t w : receivers) {
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(reinterpret_cast<HWND>(w), message, GetCurrentProcessId(),
                            reinterpret_cast<LPARAM>(line.c_str()), SMTO_NORMAL | SMTO_ABORTIFHUNG, 1000, &result))
      ++sent;
  }
  return sent;
}

}  // namespace rvx
