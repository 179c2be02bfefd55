// The measuring side of the walker's accuracy corpus. For every scenario it arms a vectored handler, runs the
// chain, and at the crash (a fault, or the throw seen through the wrapped throw routine) walks the stack with
// our walker and with three peers: a plain frame-pointer walk, the C++ runtime's _Unwind_Backtrace and the
// system's dbghelp (StackWalk64 with SymFromAddr and SymGetLineFromAddr64). It prints
//   expect <scenario> <routine>,<routine>,...
//   frame <scenario> <tool> <index> <address> <kind> <line> <name>
// where kind is t (the crash location), c (a call instruction) or r (a return address); tools/walker-corpus.py
// scores the frames against the toolchain's addr2line.
//
// Until the symbol data reader is linked in, our walker gets the routine names of this program's own symbol
// table (no line numbers), read by a small stand-in below.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <cstring>
#include <string>
#include <typeinfo>
#include <unwind.h>

#include "corpus.h"
#include "crash/stack/decoder.h"
#include "crash/stack/module.h"
#include "crash/stack/safe_read.h"
#include "crash/stack/stack_trace.h"

namespace corpus {
namespace {

using rvx::Address;

std::jmp_buf g_main, g_worker;
const Expected* g_current = nullptr;
CONTEXT g_context;
bool g_armed = false, g_inWorker = false;
Address g_creator = 0;
DWORD g_workerThread = 0;
std::shared_ptr<rvx::TMapFile> g_symbols;

Address A(const void* p) { return static_cast<Address>(reinterpret_cast<uintptr_t>(p)); }

// ---- routine names from the program's symbol table (stand-in until the symbol data reader lands) ----------

std::shared_ptr<rvx::TMapFile> OwnSymbolTable() {
  auto map = std::make_shared<rvx::TMapFile>();
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return map;
  DWORD size = GetFileSize(f, nullptr), got = 0;
  std::string file(size, '\0');
  ReadFile(f, file.data(), size, &got, nullptr);
  CloseHandle(f);
  auto u32 = [&](size_t at) { uint32_t v = 0; if (at + 4 <= file.size()) std::memcpy(&v, &file[at], 4); return v; };
  auto u16 = [&](size_t at) { uint16_t v = 0; if (at + 2 <= file.size()) std::memcpy(&v, &file[at], 2); return v; };
  size_t nt = u32(0x3C);
  uint32_t symbols = u32(nt + 12), count = u32(nt + 16);
  uint16_t sections = u16(nt + 6), optional = u16(nt + 20);
  size_t table = nt + 24 + optional;
  Address base = A(GetModuleHandleA(nullptr));
  size_t strings = symbols + size_t(count) * 18;
  for (uint32_t i = 0; i < count && symbols; ++i) {
    size_t at = symbols + size_t(i) * 18;
    if (at + 18 > file.size()) break;
    std::string name;
    if (u32(at) == 0) {
      size_t s = strings + u32(at + 4);
      while (s < file.size() && file[s]) name += file[s++];
    } else {
      name.assign(&file[at], strnlen(&file[at], 8));
    }
    int16_t section = static_cast<int16_t>(u16(at + 12));
    uint16_t type = u16(at + 14);
    uint8_t storage = static_cast<uint8_t>(file[at + 16]);
    uint8_t aux = static_cast<uint8_t>(file[at + 17]);
    if (section > 0 && section <= sections && (type & 0x30) == 0x20 && (storage == 2 || storage == 3)) {
      uint32_t va = u32(table + (section - 1) * 40 + 12);
      std::string unit;
      rvx::DemangleName(name, unit);
      map->publics.push_back({true, true, name, base + va + u32(at + 8)});
    }
    i += aux;
  }
  std::sort(map->publics.begin(), map->publics.end(), [](auto& a, auto& b) { return a.address < b.address; });
  if (!map->publics.empty()) {
    map->segments.push_back({true, true, map->publics.front().address,
                             map->publics.back().address - map->publics.front().address + 1, "corpus", 0});
    map->valid = true;
  }
  return map;
}

// ---- the tools ----------------------------------------------------------------------------------------

bool g_silent = false;

void Print(const char* tool, int index, Address address, char kind, unsigned line, const std::string& name) {
  if (g_silent) return;
  std::printf("frame %s %s %d %08lx %c %u %s\n", g_current->name, tool, index, static_cast<unsigned long>(address), kind,
              line, name.empty() ? "-" : name.c_str());
}

Address StackTopOfThisThread() {
  auto* tib = reinterpret_cast<NT_TIB*>(NtCurrentTeb());
  return A(tib->StackBase);
}

void Ours(const CONTEXT& c, bool thrown) {
  rvx::TDATryRead snapshot = rvx::TakeReadSnapshot();
  rvx::ProcessReader reader(&snapshot);
  rvx::WalkerEnvironment env;
  env.memory = &reader;
  env.mainModule = A(GetModuleHandleA(nullptr));
  env.symbols = [](Address base, const std::string&) -> std::shared_ptr<const rvx::TMapFile> {
    return base == A(GetModuleHandleA(nullptr)) ? g_symbols : nullptr;
  };
  rvx::TStackWalker walker(env);
  rvx::TraceOptions o;
  o.stackBottom = c.Esp;
  o.stackTop = StackTopOfThisThread();
  o.ebp = c.Ebp;
  o.isException = true;
  o.externalException = !thrown;
  o.currentAddress = c.Eip;
  if (g_inWorker && g_creator) o.creatorAddress = rvx::CallSiteBefore(reader, g_creator);
  rvx::TraceResult r = walker.Trace(o);
  int i = 0;
  for (const rvx::TStackItem& item : r.items)
    Print("ours", i, item.address, i == 0 ? 't' : 'c', item.line ? item.line : item.relLine,
          item.functionName), ++i;
}

void FramePointers(const CONTEXT& c) {
  Address top = StackTopOfThisThread();
  Print("fpwalk", 0, c.Eip, 't', 0, "");
  Address ebp = c.Ebp;
  int i = 1;
  for (int guard = 0; guard < 4096 && ebp >= c.Esp && ebp + 8 <= top; ++guard) {
    uint32_t frame[2];
    if (!rvx::SafeRead(ebp, frame, 8, nullptr)) break;
    if (frame[1] > 7) Print("fpwalk", i++, frame[1], 'r', 0, "");
    if (frame[0] <= ebp) break;
    ebp = frame[0];
  }
}

struct UnwindState {
  int index = 0;
  int skip = 0;
};
_Unwind_Reason_Code UnwindFrame(_Unwind_Context* context, void* p) {
  auto* s = static_cast<UnwindState*>(p);
  Address ip = static_cast<Address>(_Unwind_GetIP(context));
  if (s->skip > 0) {
    --s->skip;
    return _URC_NO_REASON;
  }
  Print("unwind", s->index, ip, s->index == 0 ? 'r' : 'r', 0, "");
  ++s->index;
  return s->index > 4096 ? _URC_END_OF_STACK : _URC_NO_REASON;
}

void Unwinder(int skip) {
  UnwindState s;
  s.skip = skip;
  _Unwind_Backtrace(UnwindFrame, &s);
}

// dbghelp, loaded at run time (the system's own library under Wine).
struct DbgHelp {
  using SymInitializeFn = BOOL(WINAPI*)(HANDLE, PCSTR, BOOL);
  using StackWalkFn = BOOL(WINAPI*)(DWORD, HANDLE, HANDLE, void*, void*, void*, void*, void*, void*);
  using SymFromAddrFn = BOOL(WINAPI*)(HANDLE, DWORD64, DWORD64*, void*);
  using SymGetLineFn = BOOL(WINAPI*)(HANDLE, DWORD64, DWORD*, void*);
  HMODULE module = LoadLibraryA("dbghelp.dll");
  SymInitializeFn init = Get<SymInitializeFn>("SymInitialize");
  StackWalkFn walk = Get<StackWalkFn>("StackWalk64");
  SymFromAddrFn fromAddr = Get<SymFromAddrFn>("SymFromAddr");
  SymGetLineFn line = Get<SymGetLineFn>("SymGetLineFromAddr64");
  void* tableAccess = Get<void*>("SymFunctionTableAccess64");
  void* moduleBase = Get<void*>("SymGetModuleBase64");
  bool ready = false;
  template <class F>
  F Get(const char* name) {
    return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
  }
};
DbgHelp& Dbg() {
  static DbgHelp d;
  return d;
}

void DbgHelpWalk(const CONTEXT& start) {
  DbgHelp& d = Dbg();
  if (!d.init || !d.walk) return;
  if (!d.ready) d.ready = d.init(GetCurrentProcess(), nullptr, TRUE);
  // STACKFRAME64 and SYMBOL_INFO as the system defines them.
  struct Address64 {
    DWORD64 offset;
    WORD segment;
    DWORD mode;
  };
  struct StackFrame64 {
    Address64 pc, ret, frame, stack, bstore;
    void* functionTable;
    DWORD64 params[4];
    BOOL isFar, isVirtual;
    DWORD64 reserved[3];
    uint8_t kdHelp[1024];
  } frame{};
  CONTEXT c = start;
  frame.pc = {c.Eip, 0, 3};
  frame.frame = {c.Ebp, 0, 3};
  frame.stack = {c.Esp, 0, 3};
  for (int i = 0; i < 256; ++i) {
    if (!d.walk(IMAGE_FILE_MACHINE_I386, GetCurrentProcess(), GetCurrentThread(), &frame, &c, nullptr,
                d.tableAccess, d.moduleBase, nullptr))
      break;
    DWORD64 pc = frame.pc.offset;
    if (!pc) break;
    DWORD64 lookup = i == 0 ? pc : pc - 1;
    alignas(8) uint8_t buffer[sizeof(ULONG) * 22 + 512] = {};
    ULONG* info = reinterpret_cast<ULONG*>(buffer);
    info[0] = 88;              // SizeOfStruct
    info[20] = 256;            // MaxNameLen
    DWORD64 displacement = 0;
    std::string name;
    if (d.fromAddr && d.fromAddr(GetCurrentProcess(), lookup, &displacement, buffer))
      name = reinterpret_cast<const char*>(buffer + 84);
    struct Line64 {
      DWORD size;
      void* key;
      DWORD number;
      char* file;
      DWORD64 address;
    } line{sizeof(Line64), nullptr, 0, nullptr, 0};
    DWORD lineDisplacement = 0;
    unsigned number = d.line && d.line(GetCurrentProcess(), lookup, &lineDisplacement, &line) ? line.number : 0;
    Print("dbghelp", i, static_cast<Address>(pc), i == 0 ? 't' : 'r', number, name);
  }
}

bool g_bench = false;

double Microseconds(const LARGE_INTEGER& a, const LARGE_INTEGER& b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return double(b.QuadPart - a.QuadPart) * 1e6 / double(f.QuadPart);
}

// Median time of `n` runs of f in microseconds; the output of the tools is discarded meanwhile.
template <class F>
double Median(int n, F&& f) {
  std::vector<double> t;
  for (int i = 0; i < n; ++i) {
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    f();
    QueryPerformanceCounter(&b);
    t.push_back(Microseconds(a, b));
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

// Times of one trace of this thread: our walker cold (a new walker, every routine analysed again) and warm
// (the process's lists reused, as for every trace after the first), and each peer.
void Bench(const CONTEXT& c) {
  g_silent = true;
  double cold = Median(7, [&] { Ours(c, false); });
  rvx::TDATryRead snapshot = rvx::TakeReadSnapshot();
  rvx::ProcessReader reader(&snapshot);
  rvx::WalkerEnvironment env;
  env.memory = &reader;
  env.mainModule = A(GetModuleHandleA(nullptr));
  env.symbols = [](Address, const std::string&) -> std::shared_ptr<const rvx::TMapFile> { return g_symbols; };
  rvx::TStackWalker walker(env);
  rvx::TraceOptions o;
  o.stackBottom = c.Esp;
  o.stackTop = StackTopOfThisThread();
  o.ebp = c.Ebp;
  o.isException = o.externalException = true;
  o.currentAddress = c.Eip;
  walker.Trace(o);
  double warm = Median(21, [&] { walker.Trace(o); });
  double fp = Median(21, [&] { FramePointers(c); });
  double unwind = Median(21, [&] { Unwinder(2); });
  LARGE_INTEGER a, b;
  QueryPerformanceCounter(&a);
  DbgHelpWalk(c);  // the first walk starts dbghelp (SymInitialize)
  QueryPerformanceCounter(&b);
  double dbgFirst = Microseconds(a, b);
  double dbg = Median(21, [&] { DbgHelpWalk(c); });
  g_silent = false;
  std::printf("bench ours-cold-us %.0f\nbench ours-warm-us %.0f\nbench fpwalk-us %.1f\nbench unwind-us %.1f\n"
              "bench dbghelp-first-us %.0f\nbench dbghelp-us %.0f\n",
              cold, warm, fp, unwind, dbgFirst, dbg);
  std::fflush(stdout);
}

void MeasureAll(const CONTEXT& c, bool thrown, int unwindSkip) {
  if (g_bench) return Bench(c);
  Ours(c, thrown);
  FramePointers(c);
  Unwinder(unwindSkip);
  DbgHelpWalk(c);
  std::fflush(stdout);
}

// ---- capture ------------------------------------------------------------------------------------------

// Runs on the faulting thread's stack as if the faulting instruction had called it.
__attribute__((noinline)) void Probe() {
  MeasureAll(g_context, false, 1);
  std::longjmp(g_inWorker ? g_worker : g_main, 1);
}

LONG WINAPI OnFault(EXCEPTION_POINTERS* ep) {
  if (!g_armed || ep->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) return EXCEPTION_CONTINUE_SEARCH;
  g_armed = false;
  g_context = *ep->ContextRecord;
  g_inWorker = GetCurrentThreadId() == g_workerThread;
  CONTEXT* c = ep->ContextRecord;
  c->Esp -= 4;
  *reinterpret_cast<DWORD*>(c->Esp) = c->Eip + 1;
  c->Eip = A(reinterpret_cast<void*>(&Probe));
  return EXCEPTION_CONTINUE_EXECUTION;
}

LRESULT CALLBACK Quiet(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

}  // namespace

void* CorpusWindow(void* windowProc) {
  static int n = 0;
  std::string cls = "CorpusWindow" + std::to_string(++n);
  WNDCLASSA wc{};
  wc.lpfnWndProc = reinterpret_cast<WNDPROC>(windowProc ? windowProc : reinterpret_cast<void*>(&Quiet));
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = cls.c_str();
  RegisterClassA(&wc);
  return CreateWindowExA(0, cls.c_str(), "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

__attribute__((noinline)) void* CreateWorker(unsigned long(__stdcall* start)(void*)) {
  g_creator = A(__builtin_return_address(0));
  DWORD id = 0;
  HANDLE h = CreateThread(nullptr, 0, start, nullptr, CREATE_SUSPENDED, &id);
  g_workerThread = id;
  ResumeThread(h);
  return h;
}

std::jmp_buf& WorkerJump() { return g_worker; }

}  // namespace corpus

// The throw routine, wrapped by the linker: a throw of the corpus is measured at its call site.
extern "C" [[noreturn]] void __real___cxa_throw(void*, std::type_info*, void (*)(void*));
extern "C" [[noreturn]] __attribute__((noinline)) void __wrap___cxa_throw(void* object, std::type_info* type,
                                                                          void (*destroy)(void*)) {
  using namespace corpus;
  if (g_armed) {
    g_armed = false;
    auto* frame = static_cast<uint32_t*>(__builtin_frame_address(0));
    CONTEXT c{};
    c.Eip = A(__builtin_return_address(0));
    c.Ebp = frame[0];
    c.Esp = A(frame + 2);
    g_inWorker = false;
    MeasureAll(c, true, 1);
    std::longjmp(g_main, 1);
  }
  __real___cxa_throw(object, type, destroy);
}

int main(int argc, char** argv) {
  using namespace corpus;
  g_symbols = OwnSymbolTable();
  AddVectoredExceptionHandler(1, OnFault);
  std::string only = argc > 1 ? argv[1] : "";
  if (only == "bench") {
    g_bench = true;
    only = "direct";
  }
  for (const Expected& e : Scenarios()) {
    if (!only.empty() && only != e.name) continue;
    g_current = &e;
    std::string names;
    for (const char* r : e.routines) names += std::string(names.empty() ? "" : ",") + r;
    std::printf("expect %s %s\n", e.name, names.c_str());
    std::fflush(stdout);
    g_armed = true;
    if (!setjmp(g_main)) Root(e.scenario);
    g_armed = false;
  }
  std::printf("done\n");
  return 0;
}
