// The process's stack walker on Windows: the running process as its memory (read through a snapshot of the
// readable regions taken for each trace), the program as main module, the system's raise routine, and the
// symbol data source.
//
// Runtime routines the walker knows by role, as our runtime (C++ built with MinGW-w64, DWARF unwinding)
// provides them:
// - the routine that runs cleanup blocks and leaves a return address on the stack: none. The unwinder enters
//   landing pads by a jump and a cleanup ends in _Unwind_Resume, which never returns, so finallyReturn is 0.
// - the raise routines whose call site is the real location of a raised exception: the throw routine
//   (__cxa_throw and the crash reporter's wrapper of it), __cxa_rethrow, std::rethrow_exception, the
//   system's RaiseException, the unwinder's _Unwind_RaiseException, and the framework's raise helpers, whose
//   names end in "Error" (DatabaseError); recognised by name through the symbol data or the exports, and by
//   address for the ones registered with AddRaiseRoutine.
// - the exception handler helpers of the function analysis (any-, on-, auto-exception, finally, halt): none
//   in our runtime; their addresses stay 0, and the analysis finds handler code through the landing pads of
//   the unwind information instead.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "crash/stack/map_file.h"
#include "crash/stack/safe_read.h"
#include "crash/stack/stack_trace.h"

namespace rvx {
namespace {

std::atomic<SymbolSource> g_symbolSource{nullptr};
std::vector<Address> g_extraRaise;
std::mutex g_raiseMutex;

// The running process read through the snapshot of the current trace.
class TraceReader : public ProcessReader {
 public:
  TraceReader() : ProcessReader(&snapshot_) {}
  void Refresh() { snapshot_ = TakeReadSnapshot(); }
  void Drop() { FreeReadSnapshot(snapshot_); }

 private:
  TDATryRead snapshot_;
};

TraceReader& Reader() {
  static TraceReader* reader = new TraceReader;  // lives until the end of the process
  return *reader;
}

// The symbol data of a module: the replaced source of a test, else the process-wide cache of the reader.
std::shared_ptr<const TMapFile> SymbolsOf(Address base, const std::string& fileName) {
  if (SymbolSource source = g_symbolSource.load()) return source(base, fileName);
  auto map = SymbolDataFor(base);
  return map && map->valid ? map : nullptr;
}

Address StackBaseOfThisThread() {
  NT_TIB* tib = reinterpret_cast<NT_TIB*>(NtCurrentTeb());
  return static_cast<Address>(reinterpret_cast<uintptr_t>(tib->StackBase));
}

// Prepares the walker for one call from the report thread: a fresh snapshot and the defaults of this thread.
struct TraceScope {
  explicit TraceScope(Address callerReturn) {
    WalkerEnvironment& env = ProcessStackWalker().Environment();
    Reader().Refresh();
    env.callerReturnAddress = callerReturn;
    env.stackBase = StackBaseOfThisThread();
    volatile uint32_t here = 0;
    env.stackPointer = static_cast<Address>(reinterpret_cast<uintptr_t>(&here));
    std::lock_guard<std::mutex> g(g_raiseMutex);
    env.raiseRoutines = g_extraRaise;
  }
  ~TraceScope() { Reader().Drop(); }
};

}  // namespace

void SetSymbolSource(SymbolSource source) { g_symbolSource.store(source); }

void AddRaiseRoutine(Address entry) {
  std::lock_guard<std::mutex> g(g_raiseMutex);
  if (entry && std::find(g_extraRaise.begin(), g_extraRaise.end(), entry) == g_extraRaise.end())
    g_extraRaise.push_back(entry);
}

TStackWalker& ProcessStackWalker() {
  static TStackWalker* walker = [] {
    WalkerEnvironment env;
    env.memory = &Reader();
    env.symbols = SymbolsOf;
    env.mainModule = static_cast<Address>(reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr)));
    if (HMODULE k = GetModuleHandleA("kernel32.dll"))
      if (FARPROC raise = GetProcAddress(k, "RaiseException"))
        AddRaiseRoutine(static_cast<Address>(reinterpret_cast<uintptr_t>(raise)));
    return new TStackWalker(std::move(env));
  }();
  return *walker;
}

__attribute__((noinline)) TraceResult TraceStack(const TraceOptions& options) {
  // Completion threads of two reports may trace at the same time: one trace at a time uses the lists.
  static std::mutex one;
  std::lock_guard<std::mutex> g(one);
  TraceScope scope(static_cast<Address>(reinterpret_cast<uintptr_t>(__builtin_return_address(0))));
  return ProcessStackWalker().Trace(options);
}

__attribute__((noinline)) int CollectStackCandidates(Address ebp, Address stackTop, Address stackBottom,
                                                     TDAPreStackItem& out, bool isException, Address currentAddress) {
  // Runs in the handling thread while another report may be traced: a snapshot and a walker of its own
  // (the cheap collection needs no module or function lists).
  TDATryRead snapshot = TakeReadSnapshot();
  ProcessReader reader(&snapshot);
  WalkerEnvironment env;
  env.memory = &reader;
  env.stackBase = StackBaseOfThisThread();
  volatile uint32_t here = 0;
  env.stackPointer = static_cast<Address>(reinterpret_cast<uintptr_t>(&here));
  TStackWalker walker(std::move(env));
  return walker.CollectCandidates(ebp, stackTop, stackBottom, out, isException, currentAddress);
}

std::string StackLineText(Address address, bool showRelAddrs, bool showRelLines) {
  // A single lookup reads code through the safe reader without a snapshot.
  static ProcessReader* plain = new ProcessReader;
  static TStackWalker* lookups = [] {
    WalkerEnvironment env;
    env.memory = plain;
    env.symbols = SymbolsOf;
    env.mainModule = static_cast<Address>(reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr)));
    return new TStackWalker(std::move(env));
  }();
  static std::mutex m;
  std::lock_guard<std::mutex> g(m);
  return lookups->LineText(address, showRelAddrs, showRelLines);
}

}  // namespace rvx
