// The main thread's routing for synchronous handlers: a handler on its hidden message window answers a
// probe (first parameter 1) and fires the lists it is given (0); it always answers 777.
#include <windows.h>

#include <atomic>

#include "crash/core/handlers.h"
#include "crash/stack/module.h"

namespace rvx {

namespace {

std::atomic<HWND> g_window{nullptr};
std::atomic<uint32_t> g_message{0};

void MainThreadRoutine(void*, uint32_t, uintptr_t wParam, intptr_t lParam, intptr_t& result) {
  result = MainThreadHandlersMessage(wParam == 0, reinterpret_cast<TFireHandlersParams*>(lParam));
}

MessageHandler Routine() {
  MessageHandler h;
  h.proc = MainThreadRoutine;
  return h;
}

}  // namespace

namespace handlers_platform {

void OpenRouting() {
  if (g_window) return;
  uint32_t message = AddThreadMessageHandler(Routine());
  if (!message) return;
  g_message = message;
  g_window = static_cast<HWND>(ThreadMessageWindow());
}

void CloseRouting() {
  if (!g_window.exchange(nullptr)) return;
  RemoveThreadMessageHandler(Routine(), g_message.exchange(0));
}

bool MainThreadReachable() { return g_window.load() != nullptr; }

bool CallOnMainThread(TFireHandlersParams& params) {
  HWND window = g_window.load();
  UINT message = g_message.load();
  if (!window || !message) return false;
  DWORD_PTR answer = 0;
  LPARAM p = reinterpret_cast<LPARAM>(&params);
  if (!SendMessageTimeoutA(window, message, 1, p, SMTO_NORMAL | SMTO_ABORTIFHUNG, 1500, &answer) || answer != static_cast<DWORD_PTR>(kMainThreadAnswer))
    return false;
  return SendMessageA(window, message, 0, p) == kMainThreadAnswer;
}

bool DropTopmost(WindowHandle window) {
  HWND w = static_cast<HWND>(window);
  if (!w || !IsWindow(w) || !(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOPMOST)) return false;
  return SetWindowPos(w, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE) != 0;
}

void RestoreTopmost(WindowHandle window) {
  HWND w = static_cast<HWND>(window);
  if (w && IsWindow(w)) SetWindowPos(w, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

}  // namespace handlers_platform
}  // namespace rvx
