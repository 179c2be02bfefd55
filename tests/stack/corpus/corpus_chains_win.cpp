// The crash chains of the walker's accuracy corpus: routines of known depth that end in a fault (or a throw)
// reached by direct calls, calls through pointers and virtual calls, recursion, a callback of a system
// library (window procedure, enumeration, timer), a worker thread, and tail calls. This file is compiled
// with the optimisation and frame-pointer flags of each corpus build; the measuring side is not.
#include <windows.h>

#include <stdexcept>

#include "corpus.h"

#define CHAIN __attribute__((noinline, noclone))

namespace corpus {

int* volatile g_null = nullptr;
volatile int g_sink = 0;

// Every link does a little work after its call so that the call is no tail call.
CHAIN void Fault() { *g_null = g_sink; }
CHAIN void Direct6() { Fault(); g_sink = g_sink + 1; }
CHAIN void Direct5() { Direct6(); g_sink = g_sink + 1; }
CHAIN void Direct4() { Direct5(); g_sink = g_sink + 1; }
CHAIN void Direct3() { Direct4(); g_sink = g_sink + 1; }
CHAIN void Direct2() { Direct3(); g_sink = g_sink + 1; }
CHAIN void Direct1() { Direct2(); g_sink = g_sink + 1; }

// Through a pointer and a virtual call.
struct Shape {
  virtual ~Shape() = default;
  virtual void Draw(int depth) = 0;
};
struct Square : Shape {
  CHAIN void Draw(int depth) override {
    if (depth > 0) Fault();
    g_sink = g_sink + depth;
  }
};
Shape* volatile g_shape = nullptr;
CHAIN void Virtual2() { g_shape->Draw(1); g_sink = g_sink + 1; }
void (*volatile g_pointer)() = nullptr;
CHAIN void Pointer1() { g_pointer(); g_sink = g_sink + 1; }

// Recursion of depth 50.
CHAIN int Recurse(int n) {
  if (n == 0) Fault();
  else Recurse(n - 1);
  return g_sink += n;
}

// A C++ throw deep in a chain.
CHAIN void Throw3() { throw std::runtime_error("corpus"); }
CHAIN void Throw2() { Throw3(); g_sink = g_sink + 1; }
CHAIN void Throw1() { Throw2(); g_sink = g_sink + 1; }

// Callbacks of system libraries.
CHAIN void Callback2() { Fault(); g_sink = g_sink + 1; }
CHAIN LRESULT CALLBACK WindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_APP) {
    Callback2();
    return g_sink;
  }
  return DefWindowProcA(w, m, wp, lp);
}
CHAIN void SendToWindow() {
  SendMessageA(static_cast<HWND>(CorpusWindow(reinterpret_cast<void*>(WindowProc))), WM_APP, 0, 0);
  g_sink = g_sink + 1;
}
CHAIN BOOL CALLBACK LocaleCallback(LPSTR) {
  Callback2();
  return g_sink != 12345;
}
CHAIN void EnumerateLocales() {
  EnumSystemLocalesA(LocaleCallback, LCID_INSTALLED);
  g_sink = g_sink + 1;
}
CHAIN void CALLBACK TimerProc(HWND, UINT, UINT_PTR, DWORD) { Callback2(); g_sink = g_sink + 1; }
CHAIN void WaitForTimer() {
  HWND w = static_cast<HWND>(CorpusWindow(reinterpret_cast<void*>(WindowProc)));
  SetTimer(w, 1, 1, TimerProc);
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
  g_sink = g_sink + 1;
}

// A worker thread: its own chain, and the call that created it.
CHAIN void Worker2() { Fault(); g_sink = g_sink + 1; }
CHAIN DWORD WINAPI Worker1(void*) {
  if (!setjmp(WorkerJump())) Worker2();
  return g_sink;
}
CHAIN void StartWorker() {
  HANDLE h = CreateWorker(Worker1);
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
  g_sink = g_sink + 1;
}

// Tail calls: Tail2 ends in a call of Fault that the optimiser turns into a jump, so Tail2 has no frame of
// its own when Fault runs; Tail1 calls Tail2 normally.
CHAIN void Tail2(int x) {
  g_sink = g_sink + x;
  Fault();
}
CHAIN void Tail1() { Tail2(3); g_sink = g_sink + 1; }

CHAIN void Root(int scenario) {
  switch (scenario) {
    case kDirect: Direct1(); break;
    case kPointerVirtual:
      g_shape = new Square;
      g_pointer = Virtual2;
      Pointer1();
      break;
    case kRecursion: Recurse(50); break;
    case kThrow: Throw1(); break;
    case kWindowProc: SendToWindow(); break;
    case kEnumeration: EnumerateLocales(); break;
    case kTimer: WaitForTimer(); break;
    case kWorker: StartWorker(); break;
    case kTail: Tail1(); break;
    default: break;
  }
  g_sink = g_sink + 1;
}

const std::vector<Expected>& Scenarios() {
  static const std::vector<Expected> list = {
      {kDirect, "direct", {"Fault", "Direct6", "Direct5", "Direct4", "Direct3", "Direct2", "Direct1", "Root"}},
      {kPointerVirtual, "pointer+virtual", {"Fault", "Square::Draw", "Virtual2", "Pointer1", "Root"}},
      {kRecursion, "recursion50", {"Fault", "Recurse", "Root"}},
      {kThrow, "throw", {"Throw3", "Throw2", "Throw1", "Root"}},
      {kWindowProc, "sendmessage", {"Fault", "Callback2", "WindowProc", "SendToWindow", "Root"}},
      {kEnumeration, "enum-callback", {"Fault", "Callback2", "LocaleCallback", "EnumerateLocales", "Root"}},
      {kTimer, "timer", {"Fault", "Callback2", "TimerProc", "WaitForTimer", "Root"}},
      {kWorker, "worker+creator", {"Fault", "Worker2", "Worker1", "StartWorker"}},
      {kTail, "tail-call", {"Fault", "?Tail2", "Tail1", "Root"}},
  };
  return list;
}

}  // namespace corpus
