// The main thread's routing for synchronous handlers: a handler on its hidden message window answers a
// probe (first parameter 1) and fires the lists it is given (0); it always answers 777.
#include <windows.h>

#include <atomic>

#include "crash/core/handlers.h"
#include "crash/stack/module.h"

namespace rvx {

namespace {

constexpr intptr_t kAnswer = 777;
std::atomic<HWND> g_window{nullptr};
std::atomic<uint32_t> g_message{0};

void MainThreadRoutine(void*, uint32_t, uintptr_t wParam, intptr_t lParam, intptr_t& result) {
  if (wParam == 0 && lParam) FireHandlerLists(*reinterpret_cast<TFireHandlersParams*>(lParam));
  result = kAnswer;
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
  if (!SendMessageTimeoutA(window, message, 1, p, SMTO_NORMAL | SMTO_ABORTIFHUNG, 1500, &answer) || answer != kAnswer)
    return false;
  return SendMessageA(window, message, 0, p) == kAnswer;
}

}  // namespace handlers_platform
}  // namespace rvx
