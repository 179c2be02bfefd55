// The hidden per-thread message window and its registry of message handlers.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "crash/stack/module.h"

namespace rvx {
namespace {

struct HandlerEntry {
  uint32_t message;
  MessageProc proc;
  MessageMethod code;
  void* object;
  bool Same(const MessageHandler& h) const { return proc == h.proc && code == h.methodCode && object == h.methodObject; }
};

struct ThreadEntry {
  DWORD threadId;
  HWND window;
  std::vector<HandlerEntry> handlers;
};

HANDLE g_mutex = nullptr;
std::vector<ThreadEntry>* g_threads = nullptr;

class Lock {
 public:
  Lock() {
    if (!g_mutex) {
      HANDLE created = CreateMutexW(nullptr, FALSE, nullptr);
      // Two racing creators keep the first mutex.
      if (InterlockedCompareExchangePointer(&g_mutex, created, nullptr) != nullptr) CloseHandle(created);
    }
    WaitForSingleObject(g_mutex, INFINITE);
    if (!g_threads) g_threads = new std::vector<ThreadEntry>();
  }
  ~Lock() { ReleaseMutex(g_mutex); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
};

// At the end of the process the registry is cleared and its mutex closed; a later use starts afresh.
struct RegistryFinalizer {
  ~RegistryFinalizer() {
    delete g_threads;
    g_threads = nullptr;
    if (HANDLE m = InterlockedExchangePointer(&g_mutex, nullptr)) CloseHandle(m);
  }
} g_finalizer;

ThreadEntry* FindThread(DWORD id) {
  for (ThreadEntry& t : *g_threads)
    if (t.threadId == id) return &t;
  return nullptr;
}

bool Delivered(UINT m) {
  switch (m) {
    case WM_QUERYENDSESSION: case WM_QUIT: case WM_SYSCOLORCHANGE: case WM_ENDSESSION: case 0x17:
    case WM_SETTINGCHANGE: case WM_DEVMODECHANGE: case WM_ACTIVATEAPP: case WM_FONTCHANGE: case WM_TIMECHANGE:
    case WM_SPOOLERSTATUS: case WM_COMPACTING: case 0x48 /* WM_POWER */: case WM_COPYDATA:
    case WM_INPUTLANGCHANGEREQUEST: case WM_INPUTLANGCHANGE: case WM_USERCHANGED: case WM_DISPLAYCHANGE:
      return true;
    default:
      return m >= 0x218;
  }
}

LRESULT CALLBACK HandlerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = IsWindowUnicode(window) ? DefWindowProcW(window, message, wParam, lParam)
                                           : DefWindowProcA(window, message, wParam, lParam);
  if (!Delivered(message)) return result;
  std::vector<HandlerEntry> handlers;
  {
    Lock lock;
    for (const ThreadEntry& t : *g_threads)
      if (t.window == window) handlers = t.handlers;
  }
  // Handlers run outside the lock on a copy, so that they may add or remove handlers.
  intptr_t r = result;
  for (const HandlerEntry& h : handlers) {
    if (h.message != message) continue;
    if (h.proc) {
      h.proc(window, message, wParam, lParam, r);
    } else if (h.code) {
      h.code(h.object, window, message, wParam, lParam, r);
    }
  }
  return r;
}

}  // namespace

void* ThreadMessageWindow(uint32_t threadId) {
  const DWORD self = GetCurrentThreadId();
  const DWORD id = threadId ? threadId : self;
  Lock lock;
  if (ThreadEntry* t = FindThread(id)) return t->window;
  if (id != self) return nullptr;
  wchar_t cls[96];
  swprintf(cls, 96, L"rvxToolsMsgHandlerWindow$%lx$%lx", static_cast<unsigned long>(self),
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&ThreadMessageWindow)));
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = HandlerWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = cls;
  RegisterClassW(&wc);  // fails harmlessly when this thread registered it before
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, cls, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
  if (!window) return nullptr;
  g_threads->push_back({self, window, {}});
  return window;
}

uint32_t AddThreadMessageHandler(const MessageHandler& handler, uint32_t message, uint32_t threadId) {
  HWND window = static_cast<HWND>(ThreadMessageWindow(threadId));
  if (!window) return 0;
  {
    Lock lock;
    ThreadEntry* t = nullptr;
    for (ThreadEntry& e : *g_threads)
      if (e.window == window) t = &e;
    if (!t) return 0;
    if (message) {
      for (const HandlerEntry& h : t->handlers)
        if (h.message == message && h.Same(handler)) return 0;
    } else {
      message = WM_USER;
      for (bool taken = true; taken;) {
        taken = false;
        for (const HandlerEntry& h : t->handlers)
          if (h.message == message) taken = true;
        if (taken) ++message;
      }
    }
    t->handlers.push_back({message, handler.proc, handler.methodCode, handler.methodObject});
  }
  AllowMessageThroughFilter(window, message);
  return message;
}

void RemoveThreadMessageHandler(const MessageHandler& handler, uint32_t message, uint32_t threadId) {
  const DWORD id = threadId ? threadId : GetCurrentThreadId();
  HWND destroy = nullptr;
  DWORD owner = 0;
  {
    Lock lock;
    for (size_t i = 0; i < g_threads->size(); ++i) {
      ThreadEntry& t = (*g_threads)[i];
      if (t.threadId != id) continue;
      std::vector<HandlerEntry> kept;
      for (const HandlerEntry& h : t.handlers)
        if (!(h.Same(handler) && (message == 0 || h.message == message))) kept.push_back(h);
      t.handlers.swap(kept);
      if (t.handlers.empty() && IsWindow(t.window)) {
        destroy = t.window;
        owner = t.threadId;
        g_threads->erase(g_threads->begin() + static_cast<ptrdiff_t>(i));
      }
      break;
    }
  }
  if (!destroy) return;
  if (owner == GetCurrentThreadId()) {
    DestroyWindow(destroy);
  } else {
    PostMessageW(destroy, WM_CLOSE, 0, 0);
  }
}

}  // namespace rvx
