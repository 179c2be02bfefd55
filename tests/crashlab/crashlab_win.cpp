// crashlab: a console program that carries the crash reporter with settings of its own and runs the failure
// scenario named by its first argument. Prints "crashlab: <scenario>" first (except as a CGI program) and
// "survived" when the program gets past the scenario.
#include <windows.h>
#include <process.h>

#include <atomic>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>
#include <algorithm>
#include <cstring>

#include "crash/core/freeze.h"
#include "crash/core/handlers.h"
#include "crash/core/hooks.h"
#include "crash/ui/crash_dialogs.h"
#include "crash/ravex.h"
#include "crash/core/exception_record.h"
#include "crash/core/member_pointer.h"
#include "crash/core/pipeline.h"
#include "crash/core/web_exception_page.h"
#include "crash/delivery/online.h"
#include "crash/stack/function_analyser.h"
#include "crash/stack/map_file.h"
#include "framework/exceptions.h"
#include "framework/forms.h"
#include "framework/sysutils.h"
#include "framework/thread.h"

namespace {

class ELabError : public Exception {
 public:
  using Exception::Exception;
};

int* volatile g_null = nullptr;
volatile int g_zero = 0;

void Say(const std::string& s) {
  std::fputs((s + "\n").c_str(), stdout);
  std::fflush(stdout);
}

__attribute__((noinline)) void ReadViolation() { Say(std::to_string(*g_null)); }
__attribute__((noinline)) void WriteViolation() { *g_null = 1; }
__attribute__((noinline)) void ExecuteViolation() {
  auto f = reinterpret_cast<void (*)()>(reinterpret_cast<uintptr_t>(g_null) + 0x10);
  f();
}
__attribute__((noinline)) void DivideByZero() { Say(std::to_string(10 / g_zero)); }
__attribute__((noinline)) void IllegalInstruction() { asm volatile("ud2"); }
__attribute__((noinline)) void PrivilegedInstruction() { asm volatile("hlt"); }
// Recurses until the stack overflows, on purpose.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int Recurse(int n) {
  volatile char pad[1024];
  pad[0] = static_cast<char>(n);
  return Recurse(n + 1) + pad[0];
}
#pragma GCC diagnostic pop

struct Base {
  Base();
  virtual ~Base() = default;
  virtual void Run() = 0;
};
void CallRun(Base* b) { b->Run(); }
Base::Base() { CallRun(this); }
struct Derived : Base {
  void Run() override {}
};

struct ThrowsInDestructor {
  ~ThrowsInDestructor() noexcept(false) { throw ELabError("thrown by a destructor during unwinding"); }
};

DWORD WINAPI ThrowingThread(void*) { throw ELabError("thread failed"); }
DWORD WINAPI FaultingThread(void*) {
  WriteViolation();
  return 0;
}

std::atomic<int> g_ready{0};
HANDLE g_go = nullptr;
DWORD WINAPI SimultaneousThread(void*) {
  ++g_ready;
  WaitForSingleObject(g_go, INFINITE);
  WriteViolation();
  return 0;
}

// Waits for the thread and says its exit code.
void AwaitThread(HANDLE h) {
  WaitForSingleObject(h, 30000);
  DWORD code = 0;
  GetExitCodeThread(h, &code);
  CloseHandle(h);
  char text[64];
  std::snprintf(text, sizeof text, "thread exit code %08lx", code);
  Say(text);
}

void RunThread(LPTHREAD_START_ROUTINE routine) { AwaitThread(CreateThread(nullptr, 0, routine, nullptr, 0, nullptr)); }

// A click handler that fails deep down, caught where the framework catches a message handler's exceptions
// and handed over from the catch block. Objects with destructors on the way make the unwinder run cleanups.
volatile int g_cleanups = 0;
struct Cleanup {
  ~Cleanup() { g_cleanups = g_cleanups + 1; }
};
__attribute__((noinline)) void ThrowFromClickDepth(int depth) {
  if (depth > 0) throw ELabError("click failed");
  g_cleanups = 0;
}
__attribute__((noinline)) void ClickHandler(int depth) {
  Cleanup c;
  ThrowFromClickDepth(depth);
  g_cleanups = g_cleanups + 1;
}
__attribute__((noinline)) void DispatchClick(int depth) {
  Cleanup c;
  ClickHandler(depth);
  g_cleanups = g_cleanups + 1;
}
void RunCaughtByTheFramework() {
  try {
    DispatchClick(1);
  } catch (...) {
    fw::Application->HandleException(nullptr);
  }
}

// Threads that reach the system's thread creation by other roads than this program's import of CreateThread:
// the C runtime's thread start, and the system library's own entry point (as libraries that import it
// through the API sets do).
unsigned __stdcall FaultingRuntimeThread(void*) {
  WriteViolation();
  return 0;
}
void RunThreadOtherRoad(const std::string& road) {
  if (road == "beginthreadex") {
    AwaitThread(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, FaultingRuntimeThread, nullptr, 0, nullptr)));
  } else if (road == "kernelbase") {
    using CreateFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);
    HMODULE system = GetModuleHandleA("kernelbase.dll");
    if (!system) system = GetModuleHandleA("kernel32.dll");
    auto create = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(GetProcAddress(system, "CreateThread")));
    AwaitThread(create(nullptr, 0, FaultingThread, nullptr, 0, nullptr));
  } else {
    std::thread([] { WriteViolation(); }).join();
    Say("std::thread joined");
  }
}

__attribute__((noinline)) void ThrowFromSameSite(int i) { throw ELabError("continued exception"); }

// A worker thread's synchronised call fails in the main thread, which runs the message loop meanwhile; the
// worker says what its Synchronize let out.
bool g_syncAbort = false;
std::string g_syncOutcome;
DWORD WINAPI SynchronizingThread(void*) {
  try {
    fw::Application->Synchronize([] {
      if (g_syncAbort) throw EAbort();
      throw ELabError("synchronised call failed");
    });
    g_syncOutcome = "worker: no exception";
  } catch (const EAbort&) {
    g_syncOutcome = "worker: EAbort";
  } catch (...) {
    g_syncOutcome = "worker: other exception";
  }
  return 0;
}

// Prints what reaches the handlers: "handler: <source> <message>".
void PrintingHandler(rvx::IRVException* record, bool& handled) {
  Say("handler: " + std::to_string(record->Source()) + " " + record->ExceptMessage());
}
// A handler that asks to run on the main thread says where it ran.
DWORD g_mainThread = 0;
void PlaceReportingHandler(rvx::IRVException* record, bool&) {
  Say(std::string("synchronous handler on the ") + (GetCurrentThreadId() == g_mainThread ? "main" : "firing") +
      " thread: " + std::to_string(record->Source()));
}

// A thread fails while the main thread either keeps its message loop or just waits for the thread.
void RunSynchronousHandler(uint8_t syncMode, bool pumping) {
  g_mainThread = GetCurrentThreadId();
  rvx::RegisterExceptionHandler(PlaceReportingHandler, syncMode, 2);
  if (!pumping) return RunThread(ThrowingThread);
  HANDLE h = CreateThread(nullptr, 0, ThrowingThread, nullptr, 0, nullptr);
  while (MsgWaitForMultipleObjects(1, &h, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  }
  CloseHandle(h);
}

// A handler of the report-complete phase.
void CompleteReportHandler(rvx::IRVException* record, bool&) {
  Say("report-complete handler: phase " + std::to_string(record->Phase()) + ", source " +
      std::to_string(record->Source()));
}

void LettingThroughHiddenHandler(rvx::IRVException*, bool& handled) { handled = false; }

// Faults inside the handling itself: a handler of the program, and an exception object whose message
// cannot be read.
void FaultingHandler(rvx::IRVException*, bool&) { WriteViolation(); }
struct EUnreadable : std::exception {
  const char* what() const noexcept override { return reinterpret_cast<const char*>(*g_null); }
};
DWORD WINAPI UnreadableThread(void*) { throw EUnreadable(); }

// A work item that faults on a thread of the system's pool: the pool's thread must go on afterwards.
std::atomic<DWORD> g_worker{0};
void RunFaultingWorkItem() {
  QueueUserWorkItem(
      [](void*) WINAPI -> DWORD {
        g_worker = GetCurrentThreadId();
        WriteViolation();
        return 0;
      },
      nullptr, 0);
  while (!g_worker) Sleep(1);
  HANDLE worker = OpenThread(SYNCHRONIZE, FALSE, g_worker);
  // The handling ends with the saved report; a worker ended by it would be gone soon after.
  for (int i = 0; i < 6000 && GetFileAttributesA("bugreport.txt") == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
  Say(worker && WaitForSingleObject(worker, 2000) == WAIT_TIMEOUT ? "worker thread alive" : "worker thread ended");
  if (worker) CloseHandle(worker);
}

// A library loaded after start-up starts a thread that faults.
void RunLateLibraryThread() {
  rvx::RegisterExceptionHandler(PrintingHandler, rvx::kSyncFiringThread, 2);
  HMODULE library = LoadLibraryA("crashlab_late.dll");
  using StartFn = HANDLE (*)();
  auto start = library ? reinterpret_cast<StartFn>(reinterpret_cast<void*>(GetProcAddress(library, "StartFaultingThread")))
                       : nullptr;
  if (!start) return Say("crashlab_late.dll not loaded");
  AwaitThread(start());
}

// Thread objects of the framework: one whose Execute faults or throws, and two of one class.
class TLabThread : public fw::TThread {
 public:
  explicit TLabThread(int what) : what_(what) {}

 protected:
  void Execute() override {
    if (what_ == 1) WriteViolation();
    if (what_ == 2) throw ELabError("thread object failed");
    ReturnValue = 7;
  }

 private:
  int what_;
};

void RunThreadObject(int what) {
  rvx::RegisterExceptionHandler(PrintingHandler, rvx::kSyncFiringThread, 2);
  TLabThread thread(what);
  thread.Start();
  DWORD result = thread.WaitFor();
  Say("thread object returned " + std::to_string(result) +
      (thread.FatalException() ? ", with a fatal exception" : ", without a fatal exception"));
}

void RunTwoThreadObjects() {
  size_t before = rvx::PatchCount();
  {
    TLabThread first(0), second(0);
    first.Start();
    second.Start();
    Say("thread objects returned " + std::to_string(first.WaitFor()) + " " + std::to_string(second.WaitFor()));
  }
  TLabThread third(0);
  third.Start();
  third.WaitFor();
  Say("execute patches: " + std::to_string(rvx::PatchCount() - before));
}

DWORD WINAPI OverflowingThread(void*) {
  char text[64];
  std::snprintf(text, sizeof text, "overflowing thread $%lx", GetCurrentThreadId());
  Say(text);
  return static_cast<DWORD>(Recurse(0));
}

// Exceptions that the program catches itself: swallowed, thrown again and swallowed further out, reported
// by the program, and kept by an exception_ptr.
void RunHidden(bool withHandler) {
  rvx::RegisterExceptionHandler(PrintingHandler, rvx::kSyncFiringThread, 2);
  if (withHandler) rvx::RegisterHiddenExceptionHandler(LettingThroughHiddenHandler, rvx::kSyncFiringThread);
  try {
    throw ELabError("swallowed error");
  } catch (...) {
  }
  try {
    try {
      throw std::runtime_error("thrown again");
    } catch (...) {
      throw;
    }
  } catch (const std::exception&) {
  }
  try {
    throw std::runtime_error("reported by the program");
  } catch (...) {
    fw::Application->HandleException(nullptr);
  }
  std::exception_ptr kept;
  try {
    throw ELabError("kept");
  } catch (...) {
    kept = std::current_exception();
  }
  kept = nullptr;
}

// While the main thread waits for its exception to be handled it keeps its message loop: a message handler
// of the program that swallows an exception meanwhile is seen as a hidden exception too.
LRESULT CALLBACK SwallowingWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_APP) {
    try {
      throw ELabError("swallowed while waiting");
    } catch (...) {
    }
    return 0;
  }
  return DefWindowProcA(w, m, wp, lp);
}

void RunHiddenWhileWaiting() {
  rvx::RegisterExceptionHandler(PrintingHandler, rvx::kSyncFiringThread, 2);
  rvx::RegisterHiddenExceptionHandler(LettingThroughHiddenHandler, rvx::kSyncFiringThread);
  WNDCLASSA wc{};
  wc.lpfnWndProc = SwallowingWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "CrashlabSwallower";
  RegisterClassA(&wc);
  HWND w = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  PostMessageA(w, WM_APP, 0, 0);
  try {
    throw ELabError("reported while a message waits");
  } catch (...) {
    fw::Application->HandleException(nullptr);
  }
  DestroyWindow(w);
}

// The debugger's thread-naming exception: the raising thread names an idle thread by its id and itself
// (id -1), after a request with an empty name that changes nothing; then it faults.
void NameThread(DWORD threadId, const char* name) {
  struct {
    DWORD type;
    const char* name;
    DWORD threadId;
    DWORD flags;
  } info = {0x1000, name, threadId, 0};
  RaiseException(0x406D1388, 0, sizeof info / sizeof(ULONG_PTR), reinterpret_cast<const ULONG_PTR*>(&info));
}

// A thread that waits for the event it is given.
DWORD WINAPI IdleThread(void* event) { return WaitForSingleObject(event, INFINITE); }

DWORD g_idleThread = 0;
DWORD WINAPI NamedFaultingThread(void*) {
  NameThread(0xFFFFFFFF, "");
  NameThread(g_idleThread, "idle helper");
  NameThread(0xFFFFFFFF, "lab worker");
  Say("named");
  WriteViolation();
  return 0;
}

void RunThreadNaming() {
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE idle = CreateThread(nullptr, 0, IdleThread, stop, 0, &g_idleThread);
  RunThread(NamedFaultingThread);
  SetEvent(stop);
  WaitForSingleObject(idle, INFINITE);
  CloseHandle(idle);
  CloseHandle(stop);
}

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp) + L"crashlab.Ravex";
}

// The old instance's side of a restart: a second instance of this program, started suspended, receives the
// hand-over (a time history of its own) and is resumed; a left-over temporary folder waits for it.
void RunRestartHandOver() {
  for (int i = 0; i < 10; ++i) rvx::ExceptionTimes()[i] = 13000000000LL + i;
  std::wstring folder = TempFolder();
  CreateDirectoryW(folder.c_str(), nullptr);
  HANDLE f = CreateFileW((folder + L"\\screenShot.png").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  CloseHandle(f);
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring cmd = L"\"" + std::wstring(exe) + L"\" restarted";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi)) {
    Say("cannot start the new instance");
    return;
  }
  bool written = rvx::pipeline_platform::HandOverToNewInstance(pi.hProcess, pi.dwProcessId);
  Say(std::string(written ? "handed over to " : "no hand-over for ") + std::to_string(pi.dwProcessId));
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

// The new instance's side: what it took over at start.
void RunRestarted() {
  const rvx::TRestartInfo& info = rvx::RestartInfo();
  if (!info.restarted) {
    Say("not restarted");
    return;
  }
  DWORD code = 0;
  HANDLE old = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, info.oldProcessId);
  bool ended = !old || (GetExitCodeProcess(old, &code) && code != STILL_ACTIVE);
  if (old) CloseHandle(old);
  // With the handed-over handle closed (and the old process gone) nothing keeps the hand-over alive.
  HANDLE map = OpenFileMappingA(FILE_MAP_READ, FALSE, rvx::RestartHandOverName(GetCurrentProcessId()).c_str());
  bool closed = !map && info.handle;
  if (map) CloseHandle(map);
  std::string history;
  for (int64_t t : rvx::ExceptionTimes()) history += " " + std::to_string(t);
  Say("restarted: old process " + std::string(ended ? "ended" : "running") + ", handle " +
      (closed ? "closed" : "open") + ", temporary folder " +
      (GetFileAttributesW(TempFolder().c_str()) == INVALID_FILE_ATTRIBUTES ? "removed" : "left"));
  Say("history" + history);
}

// An outside tool's trace: the exported entry point started as a thread with the size of the trace mapping,
// or with 0 for the clipboard.
void StartTrace(int size) {
  auto trace = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "rvxTraceProcess")));
  if (!trace) {
    Say("rvxTraceProcess not exported");
    return;
  }
  HANDLE t = CreateThread(nullptr, 0, trace, reinterpret_cast<void*>(static_cast<intptr_t>(size)), 0, nullptr);
  WaitForSingleObject(t, INFINITE);
  DWORD code = 1;
  GetExitCodeThread(t, &code);
  CloseHandle(t);
  Say("trace returned " + std::to_string(code));
}

void RunTraceToMapping(int size, int mappingSize = 65536) {
  HANDLE map = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, mappingSize, "rvxTraceProcessMap");
  auto* view = map ? static_cast<char*>(MapViewOfFile(map, FILE_MAP_WRITE, 0, 0, 0)) : nullptr;
  if (!view) {
    Say("no mapping");
    return;
  }
  std::memset(view, 'x', mappingSize);
  StartTrace(size);
  size_t length = strnlen(view, mappingSize);
  bool more = length + 1 < static_cast<size_t>(mappingSize);
  Say("trace length " + std::to_string(length) + ", next byte " + (more ? std::string(1, view[length + 1]) : "-"));
  Say("trace begins " + std::string(view, std::min<size_t>(length, 9)));
  UnmapViewOfFile(view);
  CloseHandle(map);
}

void RunTraceToClipboard() {
  StartTrace(0);
  std::string text;
  if (OpenClipboard(nullptr)) {
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
      if (const char* p = static_cast<const char*>(GlobalLock(data))) text = p;
      GlobalUnlock(data);
    }
    CloseClipboard();
  }
  Say("clipboard begins " + text.substr(0, 9));
  for (const char* title : {"main thread ($", "Ravex - HandleExceptionThread ($", "Ravex - TraceProcessThread ($"})
    Say(std::string(text.find(std::string("\r\n\r\n") + title) != std::string::npos ? "has " : "lacks ") + title);
}

// Faults while the system's loader lock is held: by the faulting thread itself (as inside a library's entry
// routine), or by another thread that gives it back a little later.
using LoaderLockFn = LONG(WINAPI*)(ULONG flags, ULONG* state, ULONG_PTR* cookie);
using LoaderUnlockFn = LONG(WINAPI*)(ULONG flags, ULONG_PTR cookie);
template <class F>
F NtdllRoutine(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

HANDLE g_lockTaken = nullptr;
DWORD WINAPI LoaderLockHolder(void*) {
  ULONG_PTR cookie = 0;
  NtdllRoutine<LoaderLockFn>("LdrLockLoaderLock")(0, nullptr, &cookie);
  SetEvent(g_lockTaken);
  Sleep(500);
  NtdllRoutine<LoaderUnlockFn>("LdrUnlockLoaderLock")(0, cookie);
  return 0;
}

void RunBlocked(bool self) {
  if (self) {
    ULONG_PTR cookie = 0;
    NtdllRoutine<LoaderLockFn>("LdrLockLoaderLock")(0, nullptr, &cookie);
  } else {
    g_lockTaken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(CreateThread(nullptr, 0, LoaderLockHolder, nullptr, 0, nullptr));
    WaitForSingleObject(g_lockTaken, INFINITE);
  }
  Say("loader lock held");
  WriteViolation();
}

void RunSynchronize(bool abort) {
  rvx::RegisterExceptionHandler(PrintingHandler, rvx::kSyncFiringThread, 2);
  fw::Application->Initialize();
  g_syncAbort = abort;
  HANDLE worker = CreateThread(nullptr, 0, SynchronizingThread, nullptr, 0, nullptr);
  while (MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
    fw::Application->ProcessMessages();
  CloseHandle(worker);
  Say(g_syncOutcome);
}

// The listing of a routine of this program: call targets named from the symbol data it carries, and the
// source line numbers beside the instructions.
__attribute__((noinline)) int ListedHelper(int v) { return v * 7 + 1; }
const int kListedLine = __LINE__ + 1;
__attribute__((noinline)) void ListedRoutine() {
  static volatile int sink;
  sink = ListedHelper(sink) + ListedHelper(3);
}

void RunListing() {
  const rvx::Address entry = static_cast<rvx::Address>(reinterpret_cast<uintptr_t>(&ListedRoutine));
  std::string text;
  rvx::TFunctionInfo info;
  rvx::DisassembleFunction(entry, text, 0, info, true, 0);
  Say("defined at line " + std::to_string(kListedLine));
  rvx::SymbolInfo si;
  if (rvx::SymbolInfoAt(entry, si))
    Say("symbol: " + si.unit + " " + std::to_string(si.line) + " " + si.publicName);
  Say(text);
}

// Sends a report through the SMTP server on 127.0.0.1 at the port in RVX_SMTP_PORT: with the send action
// of a record (in the calling thread), or automatically in the background for an exception thrown here.
void RunSendSmtp(bool automatic) {
  char port[16] = {};
  GetEnvironmentVariableA("RVX_SMTP_PORT", port, sizeof port);
  rvx::SetSkipOnlineCheck(true);
  auto s = rvx::MainSettings();
  s->SetMailAsSmtpClient(true);
  s->SetSmtpServer("127.0.0.1");
  s->SetSmtpPort(std::atoi(port));
  s->SetSmtpAccount("");
  s->SetSmtpPassword("");
  s->SetMailAddr("lab@example.org");
  s->SetMailSubj("lab report %exceptClass%");
  s->SetAttachBugRep(true);
  s->SetAttachBugRepFile(true);
  if (automatic) {
    s->SetAutoSend(true);
    s->SetSendInBackgr(true);
    throw ELabError("send me");
  }
  rvx::ExceptionParams p;
  p.settings = s;
  p.object = rvx::MakeOwnException("sent by hand");
  p.address = static_cast<uintptr_t>(reinterpret_cast<uintptr_t>(&RunSendSmtp));
  auto record = rvx::NewExceptionRecord(p);
  record->SetSendInBackgr(false);
  bool ok = record->SendBugReport(nullptr);
  Say(std::string("send result ") + (ok ? "1" : "0") + " sent " + (record->Sent() ? "1" : "0"));
}

// ---- the exception box, shown from this console program ----------------------------------------------

std::atomic<rvx::IRVException*> g_boxRecord{nullptr};
void KeepBoxRecord(rvx::IRVException* record, bool&) { g_boxRecord = record; }

// Adds a report section once the box is open and the test has signalled the named event.
DWORD WINAPI AddSectionWhileOpen(void*) {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, ("RvxLabAddSection" + std::to_string(GetCurrentProcessId())).c_str());
  while (!rvx::record_platform::OpenExceptionBox()) Sleep(20);
  WaitForSingleObject(go, 60000);
  if (rvx::IRVException* r = g_boxRecord.load()) {
    r->BugReportSections()->Add("lab notes", "added while the box was open");
    Say("section added");
  }
  CloseHandle(go);
  return 0;
}

// box-full: every button; box-fatal: the same for a fault that cannot be continued; box-plain-details,
// box-plain: the message box forms; box-expanded: opens with the report; box-countdown: continues by itself
// after a second; box-report: the report gains a section while the expanded box is open. A continuable
// exception leaves a thread; the fatal one is a write fault on the main thread.
void RunBox(const std::string& s) {
  const rvx::TRestartInfo& restart = rvx::RestartInfo();
  if (restart.restarted) {
    HANDLE f = CreateFileA("restarted.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::string text = "restarted from " + std::to_string(restart.oldProcessId);
    DWORD written;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
  }
  rvx::SetConsoleShowsBox(true);
  auto m = rvx::MainSettings();
  m->SetAutoSave(false);
  m->SetGnShowCfg(s == "box-plain" ? 3 : s == "box-plain-details" ? 2 : 0);
  m->SetSendBtnVis(true);
  m->SetSaveBtnVis(true);
  m->SetPrintBtnVis(true);
  m->SetShowBtnVis(true);
  m->SetContinueBtnVis(true);
  m->SetRestartBtnVis(true);
  m->SetCloseBtnVis(true);
  if (s == "box-countdown") {
    m->SetAutoContinue(true);
    m->SetAutoDelay(1);
  }
  if (s == "box-expanded" || s == "box-report") m->SetAutoShowBugRep(true);
  if (s == "box-report") {
    rvx::RegisterExceptionHandler(KeepBoxRecord, rvx::kSyncFiringThread, 1);
    CloseHandle(CreateThread(nullptr, 0, AddSectionWhileOpen, nullptr, 0, nullptr));
  }
  if (s == "box-fatal") WriteViolation();
  HANDLE h = CreateThread(nullptr, 0, ThrowingThread, nullptr, 0, nullptr);
  WaitForSingleObject(h, INFINITE);  // as long as the box stays open
  CloseHandle(h);
  Say("box closed");
}

// ---- freezes and paused threads ------------------------------------------------------------------------

// The main thread's message loop for a while.
void PumpMessages(DWORD ms) {
  DWORD start = GetTickCount();
  for (DWORD passed; (passed = GetTickCount() - start) < ms;) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - passed, QS_ALLINPUT);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
  }
}

// Where the main thread hangs; the freeze report must name it.
__attribute__((noinline)) void BlockMainThread(DWORD ms) {
  Sleep(ms);
  asm volatile("");
}

// "freeze TIMEOUT BLOCK": the freeze watch with this timeout; the main thread stops answering for BLOCK ms and
// then answers for half a timeout more.
void RunFreeze(DWORD timeout, DWORD block) {
  if (!rvx::StartFreezeWatch(timeout)) {
    Say("no freeze watch");
    return;
  }
  PumpMessages(timeout / 5);
  Say("blocking");
  BlockMainThread(block);
  Say("answering again");
  PumpMessages(timeout / 2);
  rvx::StopFreezeWatch();
}

// The watch paused twice stands still until the second resume: two blocks of one and a half timeouts are not
// reported, the third one (after the second resume) is.
void RunFreezePaused() {
  const DWORD timeout = 3000;
  rvx::StartFreezeWatch(timeout);
  PumpMessages(timeout / 5);
  rvx::PauseFreezeCheck(true);
  rvx::PauseFreezeCheck(true);
  Say("paused twice");
  BlockMainThread(timeout * 3 / 2);
  PumpMessages(timeout / 5);
  rvx::PauseFreezeCheck(false);
  Say("resumed once");
  BlockMainThread(timeout * 3 / 2);
  PumpMessages(timeout / 5);
  rvx::PauseFreezeCheck(false);
  Say("resumed twice");
  BlockMainThread(timeout * 3 / 2);
  PumpMessages(timeout / 2);
  rvx::StopFreezeWatch();
}

std::atomic<int> g_fetched{0};
std::atomic<long> g_busyRounds{0};
std::atomic<bool> g_stopBusy{false};
DWORD g_fetchingId = 0;

DWORD WINAPI FetchingWorker(void* ready) {
  MSG m;
  PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
  SetEvent(ready);
  while (GetMessageA(&m, nullptr, 0, 0) > 0) ++g_fetched;
  return 0;
}

DWORD WINAPI BusyWorker(void*) {
  while (!g_stopBusy) {
    ++g_busyRounds;
    Sleep(1);
  }
  return 0;
}

bool WaitUntil(const std::function<bool()>& done, DWORD ms) {
  for (DWORD start = GetTickCount(); !done(); Sleep(10))
    if (GetTickCount() - start > ms) return false;
  return true;
}

// Runs in the handling thread while the other threads are paused. The fetching worker is woken from the
// fetch it was in when the pause began; it must stand still at its next one, while the busy worker goes on.
void PauseCheckingHandler(rvx::IRVException*, bool&) {
  int before = g_fetched;
  PostThreadMessageA(g_fetchingId, WM_USER, 0, 0);
  bool woke = WaitUntil([&] { return g_fetched > before; }, 5000);
  int fetched = g_fetched;
  long busy = g_busyRounds;
  PostThreadMessageA(g_fetchingId, WM_USER, 0, 0);
  Sleep(500);
  Say(std::string("while handled: fetching worker ") + (woke && g_fetched == fetched ? "paused" : "running") +
      ", busy worker " + (g_busyRounds > busy ? "running" : "stopped"));
}

void RunPauseThreads() {
  rvx::MainSettings()->SetPauseThreads(true);
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE fetching = CreateThread(nullptr, 0, FetchingWorker, ready, 0, &g_fetchingId);
  HANDLE busy = CreateThread(nullptr, 0, BusyWorker, nullptr, 0, nullptr);
  WaitForSingleObject(ready, 10000);
  rvx::RegisterExceptionHandler(PauseCheckingHandler, rvx::kSyncFiringThread, 2);
  RunThread(ThrowingThread);
  rvx::UnregisterExceptionHandler(PauseCheckingHandler);
  // The message posted during the pause arrives once the handling is over.
  int expected = 2;
  Say(std::string("after handling: fetching worker ") +
      (WaitUntil([&] { return g_fetched >= expected; }, 5000) ? "resumed" : "still paused"));
  g_stopBusy = true;
  PostThreadMessageA(g_fetchingId, WM_QUIT, 0, 0);
  HANDLE both[2] = {fetching, busy};
  WaitForMultipleObjects(2, both, TRUE, 10000);
  for (HANDLE h : {fetching, busy, ready}) CloseHandle(h);
}

// A worker that fetches its messages while it holds the system's loader lock (as code run by a library's
// entry routine may), and lets go of the lock only for moments. An exception in another thread with the
// threads paused must neither stop the worker while it holds the lock nor wait for it for ever.
std::atomic<bool> g_stopLockedFetching{false};
// Takes the routine from its import slot at every call, so that the fetch reaches the message-fetch hooks
// whenever they are in place.
__attribute__((noinline)) void FetchOnce(MSG& m) { PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE); }
DWORD WINAPI LockedFetchingWorker(void* ready) {
  auto lock = NtdllRoutine<LoaderLockFn>("LdrLockLoaderLock");
  auto unlock = NtdllRoutine<LoaderUnlockFn>("LdrUnlockLoaderLock");
  MSG m;
  PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
  SetEvent(ready);
  while (!g_stopLockedFetching) {
    ULONG_PTR cookie = 0;
    lock(0, nullptr, &cookie);
    for (int i = 0; i < 20; ++i) {
      FetchOnce(m);
      Sleep(1);
    }
    unlock(0, cookie);
    Sleep(1);
  }
  return 0;
}

void RunPauseWithLoaderLock() {
  rvx::MainSettings()->SetPauseThreads(true);
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE worker = CreateThread(nullptr, 0, LockedFetchingWorker, ready, 0, nullptr);
  WaitForSingleObject(ready, 10000);
  RunThread(ThrowingThread);
  g_stopLockedFetching = true;
  WaitForSingleObject(worker, 10000);
  for (HANDLE h : {worker, ready}) CloseHandle(h);
}

// The interface for programs: an exception handler that writes into the report, action handlers (a method,
// a procedure that faults and one after it), a plug-in that reads the exception, settings read and changed,
// and reports that the program raises itself.
struct LabWatcher {
  void OnAction(uint8_t action, ravex::Exception* e, bool&) {
    Say("action method: " + std::to_string(action) + " " + ravex::Message(e));
  }
};
void NotingHandler(ravex::Exception* e, bool&) {
  ravex::SetHeaderItem(e, "lab note", "noted in phase " + std::to_string(ravex::PhaseOf(e)));
}
void FaultingActionHandler(uint8_t, ravex::Exception*, bool&) { WriteViolation(); }
void PrintingActionHandler(uint8_t action, ravex::Exception*, bool&) {
  Say("action procedure: " + std::to_string(action));
}
void RunPublicInterface() {
  static LabWatcher watcher;
  ravex::RegisterExceptionHandler(NotingHandler, ravex::kReportPrepared);
  ravex::RegisterActionHandler(ravex::Method<&LabWatcher::OnAction>(&watcher));
  ravex::RegisterActionHandler(FaultingActionHandler);
  ravex::RegisterActionHandler(PrintingActionHandler);
  ravex::AddReportPlugin("lab", "the lab's own section",
                         [](ravex::Exception* e) { return "seen class " + ravex::ClassName(e); });
  Say(std::string("plug-in enabled ") + (ravex::EnablePlugin("lab") ? "1" : "0"));
  Say(std::string("AutoSave ") + (ravex::BoolSetting("AutoSave") ? "on" : "off"));
  ravex::SetTextSetting("ExceptMsg", "lab says: %exceptMsg%");
  bool raised = ravex::ReportProblem("raised by the program", "ELabProblem");
  Say(std::string("raised ") + (raised ? "1" : "0"));
  ravex::UnregisterActionHandler(FaultingActionHandler);
  ravex::UnregisterActionHandler(PrintingActionHandler);
  ravex::UnregisterActionHandler(ravex::Method<&LabWatcher::OnAction>(&watcher));
  std::string report = ravex::ProblemReport("only composed", "ELabProblem");
  Say(std::string("composed report: lab section ") +
      (report.find("\r\nlab:\r\nseen class ELabProblem") != std::string::npos ? "1" : "0") + ", note " +
      (report.find("noted in phase 2") != std::string::npos ? "1" : "0"));
  ravex::RemoveReportPlugin("lab");
  ravex::UnregisterExceptionHandler(NotingHandler);
}

// The framework's interception points: a second installation finds them in place; after another tool took
// one of them over (here the synchronised calls' hand-over, redirected once the crash reporter's patches are
// undone), the installation says that it failed.
void OtherToolsTakeOver(std::exception_ptr* slot) { fw::TakeOverSyncException(slot); }
void RunFrameworkHooks() {
  Say(std::string("installed again: ") + (rvx::InstallFrameworkHooks() ? "yes" : "no"));
  rvx::UndoPatches();
  uintptr_t checkSynchronize = rvx::MemberPointer(&fw::TApplication::CheckSynchronize);
  bool taken = rvx::PatchRelativeCall(reinterpret_cast<void*>(checkSynchronize),
                                      reinterpret_cast<void*>(&fw::TakeOverSyncException),
                                      reinterpret_cast<void*>(&OtherToolsTakeOver));
  Say(std::string("taken over by another tool: ") + (taken ? "yes" : "no"));
  Say(std::string("installed over it: ") + (rvx::InstallFrameworkHooks() ? "yes" : "no"));
  rvx::UndoPatches();
}

int Run(const std::string& s) {
  if (s == "av-read") ReadViolation();
  else if (s == "av-write") WriteViolation();
  else if (s == "av-exec") ExecuteViolation();
  else if (s == "div-zero") DivideByZero();
  else if (s == "illegal") IllegalInstruction();
  else if (s == "privileged") PrivilegedInstruction();
  else if (s == "stack-overflow") Recurse(0);
  else if (s == "throw-own") throw ELabError("our own error!");
  else if (s == "throw-std") throw std::runtime_error("standard error");
  else if (s == "throw-int") throw 42;
  else if (s == "thread-throw") RunThread(ThrowingThread);
  else if (s == "thread-fault") RunThread(FaultingThread);
  else if (s == "beginthreadex-fault") RunThreadOtherRoad("beginthreadex");
  else if (s == "kernelbase-thread-fault") RunThreadOtherRoad("kernelbase");
  else if (s == "std-thread-fault") RunThreadOtherRoad("std::thread");
  else if (s == "std-thread") {
    std::thread t([] { throw std::runtime_error("std::thread failed"); });
    t.join();
  } else if (s == "work-item") {
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    QueueUserWorkItem(
        [](void* e) WINAPI -> DWORD {
          struct Signal {
            HANDLE e;
            ~Signal() { SetEvent(e); }
          } signal{e};
          throw ELabError("work item failed");
        },
        done, 0);
    WaitForSingleObject(done, 30000);
    // The item's destructors ran before its exception was handed over: wait for the report (the program
    // must not end while the exception is being handled).
    for (int i = 0; i < 3000 && GetFileAttributesA("bugreport.txt") == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
  } else if (s == "eabort") {
    try {
      throw EAbort();
    } catch (...) {
      fw::Application->HandleException(nullptr);
    }
  } else if (s == "caught-by-framework") {
    RunCaughtByTheFramework();
  } else if (s == "dbedit") {
    try {
      throw EDBEditError("'abc' is not a valid integer value");
    } catch (...) {
      fw::Application->HandleException(nullptr);
    }
  } else if (s == "abort") std::abort();
  else if (s == "pure-virtual") Derived d;
  else if (s == "dtor-throw") {
    ThrowsInDestructor t;
    throw ELabError("first");
  } else if (s == "threads20") {
    g_go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE threads[20];
    for (auto& h : threads) h = CreateThread(nullptr, 0, SimultaneousThread, nullptr, 0, nullptr);
    while (g_ready < 20) Sleep(1);
    SetEvent(g_go);
    WaitForMultipleObjects(20, threads, TRUE, 60000);
    int failed = 0;
    for (auto h : threads) {
      DWORD code = 0;
      GetExitCodeThread(h, &code);
      failed += code == 0xFFFFFFFF;
      CloseHandle(h);
    }
    Say("failed threads " + std::to_string(failed));
  } else if (s == "loop100") {
    for (int i = 0; i < 100; ++i) {
      try {
        ThrowFromSameSite(i);
      } catch (...) {
        fw::Application->HandleException(nullptr);
      }
    }
  } else if (s == "synchronize" || s == "synchronize-abort") {
    RunSynchronize(s == "synchronize-abort");
  } else if (s == "sync-handler") {
    RunSynchronousHandler(rvx::kSyncMainThread, true);
  } else if (s == "sync-handler-unreachable") {
    RunSynchronousHandler(rvx::kSyncMainThreadOrFiring, false);
  } else if (s == "sync-handler-only-main") {
    RunSynchronousHandler(rvx::kSyncMainThread, false);
  } else if (s == "report-complete-handler") {
    rvx::RegisterExceptionHandler(CompleteReportHandler, rvx::kSyncFiringThread, 4);
    RunThread(ThrowingThread);
  } else if (s == "hidden-while-waiting") {
    RunHiddenWhileWaiting();
  } else if (s == "hidden" || s == "hidden-none") {
    RunHidden(s == "hidden");
  } else if (s == "restart-handover") {
    RunRestartHandOver();
  } else if (s == "restarted") {
    RunRestarted();
  } else if (s == "trace-100") {
    RunTraceToMapping(100);
  } else if (s == "trace-full") {
    RunTraceToMapping(65536);
  } else if (s == "trace-oversize") {
    // Forty more threads make the report longer than the mapping.
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<HANDLE> idle;
    for (int i = 0; i < 40; ++i) idle.push_back(CreateThread(nullptr, 0, IdleThread, stop, 0, nullptr));
    RunTraceToMapping(1000000, 4096);
    SetEvent(stop);
    WaitForMultipleObjects(static_cast<DWORD>(idle.size()), idle.data(), TRUE, INFINITE);
    for (HANDLE h : idle) CloseHandle(h);
  } else if (s == "trace-clipboard") {
    RunTraceToClipboard();
  } else if (s == "blocked-self" || s == "blocked-other") {
    RunBlocked(s == "blocked-self");
  } else if (s == "send-smtp" || s == "send-smtp-auto") {
    RunSendSmtp(s == "send-smtp-auto");
  } else if (s == "thread-name") {
    RunThreadNaming();
  } else if (s == "listing") {
    RunListing();
  } else if (s == "handler-fault") {
    rvx::RegisterExceptionHandler(FaultingHandler, rvx::kSyncFiringThread, 2);
    RunThread(ThrowingThread);
  } else if (s == "message-fault") {
    RunThread(UnreadableThread);
  } else if (s == "work-item-fault") {
    RunFaultingWorkItem();
  } else if (s == "thread-overflow") {
    RunThread(OverflowingThread);
  } else if (s == "late-library-thread") {
    RunLateLibraryThread();
  } else if (s == "thread-object-fault" || s == "thread-object-throw") {
    RunThreadObject(s == "thread-object-fault" ? 1 : 2);
  } else if (s == "thread-objects-one-class") {
    RunTwoThreadObjects();
  } else if (s == "show-exception-message") {
    rvx::RegisterExceptionHandler(PrintingHandler, rvx::kSyncFiringThread, 2);
    try {
      throw ELabError("shown by the last resort");
    } catch (...) {
      fw::ShowExceptionMessage(std::current_exception(), reinterpret_cast<const void*>(&WriteViolation));
    }
  } else if (s == "public-interface") {
    RunPublicInterface();
  } else if (s == "show-no-object") {
    fw::Application->ShowException(nullptr, "shown without an object");
  } else if (s.rfind("box-", 0) == 0) {
    RunBox(s);
  } else if (s == "freeze-paused") {
    RunFreezePaused();
  } else if (s == "framework-hooks") {
    RunFrameworkHooks();
  } else if (s == "pause-loader-lock") {
    RunPauseWithLoaderLock();
  } else if (s == "pause-threads") {
    RunPauseThreads();
  } else if (s == "none") {
  } else {
    Say("unknown scenario");
    return 3;
  }
  Say("survived");
  return 0;
}

}  // namespace

double Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(to.QuadPart - from.QuadPart) * 1e6 / static_cast<double>(f.QuadPart);
}

LARGE_INTEGER g_faultStamp;
DWORD WINAPI TimedFaultThread(void*) {
  QueryPerformanceCounter(&g_faultStamp);
  WriteViolation();
  return 0;
}
DWORD WINAPI QuietThread(void*) { return 0; }

// Time from a fault in a thread to the end of its handling (report saved), and of the same thread without
// a fault, each as the median of `n` runs in microseconds.
void MeasureFaults(int n) {
  std::vector<double> fault, quiet;
  for (int i = 0; i < n; ++i) {
    HANDLE h = CreateThread(nullptr, 0, TimedFaultThread, nullptr, 0, nullptr);
    WaitForSingleObject(h, INFINITE);
    LARGE_INTEGER end;
    QueryPerformanceCounter(&end);
    CloseHandle(h);
    fault.push_back(Microseconds(g_faultStamp, end));
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    h = CreateThread(nullptr, 0, QuietThread, nullptr, 0, nullptr);
    WaitForSingleObject(h, INFINITE);
    QueryPerformanceCounter(&end);
    CloseHandle(h);
    quiet.push_back(Microseconds(start, end));
  }
  std::sort(fault.begin(), fault.end());
  std::sort(quiet.begin(), quiet.end());
  std::printf("fault-us %.0f\nthread-us %.0f\n", fault[n / 2], quiet[n / 2]);
  std::fflush(stdout);
}

// ---- how fast the exception box appears -------------------------------------------------------------------

// The first visible top-level window of this process with that class (and, when `child` is given, with a
// visible child of that class), or null.
HWND VisibleOwnWindow(const char* cls, const char* child) {
  struct Search {
    const char* cls;
    const char* child;
    HWND found = nullptr;
  } search{cls, child};
  EnumWindows(
      [](HWND w, LPARAM p) WINAPI -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        char name[64] = {};
        GetClassNameA(w, name, sizeof name);
        if (pid != GetCurrentProcessId() || lstrcmpA(name, s->cls) != 0 || !IsWindowVisible(w)) return TRUE;
        if (s->child) {
          HWND c = FindWindowExA(w, nullptr, s->child, nullptr);
          if (!c || !IsWindowVisible(c)) return TRUE;
        }
        s->found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

LARGE_INTEGER g_shownStamp;
// Waits (at most 10 s) until the window is visible, notes the time and closes it with `close`.
DWORD WatchAndClose(const char* cls, const char* child, UINT message, WPARAM wp, LPARAM lp) {
  for (int i = 0; i < 10000; ++i) {
    if (HWND w = VisibleOwnWindow(cls, child)) {
      QueryPerformanceCounter(&g_shownStamp);
      PostMessageA(w, message, wp, lp);
      return 1;
    }
    Sleep(1);
  }
  return 0;
}
DWORD WINAPI WatchBox(void* expanded) {
  // The empty message with both parameters 777 closes the box.
  return WatchAndClose("RavexWndClass", expanded ? "SysTabControl32" : nullptr, WM_NULL, 777, 777);
}
DWORD WINAPI WatchMessageBox(void*) { return WatchAndClose("#32770", nullptr, WM_COMMAND, IDOK, 0); }
DWORD WINAPI TimedThrowThread(void*) {
  QueryPerformanceCounter(&g_faultStamp);
  throw ELabError("timed for the box");
}
DWORD WINAPI WaitingThread(void* stop) {
  WaitForSingleObject(stop, INFINITE);
  return 0;
}

// Time from a thrown exception in a thread to the exception box being visible (with `expanded`, to the
// expanded box showing its tabs, while ten more threads wait), and from a call of the system's message box
// to its window being visible (the peer); medians of `n` rounds in microseconds.
void MeasureBoxes(int n, bool expanded) {
  rvx::SetConsoleShowsBox(true);
  auto m = rvx::MainSettings();
  m->SetAutoSave(false);
  m->SetAutoSend(false);
  m->SetGnShowCfg(0);
  m->SetAutoShowBugRep(expanded);
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<HANDLE> idle;
  for (int i = 0; expanded && i < 10; ++i) idle.push_back(CreateThread(nullptr, 0, WaitingThread, stop, 0, nullptr));
  std::vector<double> box, plain;
  for (int i = 0; i < n; ++i) {
    HANDLE watch = CreateThread(nullptr, 0, WatchBox, expanded ? stop : nullptr, 0, nullptr);
    HANDLE h = CreateThread(nullptr, 0, TimedThrowThread, nullptr, 0, nullptr);
    WaitForSingleObject(h, 30000);
    WaitForSingleObject(watch, 30000);
    DWORD seen = 0;
    GetExitCodeThread(watch, &seen);
    for (HANDLE x : {h, watch}) CloseHandle(x);
    if (seen) box.push_back(Microseconds(g_faultStamp, g_shownStamp));
    watch = CreateThread(nullptr, 0, WatchMessageBox, nullptr, 0, nullptr);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    MessageBoxA(nullptr, "timed for the box", "crashlab", MB_OK | MB_ICONERROR);
    WaitForSingleObject(watch, 30000);
    GetExitCodeThread(watch, &seen);
    CloseHandle(watch);
    if (seen) plain.push_back(Microseconds(start, g_shownStamp));
  }
  SetEvent(stop);
  for (HANDLE x : idle) {
    WaitForSingleObject(x, 5000);
    CloseHandle(x);
  }
  CloseHandle(stop);
  std::sort(box.begin(), box.end());
  std::sort(plain.begin(), plain.end());
  std::printf("box-us %.0f\nmessagebox-us %.0f\n", box.empty() ? -1.0 : box[box.size() / 2],
              plain.empty() ? -1.0 : plain[plain.size() / 2]);
  std::fflush(stdout);
}

// Time of one caught and swallowed throw in nanoseconds, the median of 11 rounds of `n`; with `hidden` a
// hidden-exception handler is registered (it lets nothing through), so every catch is handed over.
void MeasureCatches(int n, bool hidden) {
  if (hidden) rvx::RegisterHiddenExceptionHandler([](rvx::IRVException*, bool&) {}, rvx::kSyncFiringThread);
  std::vector<double> rounds;
  for (int r = 0; r < 11; ++r) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < n; ++i) {
      try {
        ThrowFromSameSite(i);
      } catch (...) {
      }
    }
    QueryPerformanceCounter(&end);
    rounds.push_back(Microseconds(start, end) * 1000.0 / n);
  }
  std::sort(rounds.begin(), rounds.end());
  std::printf("catch-ns %.0f\n", rounds[5]);
  std::fflush(stdout);
}

// Time to complete one report of an exception with ten threads (stacks, registers, stack dump, disassembly,
// plug-ins), the median of `n` reports, in microseconds.
__attribute__((noinline)) void CaptureHere(CONTEXT& c) { RtlCaptureContext(&c); }

void MeasureReports(int n) {
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<HANDLE> idle;
  for (int i = 0; i < 9; ++i) idle.push_back(CreateThread(nullptr, 0, WaitingThread, stop, 0, nullptr));
  std::vector<double> times;
  size_t length = 0;
  for (int i = 0; i < n; ++i) {
    CONTEXT c{};
    c.ContextFlags = CONTEXT_FULL;
    CaptureHere(c);
    rvx::TContext context;
    std::memcpy(&context, &c, sizeof context);
    rvx::ExceptionParams p;
    p.settings = rvx::MainSettings();
    p.object = rvx::MakeOwnException("report cost");
    p.address = c.Eip;
    p.context = &context;
    p.dontCompleteYet = true;
    auto record = rvx::NewExceptionRecord(p);
    record->SetPlWaitBox(false);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    length = record->CompleteBugReport().size();
    QueryPerformanceCounter(&end);
    times.push_back(Microseconds(start, end));
  }
  SetEvent(stop);
  WaitForMultipleObjects(static_cast<DWORD>(idle.size()), idle.data(), TRUE, INFINITE);
  for (HANDLE h : idle) CloseHandle(h);
  std::sort(times.begin(), times.end());
  std::printf("report-us %.0f\nreport-first-us %.0f\nreport-chars %zu\n", times[n / 2], times.back(), length);
  std::fflush(stdout);
}

int main(int argc, char** argv) {
  LARGE_INTEGER start, armed;
  QueryPerformanceCounter(&start);
  rvx::RegisterCrashDialogs();
  rvx::StartCrashReporter();
  fw::TApplication application;
  rvx::InstallFrameworkHooks();
  QueryPerformanceCounter(&armed);
  std::string scenario = argc > 1 ? argv[1] : "none";
  // As a web server's CGI program its standard output is the answer: nothing may come before its header.
  if (!rvx::RunsAsCgiProgram()) Say("crashlab: " + scenario);
  if (scenario == "startup-cost") {
    std::printf("arming-us %.0f\n", Microseconds(start, armed));
    return 0;
  }
  if (scenario == "catch-cost") {
    MeasureCatches(argc > 2 ? std::atoi(argv[2]) : 10000, argc > 3 && std::string(argv[3]) == "hidden");
    return 0;
  }
  if (scenario == "report-cost") {
    MeasureReports(argc > 2 ? std::atoi(argv[2]) : 11);
    return 0;
  }
  if (scenario == "box-cost") {
    MeasureBoxes(argc > 2 ? std::atoi(argv[2]) : 11, argc > 3 && std::string(argv[3]) == "expanded");
    return 0;
  }
  if (scenario == "fault-cost") {
    MeasureFaults(argc > 2 ? std::atoi(argv[2]) : 21);
    return 0;
  }
  if (scenario == "freeze") {
    RunFreeze(argc > 2 ? std::atoi(argv[2]) : 3000, argc > 3 ? std::atoi(argv[3]) : 4500);
    Say("survived");
    return 0;
  }
  return Run(scenario);
}
